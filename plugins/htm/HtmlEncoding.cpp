// Finding and decoding the character encoding of an HTML document.
#include "HtmlEncoding.h"

#include "HtmlCharsetDetector.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace scv::htm {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string LowerTrimmed(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && IsSpace(s.back())) {
    s.remove_suffix(1);
  }
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

struct TLabel {
  std::string_view label;
  std::int32_t codePage;
};

// Encoding labels as browsers resolve them, to the Windows code page with the same bytes.
constexpr std::array kLabels = {
    TLabel{"utf-8", 65001},
    TLabel{"utf8", 65001},
    TLabel{"unicode-1-1-utf-8", 65001},
    TLabel{"x-unicode20utf8", 65001},
    TLabel{"utf-16", 1200},
    TLabel{"utf-16le", 1200},
    TLabel{"unicode", 1200},
    TLabel{"ucs-2", 1200},
    TLabel{"utf-16be", 1201},
    TLabel{"unicodefffe", 1201},
    // Latin-1 and ASCII labels mean windows-1252 on the web.
    TLabel{"windows-1252", 1252},
    TLabel{"x-cp1252", 1252},
    TLabel{"cp1252", 1252},
    TLabel{"iso-8859-1", 1252},
    TLabel{"iso8859-1", 1252},
    TLabel{"iso_8859-1", 1252},
    TLabel{"iso88591", 1252},
    TLabel{"latin1", 1252},
    TLabel{"l1", 1252},
    TLabel{"cp819", 1252},
    TLabel{"ibm819", 1252},
    TLabel{"csisolatin1", 1252},
    TLabel{"iso-ir-100", 1252},
    TLabel{"us-ascii", 1252},
    TLabel{"ascii", 1252},
    TLabel{"ansi_x3.4-1968", 1252},
    TLabel{"iso_8859-1:1987", 1252},
    TLabel{"windows-1250", 1250},
    TLabel{"cp1250", 1250},
    TLabel{"x-cp1250", 1250},
    TLabel{"windows-1251", 1251},
    TLabel{"cp1251", 1251},
    TLabel{"x-cp1251", 1251},
    TLabel{"windows-1253", 1253},
    TLabel{"cp1253", 1253},
    TLabel{"x-cp1253", 1253},
    TLabel{"windows-1254", 1254},
    TLabel{"cp1254", 1254},
    TLabel{"x-cp1254", 1254},
    TLabel{"iso-8859-9", 1254},
    TLabel{"iso8859-9", 1254},
    TLabel{"latin5", 1254},
    TLabel{"windows-1255", 1255},
    TLabel{"cp1255", 1255},
    TLabel{"x-cp1255", 1255},
    TLabel{"windows-1256", 1256},
    TLabel{"cp1256", 1256},
    TLabel{"x-cp1256", 1256},
    TLabel{"windows-1257", 1257},
    TLabel{"cp1257", 1257},
    TLabel{"x-cp1257", 1257},
    TLabel{"windows-1258", 1258},
    TLabel{"cp1258", 1258},
    TLabel{"x-cp1258", 1258},
    TLabel{"windows-874", 874},
    TLabel{"tis-620", 874},
    TLabel{"iso-8859-11", 874},
    TLabel{"dos-874", 874},
    TLabel{"iso-8859-2", 28592},
    TLabel{"iso8859-2", 28592},
    TLabel{"latin2", 28592},
    TLabel{"iso-8859-3", 28593},
    TLabel{"latin3", 28593},
    TLabel{"iso-8859-4", 28594},
    TLabel{"latin4", 28594},
    TLabel{"iso-8859-5", 28595},
    TLabel{"iso8859-5", 28595},
    TLabel{"cyrillic", 28595},
    TLabel{"iso-8859-6", 28596},
    TLabel{"arabic", 28596},
    TLabel{"iso-8859-7", 28597},
    TLabel{"greek", 28597},
    TLabel{"iso-8859-8", 28598},
    TLabel{"iso-8859-8-i", 28598},
    TLabel{"hebrew", 28598},
    TLabel{"visual", 28598},
    TLabel{"iso-8859-13", 28603},
    TLabel{"iso-8859-15", 28605},
    TLabel{"latin9", 28605},
    TLabel{"iso8859-15", 28605},
    TLabel{"koi8-r", 20866},
    TLabel{"koi8", 20866},
    TLabel{"koi", 20866},
    TLabel{"cskoi8r", 20866},
    TLabel{"koi8-u", 21866},
    TLabel{"koi8-ru", 21866},
    TLabel{"ibm866", 866},
    TLabel{"cp866", 866},
    TLabel{"866", 866},
    TLabel{"macintosh", 10000},
    TLabel{"mac", 10000},
    TLabel{"x-mac-roman", 10000},
    TLabel{"shift_jis", 932},
    TLabel{"shift-jis", 932},
    TLabel{"sjis", 932},
    TLabel{"x-sjis", 932},
    TLabel{"ms_kanji", 932},
    TLabel{"windows-31j", 932},
    TLabel{"csshiftjis", 932},
    TLabel{"ms932", 932},
    TLabel{"cp932", 932},
    TLabel{"euc-jp", 20932},
    TLabel{"x-euc-jp", 20932},
    TLabel{"cseucpkdfmtjapanese", 20932},
    TLabel{"iso-2022-jp", 50220},
    TLabel{"csiso2022jp", 50220},
    TLabel{"gb2312", 936},
    TLabel{"gbk", 936},
    TLabel{"x-gbk", 936},
    TLabel{"cp936", 936},
    TLabel{"chinese", 936},
    TLabel{"csgb2312", 936},
    TLabel{"gb_2312-80", 936},
    TLabel{"gb_2312", 936},
    TLabel{"iso-ir-58", 936},
    TLabel{"gb18030", 54936},
    TLabel{"big5", 950},
    TLabel{"big5-hkscs", 950},
    TLabel{"cn-big5", 950},
    TLabel{"x-x-big5", 950},
    TLabel{"csbig5", 950},
    TLabel{"euc-kr", 949},
    TLabel{"korean", 949},
    TLabel{"ks_c_5601-1987", 949},
    TLabel{"ks_c_5601-1989", 949},
    TLabel{"ksc5601", 949},
    TLabel{"ksc_5601", 949},
    TLabel{"windows-949", 949},
    TLabel{"cseuckr", 949},
    TLabel{"iso-ir-149", 949},
};

