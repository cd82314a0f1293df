// PowerPoint 97-2003 binary presentations to text: the extractor entry and its worker, which
// reads the two streams of the compound file and hands them to the record reader. Files of
// PowerPoint 4.0 and older are recognised and refused.
#include "wordppt/KvPptCvt.h"

#include "platform/CodePage.h"
#include "storage/TDocFile_U1.h"
#include "wordppt/KvPptReader.h"

#include <limits>
#include <memory>
#include <vector>

namespace scv::wordppt {

std::int32_t PptWorker(const std::u16string& fileName, std::u16string& text) {
  const std::int32_t check = storage::CheckStorageFile(fileName);
  if (check != 0) {
    return check;
  }
  const auto storageFile = storage::OpenStorageFile(fileName, storage::kStgmReadShareExclusive);
  if (!storageFile || !storageFile->LastError().empty()) {
    return kResultOpenError;
  }
  // PowerPoint 4.0 and older keep their slides in a "PP40" stream of a layout of their own, and
  // have no "PowerPoint Document": such a file is not in this format, and saying so lets bulk
  // runs learn which files gave no text, where an empty success would hide them.
  const auto documentStream =
      storageFile->OpenStream(u"PowerPoint Document", storage::kStgmReadShareExclusive);
  if (!documentStream || storageFile->OpenStream(u"PP40", storage::kStgmReadShareExclusive)) {
    return kResultBadFormat;
  }
  const auto currentUserStream =
      storageFile->OpenStream(u"Current User", storage::kStgmReadShareExclusive);
  if (!currentUserStream) {
    return 0; // no "Current User": no text
  }
  const std::vector<std::uint8_t> currentUser = currentUserStream->ReadAll();
  const TCurrentUser cu = CheckCurrentUser(currentUser);
  if (!cu.proceed) {
    return cu.result;
  }
  const std::vector<std::uint8_t> document = documentStream->ReadAll();
  TPptReader reader(document);
  return reader.Extract(cu.offsetToCurrentEdit, text);
}

std::string EncodePptText(std::u16string_view text, std::int32_t codePage) {
  // Vertical tabs (line breaks inside a paragraph) and other control characters pass through.
  const std::u16string adjusted = AdjustLineEndsW(text, kLineEndCrLf);
  if (codePage == platform::kCpUtf8) {
    std::string out = "\xEF\xBB\xBF";
    out += platform::WideToUtf8(adjusted);
    out.push_back('\0');
    return out;
  }
  if (codePage == platform::kCpUtf16Le) {
    std::string out;
    out.reserve(2 + 2 * adjusted.size());
    out += "\xFF\xFE";
    for (const char16_t u : adjusted) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    }
    return out;
  }
  // Code page 0 is the system's default ANSI page, which ToCodePage resolves; 1252 takes the
  // same road as every other page.
  return ToCodePage(codePage, adjusted);
}

std::int32_t PptToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                       TConversionResult& result, std::int32_t codePage) {
  std::u16string text;
  try {
    const std::int32_t r = PptWorker(fileName, text);
    if (r < 0) {
      return r;
    }
    const std::string bytes = EncodePptText(text, codePage);
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      return kResultBadFormat; // the byte count must fit the result value
    }
    return AppendToResult(bytes, result);
  } catch (...) {
    return kResultBadFormat;
  }
}

} // namespace scv::wordppt
