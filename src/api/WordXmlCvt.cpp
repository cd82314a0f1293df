// Word 2003 XML documents under a .doc name: the prolog check that recognises them, and their
// conversion through the word-processing walker, whose element names (w:p, w:r, w:t, w:tab,
// w:br) are the same as in a DOCX document part.
#include "api/WordXmlCvt.h"

#include "cvtbase/ResultCodes.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "xml/XMLTree.h"

#include <limits>
#include <vector>

namespace scv::api {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kDocumentElement = "w:wordDocument";

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::size_t SkipSpace(std::string_view text, std::size_t i) {
  while (i < text.size() && IsXmlSpace(text[i])) {
    ++i;
  }
  return i;
}

// The end of the markup item at i ("<?...?>", "<!--...-->", "<!...>" with an optional internal
// subset in brackets), or npos when it does not end within the text.
std::size_t SkipPrologItem(std::string_view text, std::size_t i) {
  const std::string_view rest = text.substr(i);
  std::size_t end = std::string_view::npos;
  if (rest.starts_with("<?")) {
    end = text.find("?>", i + 2);
    return end == std::string_view::npos ? end : end + 2;
  }
  if (rest.starts_with("<!--")) {
    end = text.find("-->", i + 4);
    return end == std::string_view::npos ? end : end + 3;
  }
  const std::size_t stop = text.find_first_of("[>", i + 2);
  if (stop != std::string_view::npos && text[stop] == '[') {
    const std::size_t close = text.find(']', stop);
    end = close == std::string_view::npos ? close : text.find('>', close);
  } else {
    end = stop;
  }
  return end == std::string_view::npos ? end : end + 1;
}

} // namespace

bool IsWordXmlDocument(std::string_view head) {
  if (head.starts_with(kUtf8Bom)) {
    head.remove_prefix(kUtf8Bom.size());
  }
  std::size_t i = SkipSpace(head, 0);
  if (!head.substr(i).starts_with("<?xml")) {
    return false;
  }
  // Each step moves past one whole prolog item, so the scan ends within the text.
  while (i < head.size()) {
    if (head[i] != '<' || i + 1 >= head.size()) {
      return false; // text that is not white space before the document element
    }
    if (head[i + 1] == '?' || head[i + 1] == '!') {
      i = SkipPrologItem(head, i);
      if (i == std::string_view::npos) {
        return false;
      }
      i = SkipSpace(head, i);
      continue;
    }
    const std::string_view name = head.substr(i + 1, kDocumentElement.size());
    const std::size_t after = i + 1 + kDocumentElement.size();
    return name == kDocumentElement && after < head.size() &&
           (IsXmlSpace(head[after]) || head[after] == '>' || head[after] == '/');
  }
  return false;
}

bool IsWordXmlFile(const std::u16string& fileName) {
  platform::TFile file;
  if (!file.OpenRead(fileName)) {
    return false;
  }
  std::vector<std::uint8_t> head(kWordXmlHeadSize);
  const std::int64_t n = file.ReadAt(0, head);
  if (n <= 0) {
    return false;
  }
  return IsWordXmlDocument(
      std::string_view(reinterpret_cast<const char*>(head.data()), static_cast<std::size_t>(n)));
}

std::int32_t WordXmlToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t codePage) {
  try {
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadWholeFile(fileName, bytes)) {
      return kResultOpenError;
    }
    std::string_view markup(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (markup.starts_with(kUtf8Bom)) {
      markup.remove_prefix(kUtf8Bom.size());
    }
    std::string text;
    {
      xml::TXMLTree tree;
      text = ooxml::WordXmlText(markup, tree);
    }
    std::vector<std::uint8_t>().swap(bytes);
    std::string adjusted = AdjustLineEnds(text, kLineEndCrLf);
    std::string().swap(text);
    std::string output;
    if (codePage == platform::kCpUtf8) {
      output.reserve(kUtf8Bom.size() + adjusted.size());
      output.append(kUtf8Bom).append(adjusted);
    } else if (!ooxml::EncodeOfficeXText(adjusted, codePage, output)) {
      return kResultBadUtf8;
    }
    if (output.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - 1) {
      return kResultBadFormat;
    }
    return AppendToResult(output, result);
  } catch (...) {
    // Markup the walker cannot read, text beyond the extractor's limit, memory exhaustion.
    return kResultBadFormat;
  }
}

} // namespace scv::api
