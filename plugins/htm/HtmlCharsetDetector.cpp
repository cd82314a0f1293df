// Guessing the legacy encoding of an HTML document that declares none, with libuchardet.
#include "HtmlCharsetDetector.h"

#include "HtmlEncoding.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <memory>
#include <uchardet/uchardet.h>

namespace scv::htm {
namespace {

struct TDetectorName {
  std::string_view name;
  std::int32_t codePage;
};

// Names the detector reports that are no encoding labels of the web. Its other names
// (WINDOWS-125x, ISO-8859-n, KOI8-R, IBM866, TIS-620, SHIFT_JIS, EUC-JP, EUC-KR, GB18030,
// BIG5, ...) are labels and resolve through CodePageFromLabel.
constexpr std::array kDetectorNames = {
    TDetectorName{"ibm855", 855},
    TDetectorName{"uhc", 949},
    TDetectorName{"cp949", 949},
};

constexpr std::int32_t kIso8859_3 = 28593;

struct TDetectorDeleter {
  void operator()(uchardet* detector) const { uchardet_delete(detector); }
};

// Bytes of the document the detector reads at most, and the size of its pieces.
constexpr std::size_t kSampleBudget = std::size_t{64} << 10;
constexpr std::size_t kPieceSize = 2048;
// How far a piece may run past its size looking for a place to end.
constexpr std::size_t kPieceSlack = 512;

// The end of the piece that starts at pos: before the first byte below 0x30 at or after
// kPieceSize bytes, else after kPieceSize + kPieceSlack bytes, else at the end.
std::size_t PieceEnd(std::string_view bytes, std::size_t pos) {
  const std::size_t n = bytes.size();
  if (n - pos <= kPieceSize) {
    return n;
  }
  const std::size_t limit =
      n - pos - kPieceSize <= kPieceSlack ? n : pos + kPieceSize + kPieceSlack;
  for (std::size_t i = pos + kPieceSize; i < limit; ++i) {
    if (static_cast<unsigned char>(bytes[i]) < 0x30) {
      return i;
    }
  }
  return limit;
}

bool HasNonAscii(std::string_view piece) {
  return std::any_of(piece.begin(), piece.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

} // namespace

std::int32_t CodePageFromDetectorName(std::string_view name) {
  if (const std::int32_t cp = CodePageFromLabel(name); cp != 0) {
    return cp;
  }
  std::string key(name);
  for (char& c : key) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  for (const TDetectorName& d : kDetectorNames) {
    if (d.name == key) {
      return d.codePage;
    }
  }
  return 0;
}

std::int32_t GuessCodePage(std::string_view bytes) {
  const std::unique_ptr<uchardet, TDetectorDeleter> detector(uchardet_new());
  if (!detector || bytes.empty()) {
    return 0;
  }
  // The detector costs about a thousand instructions per byte, and a few kilobytes of text
  // settle its answer. It reads pieces of the document that hold non-ASCII bytes, up to a
  // budget; pieces of plain ASCII (markup, scripts) tell nothing and are passed over. A piece
  // ends before a byte below 0x30, which is no trail byte of any multi-byte encoding, so the
  // pieces hold whole characters.
  std::size_t fed = 0;
  std::size_t pos = 0;
  while (pos < bytes.size() && fed < kSampleBudget) {
    const std::size_t end = PieceEnd(bytes, pos);
    const std::string_view piece = bytes.substr(pos, end - pos);
    pos = end;
    if (!HasNonAscii(piece)) {
      continue;
    }
    if (uchardet_handle_data(detector.get(), piece.data(), piece.size()) != 0) {
      return 0; // the detector ran out of memory
    }
    fed += piece.size();
  }
  uchardet_data_end(detector.get());
  const char* name = uchardet_get_charset(detector.get());
  if (name == nullptr) {
    return 0;
  }
  const std::int32_t cp = CodePageFromDetectorName(name);
  // A guess of UTF-16 cannot be right here: such text was recognised by its zero bytes before
  // the detector is asked. ISO-8859-3 (Maltese, Esperanto) is next to absent from legacy
  // pages, yet the detector names it for short Western text ("Søren met us at ½ price"), and
  // it turns the ø of windows-1252 into ĝ; windows-1252 reads those pages right.
  if (cp == 0 || cp == 1200 || cp == 1201 || cp == kIso8859_3 || !platform::IsCodePageUsable(cp)) {
    return 0;
  }
  return cp;
}

} // namespace scv::htm