bool StartsWithNoCase(std::string_view s, std::size_t pos, std::string_view prefix) {
  if (pos > s.size() || prefix.size() > s.size() - pos) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(s[pos + i]) != prefix[i]) {
      return false;
    }
  }
  return true;
}

// Reads one attribute of a tag at pos (advanced past it). False at the end of the tag.
bool NextAttribute(std::string_view s, std::size_t& pos, std::string& name, std::string& value) {
  while (pos < s.size() && (IsSpace(s[pos]) || s[pos] == '/')) {
    ++pos;
  }
  if (pos >= s.size() || s[pos] == '>') {
    return false;
  }
  name.clear();
  value.clear();
  while (pos < s.size() && !IsSpace(s[pos]) && s[pos] != '=' && s[pos] != '>' &&
         (s[pos] != '/' || name.empty())) {
    name.push_back(Lower(s[pos++]));
  }
  while (pos < s.size() && IsSpace(s[pos])) {
    ++pos;
  }
  if (pos >= s.size() || s[pos] != '=') {
    return true;
  }
  ++pos;
  while (pos < s.size() && IsSpace(s[pos])) {
    ++pos;
  }
  if (pos < s.size() && (s[pos] == '"' || s[pos] == '\'')) {
    const char quote = s[pos++];
    const std::size_t end = s.find(quote, pos);
    const std::size_t stop = end == std::string_view::npos ? s.size() : end;
    value.assign(s.substr(pos, stop - pos));
    pos = stop == s.size() ? stop : stop + 1;
    return true;
  }
  while (pos < s.size() && !IsSpace(s[pos]) && s[pos] != '>') {
    value.push_back(s[pos++]);
  }
  return true;
}

// The charset named in a content-type value: text/html; charset=utf-8.
std::string CharsetFromContent(std::string_view content) {
  std::size_t pos = 0;
  for (;;) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = pos; i + 7 <= content.size(); ++i) {
      if (StartsWithNoCase(content, i, "charset")) {
        found = i;
        break;
      }
    }
    if (found == std::string_view::npos) {
      return {};
    }
    pos = found + 7;
    while (pos < content.size() && IsSpace(content[pos])) {
      ++pos;
    }
    if (pos < content.size() && content[pos] == '=') {
      break;
    }
  }
  ++pos;
  while (pos < content.size() && IsSpace(content[pos])) {
    ++pos;
  }
  if (pos < content.size() && (content[pos] == '"' || content[pos] == '\'')) {
    const char quote = content[pos++];
    const std::size_t end = content.find(quote, pos);
    if (end == std::string_view::npos) {
      return {};
    }
    return std::string(content.substr(pos, end - pos));
  }
  std::size_t end = pos;
  while (end < content.size() && !IsSpace(content[end]) && content[end] != ';') {
    ++end;
  }
  return std::string(content.substr(pos, end - pos));
}

// UTF-8 output with the characters the HTML parser rejects filtered out.
void AppendCodePoint(std::string& out, char32_t c) {
  if (c < 0x20) {
    if (c == '\t' || c == '\n' || c == '\r') {
      out.push_back(static_cast<char>(c));
    } else if (c == '\f') {
      out.push_back(' '); // whitespace in HTML, but not a character the parser takes
    }
    return;
  }
  if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF) {
    c = 0xFFFD;
  }
  platform::AppendUtf8(out, c);
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is ill-formed; for an
// ill-formed one, bad receives the length of its maximal ill-formed prefix (at least 1).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i, char32_t& c, std::size_t& bad) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    c = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    c = b0 & 0x0Fu;
    lo = b0 == 0xE0 ? 0xA0 : 0x80;
    hi = b0 == 0xED ? 0x9F : 0xBF;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    c = b0 & 0x07u;
    lo = b0 == 0xF0 ? 0x90 : 0x80;
    hi = b0 == 0xF4 ? 0x8F : 0xBF;
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) {
      bad = k;
      return 0;
    }
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) {
      bad = k;
      return 0;
    }
    c = c << 6 | (b & 0x3Fu);
  }
  return need + 1;
}

std::string DecodeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    // Runs of plain printable ASCII are copied in one go.
    std::size_t j = i;
    while (j < n && static_cast<unsigned char>(s[j]) >= 0x20 &&
           static_cast<unsigned char>(s[j]) < 0x80) {
      ++j;
    }
    out.append(s.data() + i, j - i);
    i = j;
    if (i >= n) {
      break;
    }
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      AppendCodePoint(out, b);
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t bad = 0;
    const std::size_t len = Utf8SequenceAt(s, i, c, bad);
    if (len == 0) {
      AppendCodePoint(out, 0xFFFD);
      i += bad;
      continue;
    }
    AppendCodePoint(out, c);
    i += len;
  }
  return out;
}

std::string DecodeUtf16(std::string_view s, bool bigEndian) {
  std::string out;
  out.reserve(s.size());
  const std::size_t units = s.size() / 2;
  auto unitAt = [&](std::size_t k) -> char32_t {
    const auto a = static_cast<unsigned char>(s[2 * k]);
    const auto b = static_cast<unsigned char>(s[2 * k + 1]);
    return bigEndian ? (char32_t{a} << 8 | b) : (char32_t{b} << 8 | a);
  };
  for (std::size_t k = 0; k < units; ++k) {
    char32_t c = unitAt(k);
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units) {
      const char32_t low = unitAt(k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++k;
      }
    }
    AppendCodePoint(out, c); // an unpaired surrogate becomes U+FFFD there
  }
  if (s.size() % 2 != 0) {
    AppendCodePoint(out, 0xFFFD);
  }
  return out;
}

std::string DecodeUtf32(std::string_view s, bool bigEndian) {
  std::string out;
  out.reserve(s.size() / 2);
  for (std::size_t k = 0; k + 4 <= s.size(); k += 4) {
    char32_t c = 0;
    for (std::size_t m = 0; m < 4; ++m) {
      const auto b = static_cast<unsigned char>(s[k + (bigEndian ? m : 3 - m)]);
      c = c << 8 | b;
    }
    AppendCodePoint(out, c);
  }
  if (s.size() % 4 != 0) {
    AppendCodePoint(out, 0xFFFD);
  }
  return out;
}

std::string DecodeCodePage(std::string_view s, std::int32_t codePage) {
  const std::u16string wide = platform::MultiByteToWide(codePage, s);
  std::string out;
  out.reserve(wide.size() + wide.size() / 2);
  for (std::size_t k = 0; k < wide.size(); ++k) {
    char32_t c = wide[k];
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < wide.size() && wide[k + 1] >= 0xDC00 &&
        wide[k + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[k + 1] - 0xDC00u);
      ++k;
    }
    AppendCodePoint(out, c);
  }
  return out;
}

// What one pass over the bytes tells: whether any is beyond ASCII, whether they are
// well-formed UTF-8, and whether they hold a character DecodeToUtf8 would change (a control
// other than TAB, LF and CR, or the noncharacters U+FFFE/U+FFFF).
struct TScan {
  bool nonAscii = false;
  bool valid = true;
  bool clean = true;
};

#if defined(__SSE2__)
// The lanes of 16 bytes that need a look: bytes beyond ASCII, and controls other than TAB, LF
// and CR.
unsigned AsciiStops(std::string_view block) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data()));
  const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  const __m128i allowed = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
      _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
  // A lane's high bit: a byte beyond ASCII, or a control that is not allowed.
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(allowed, low), v)));
}
#endif

TScan ScanBytes(std::string_view s) {
  TScan scan;
  std::size_t i = 0;
  const std::size_t n = s.size();
#if !defined(__SSE2__)
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  constexpr std::uint64_t kSpaces = 0x2020202020202020ull;
#endif
  while (i < n) {
#if defined(__SSE2__)
    // Sixteen bytes at a time while they are ASCII with no control but TAB, LF and CR (the
    // line ends of a page); the first byte that is not goes to the checks below.
    while (n - i >= 16) {
      const unsigned stops = AsciiStops(s.substr(i, 16));
      if (stops != 0) {
        i += static_cast<std::size_t>(__builtin_ctz(stops));
        break;
      }
      i += 16;
    }
#else
    // Eight printable ASCII bytes at a time: no high bit, none below 0x20.
    while (i + 8 <= n) {
      std::uint64_t word = 0;
      std::memcpy(&word, s.data() + i, 8);
      if (((word | ((word | kHigh) - kSpaces)) & kHigh) != kHigh || (word & kHigh) != 0) {
        break;
      }
      i += 8;
    }
#endif
    if (i >= n) {
      break;
    }
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') {
        scan.clean = false;
      }
      ++i;
      continue;
    }
    scan.nonAscii = true;
    char32_t c = 0;
    std::size_t bad = 0;
    const std::size_t len = Utf8SequenceAt(s, i, c, bad);
    if (len == 0) {
      scan.valid = false;
      scan.clean = false;
      return scan;
    }
    if (c == 0xFFFE || c == 0xFFFF) {
      scan.clean = false;
    }
    i += len;
  }
  return scan;
}

} // namespace

std::int32_t CodePageFromLabel(std::string_view label) {
  const std::string key = LowerTrimmed(label);
  for (const TLabel& l : kLabels) {
    if (l.label == key) {
      return l.codePage;
    }
  }
  return 0;
}

std::string PrescanMetaCharset(std::string_view bytes) {
  constexpr std::size_t kPrescanLimit = 8192;
  const std::string_view s = bytes.substr(0, std::min(bytes.size(), kPrescanLimit));
  std::size_t pos = 0;
  std::string name;
  std::string value;
  while (pos < s.size()) {
    if (s[pos] != '<') {
      ++pos;
      continue;
    }
    if (s.compare(pos, 4, "<!--") == 0) {
      const std::size_t end = s.find("-->", pos + 4);
      pos = end == std::string_view::npos ? s.size() : end + 3;
      continue;
    }
    if (StartsWithNoCase(s, pos, "<meta") && pos + 5 < s.size() &&
        (IsSpace(s[pos + 5]) || s[pos + 5] == '/')) {
      pos += 5;
      bool gotPragma = false;
      bool needPragma = false;
      std::string charset;
      while (NextAttribute(s, pos, name, value)) {
        if (name == "http-equiv" && LowerTrimmed(value) == "content-type") {
          gotPragma = true;
        } else if (name == "content" && charset.empty()) {
          charset = CharsetFromContent(value);
          needPragma = !charset.empty();
        } else if (name == "charset") {
          charset = value;
          needPragma = false;
        }
      }
      if (!charset.empty() && (!needPragma || gotPragma) && CodePageFromLabel(charset) != 0) {
        return charset;
      }
      continue;
    }
    const bool endTag = pos + 1 < s.size() && s[pos + 1] == '/';
    const std::size_t letter = pos + (endTag ? 2 : 1);
    if (letter < s.size() &&
        ((s[letter] >= 'a' && s[letter] <= 'z') || (s[letter] >= 'A' && s[letter] <= 'Z'))) {
      // Skip the tag with its attributes, so a '>' or "<meta" inside a quoted value does not
      // count.
      pos = letter;
      while (pos < s.size() && !IsSpace(s[pos]) && s[pos] != '>') {
        ++pos;
      }
      while (NextAttribute(s, pos, name, value)) {
      }
      continue;
    }
    if (s.compare(pos, 2, "<!") == 0 || s.compare(pos, 2, "</") == 0 ||
        s.compare(pos, 2, "<?") == 0) {
      const std::size_t end = s.find('>', pos + 2);
      pos = end == std::string_view::npos ? s.size() : end + 1;
      continue;
    }
    ++pos;
  }
  return {};
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    // Eight ASCII bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + i, 8);
      if ((word & 0x8080808080808080ull) != 0) {
        break;
      }
      i += 8;
    }
    if (i >= n) {
      break;
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t bad = 0;
    const std::size_t len = Utf8SequenceAt(bytes, i, c, bad);
    if (len == 0) {
      return false;
    }
    i += len;
  }
  return true;
}

TEncoding DetectEncoding(std::string_view bytes) {
  auto at = [&](std::size_t k) {
    return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0x100u;
  };
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    return {TEncodingKind::kUtf8, 0, 3};
  }
  if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) {
    return {TEncodingKind::kUtf32Le, 0, 4};
  }
  if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) {
    return {TEncodingKind::kUtf32Be, 0, 4};
  }
  if (at(0) == 0xFF && at(1) == 0xFE) {
    return {TEncodingKind::kUtf16Le, 0, 2};
  }
  if (at(0) == 0xFE && at(1) == 0xFF) {
    return {TEncodingKind::kUtf16Be, 0, 2};
  }
  // No mark: a document starting with an ASCII character ('<' or whitespace, typically) shows
  // the width and order of its code units in the pattern of zero bytes.
  auto ascii = [](unsigned v) { return v > 0 && v < 0x80; };
  if (bytes.size() >= 4) {
    if (at(0) == 0 && at(1) == 0 && at(2) == 0 && ascii(at(3))) {
      return {TEncodingKind::kUtf32Be, 0, 0};
    }
    if (ascii(at(0)) && at(1) == 0 && at(2) == 0 && at(3) == 0) {
      return {TEncodingKind::kUtf32Le, 0, 0};
    }
    if (at(0) == 0 && ascii(at(1)) && at(2) == 0 && ascii(at(3))) {
      return {TEncodingKind::kUtf16Be, 0, 0};
    }
    if (ascii(at(0)) && at(1) == 0 && ascii(at(2)) && at(3) == 0) {
      return {TEncodingKind::kUtf16Le, 0, 0};
    }
  }
  // Text beyond ASCII that is well-formed UTF-8 is UTF-8, whatever a stale declaration says:
  // legacy encodings practically never form valid UTF-8 by accident, while pages converted
  // to UTF-8 that kept their old <meta> are common.
  const TScan scan = ScanBytes(bytes);
  if (scan.nonAscii && scan.valid) {
    return {TEncodingKind::kUtf8, 0, 0, scan.clean};
  }
  const std::string declared = PrescanMetaCharset(bytes);
  if (!declared.empty()) {
    const std::int32_t cp = CodePageFromLabel(declared);
    // A declaration readable as ASCII cannot be in UTF-16: such a page is really UTF-8.
    if (cp == 65001 || cp == 1200 || cp == 1201) {
      return {TEncodingKind::kUtf8, 0, 0, scan.valid && scan.clean};
    }
    if (platform::IsCodePageUsable(cp)) {
      return {TEncodingKind::kCodePage, cp, 0};
    }
  }
  if (scan.valid) {
    return {TEncodingKind::kUtf8, 0, 0, scan.clean};
  }
  // Legacy bytes and nothing that says which: the charset detector reads them, and only
  // these pages pay for it. Without a guess we can decode, windows-1252, as browsers fall
  // back in the West.
  const std::int32_t guessed = GuessCodePage(bytes);
  if (guessed == 65001) {
    return {TEncodingKind::kUtf8, 0, 0};
  }
  return {TEncodingKind::kCodePage, guessed != 0 ? guessed : 1252, 0};
}

std::string DecodeToUtf8(std::string_view bytes, const TEncoding& encoding) {
  bytes.remove_prefix(std::min(encoding.bomLength, bytes.size()));
  switch (encoding.kind) {
  case TEncodingKind::kUtf8:
    return DecodeUtf8(bytes);
  case TEncodingKind::kUtf16Le:
    return DecodeUtf16(bytes, false);
  case TEncodingKind::kUtf16Be:
    return DecodeUtf16(bytes, true);
  case TEncodingKind::kUtf32Le:
    return DecodeUtf32(bytes, false);
  case TEncodingKind::kUtf32Be:
    return DecodeUtf32(bytes, true);
  case TEncodingKind::kCodePage:
    return DecodeCodePage(bytes, encoding.codePage);
  }
  return {};
}

} // namespace scv::htm
