// Code page conversions: UTF-8 and UTF-16LE natively, single-byte pages from built-in tables,
// multi-byte pages through iconv.
#include "platform/CodePage.h"

#include "platform/LocaleInfo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace scv::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::uint16_t kUndefined = 0xFFFF;
constexpr std::int32_t kCpSymbol = 42;
constexpr std::int32_t kCpHz = 52936;
constexpr std::int32_t kCpMac = 10000;

struct TSingleBytePage {
  std::int32_t codePage;
  std::array<std::uint16_t, 128> upper;
};

constexpr TSingleBytePage kSingleBytePages[] = {
#include "platform/CodePageTables.inc"
};

const TSingleBytePage* FindSingleBytePage(std::int32_t codePage) {
  for (const auto& page : kSingleBytePages) {
    if (page.codePage == codePage) {
      return &page;
    }
  }
  return nullptr;
}

// Reverse table of one single-byte page: UTF-16 unit -> byte, 0 for "no mapping" (byte 0
// itself is U+0000, handled before the lookup). Built on first use.
const std::vector<std::uint8_t>& ReverseTable(const TSingleBytePage& page) {
  static std::mutex mutex;
  static std::map<std::int32_t, std::unique_ptr<std::vector<std::uint8_t>>> tables;
  std::lock_guard lock(mutex);
  auto& slot = tables[page.codePage];
  if (!slot) {
    slot = std::make_unique<std::vector<std::uint8_t>>(65536, 0);
    auto& table = *slot;
    for (unsigned b = 1; b < 0x80; ++b) {
      table[b] = static_cast<std::uint8_t>(b);
    }
    for (unsigned b = 0x80; b < 0x100; ++b) {
      const std::uint16_t u = page.upper[b - 0x80];
      if (u != kUndefined && table[u] == 0) {
        table[u] = static_cast<std::uint8_t>(b);
      }
    }
  }
  return *slot;
}

// iconv names of the pages served through the C library: the multi-byte pages, and the
// EBCDIC, DOS, Macintosh, ISO 646, ISO-2022 and UTF-7 pages Windows converts that have no
// built-in table. A page missing here, or whose converter the C library lacks, is not usable.
struct TIconvPage {
  std::int32_t codePage;
  const char* name;
};

constexpr TIconvPage kIconvPages[] = {
    // EBCDIC
    {37, "IBM037"},
    {500, "IBM500"},
    {870, "IBM870"},
    {875, "IBM875"},
    {1026, "IBM1026"},
    {1047, "IBM1047"},
    {1140, "IBM1140"},
    {1141, "IBM1141"},
    {1142, "IBM1142"},
    {1143, "IBM1143"},
    {1144, "IBM1144"},
    {1145, "IBM1145"},
    {1146, "IBM1146"},
    {1147, "IBM1147"},
    {1148, "IBM1148"},
    {1149, "IBM1149"},
    {20273, "IBM273"},
    {20277, "IBM277"},
    {20278, "IBM278"},
    {20280, "IBM280"},
    {20284, "IBM284"},
    {20285, "IBM285"},
    {20290, "IBM290"},
    {20297, "IBM297"},
    {20420, "IBM420"},
    {20423, "IBM423"},
    {20424, "IBM424"},
    {20871, "IBM871"},
    {20880, "IBM880"},
    {20905, "IBM905"},
    {21025, "IBM1025"},
    // DOS and Arabic
    {708, "ASMO-708"},
    {858, "IBM858"},
    {864, "IBM864"},
    // Macintosh
    {10007, "MAC-CYRILLIC"},
    {10017, "MAC-UK"},
    {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},
    // ISO 646 variants, T.61, ISO 6937, logical Hebrew
    {20106, "DIN_66003"},
    {20107, "SEN_850200_B"},
    {20108, "NS_4551-1"},
    {20261, "T.61-8BIT"},
    {20269, "ISO_6937"},
    {38598, "ISO-8859-8"},
    // Multi-byte
    {932, "CP932"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "CP950"},
    {1361, "JOHAB"},
    {20932, "EUC-JP"},
    {51932, "EUC-JP"},
    {20936, "GB2312"},
    {20949, "EUC-KR"},
    {51949, "EUC-KR"},
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"},
    {51936, "GBK"},
    {54936, "GB18030"},
    {65000, "UTF-7"},
};

const char* IconvName(std::int32_t codePage) {
  for (const TIconvPage& page : kIconvPages) {
    if (page.codePage == codePage) {
      return page.name;
    }
  }
  // HZ carries GB2312 characters in 7-bit pairs; the pairs themselves come from the C library.
  return codePage == kCpHz ? "GB2312" : nullptr;
}

// iconv_open's failure value: (iconv_t)-1 by the C library's convention.
iconv_t FailedIconv() {
  return reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr): iconv's failure value
}

bool IsValid(iconv_t cd) {
  return cd != FailedIconv();
}

// One iconv descriptor per (page, direction), opened once per process.
class TIconvCache {
public:
  iconv_t Get(std::int32_t codePage, bool toWide) {
    std::lock_guard lock(mutex_);
    const auto key = std::make_pair(codePage, toWide);
    auto it = handles_.find(key);
    if (it != handles_.end()) {
      return it->second;
    }
    iconv_t cd = FailedIconv();
    if (const char* name = IconvName(codePage)) {
      cd = toWide ? iconv_open("UTF-16LE", name) : iconv_open(name, "UTF-16LE");
    }
    handles_.emplace(key, cd);
    return cd;
  }
  ~TIconvCache() {
    for (auto& [key, cd] : handles_) {
      if (IsValid(cd)) {
        iconv_close(cd);
      }
    }
  }

private:
  std::mutex mutex_;
  std::map<std::pair<std::int32_t, bool>, iconv_t> handles_;
};

TIconvCache& Iconv() {
  static TIconvCache cache;
  return cache;
}

// The code page a request stands for: 0 and 3 are the ANSI page, 1 the OEM page, 2 the
// Macintosh page (Roman: the only one of the Macintosh pages of East Asian and other scripts
// the C library serves is Cyrillic, and no locale here names it).
std::int32_t Resolve(std::int32_t codePage) {
  switch (codePage) {
  case 0:
  case 3:
    return GetACP();
  case 1:
    return GetOEMCP();
  case 2:
    return kCpMac;
  default:
    return codePage;
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

std::u16string IconvToWide(iconv_t cd, std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const std::span<char> input(const_cast<char*>(bytes.data()), bytes.size());
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::array<char16_t, 4096> buf;
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(buf.data());
    std::size_t outLeft = sizeof buf;
    const std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    out.append(buf.data(), (sizeof buf - outLeft) / 2);
    if (r != static_cast<std::size_t>(-1)) {
      break;
    }
    if (err == E2BIG) {
      continue;
    }
    // An invalid or incomplete sequence: one replacement character per offending byte.
    out.push_back(kReplacement);
    if (err == EINVAL) {
      break;
    }
    --inLeft;
    in = input.subspan(input.size() - inLeft).data();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

// Appends what iconv writes to return the encoder to its initial shift state.
void AppendShiftReset(iconv_t cd, std::string& out) {
  std::array<char, 16> buf;
  char* outPtr = buf.data();
  std::size_t outLeft = buf.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buf.data(), buf.size() - outLeft);
}

// replacement: the page's own "?" (in EBCDIC it is not the byte 0x3F).
std::string IconvFromWide(iconv_t cd, std::u16string_view text, std::string_view replacement) {
  std::string out;
  out.reserve(text.size() * 2);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const std::span<char> input(reinterpret_cast<char*>(const_cast<char16_t*>(text.data())),
                              text.size() * 2);
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::array<char, 8192> buf;
  while (inLeft > 0) {
    char* outPtr = buf.data();
    std::size_t outLeft = buf.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    out.append(buf.data(), buf.size() - outLeft);
    if (r != static_cast<std::size_t>(-1)) {
      break;
    }
    if (err == E2BIG) {
      continue;
    }
    // A character without a mapping (or a lone surrogate): "?" and skip it, a surrogate pair
    // being one character. The "?" is written in the initial shift state, so that it is not
    // read as half of a double-byte character of a shifted run (ISO-2022) or as base64 (UTF-7).
    AppendShiftReset(cd, out);
    out.append(replacement);
    const std::span<const char> rest = input.subspan(input.size() - inLeft);
    std::size_t skip = 2;
    if (inLeft >= 4) {
      const auto hi = static_cast<unsigned char>(rest[0]) | static_cast<unsigned char>(rest[1])
                                                                << 8;
      const auto lo = static_cast<unsigned char>(rest[2]) | static_cast<unsigned char>(rest[3])
                                                                << 8;
      if (hi >= 0xD800 && hi < 0xDC00 && lo >= 0xDC00 && lo < 0xE000) {
        skip = 4;
      }
    }
    if (inLeft < skip) {
      break;
    }
    inLeft -= skip;
    in = input.subspan(input.size() - inLeft).data();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Return the encoder to its initial shift state (stateful pages such as ISO-2022-JP).
  AppendShiftReset(cd, out);
  return out;
}

// Stateless multi-byte pages encode character by character through a table filled on first
// use of each character: one iconv call per distinct character instead of one per character
// without a mapping (which costs microseconds each in iconv's error path).
// The encoders with shift states (ISO-2022, UTF-7's base64 runs) convert the text as a whole.
bool IsStateful(std::int32_t codePage) {
  return codePage == 50220 || codePage == 50221 || codePage == 50222 || codePage == 50225 ||
         codePage == 50227 || codePage == 65000;
}

// A slot: 0 = not looked up yet, 0xFF = no mapping, else the byte count in the low byte and the
// bytes above it.
constexpr std::uint64_t kUnmappable = 0xFF;

std::uint64_t LookUpOne(iconv_t cd, char16_t c) {
  char16_t unit = c;
  char* in = reinterpret_cast<char*>(&unit);
  std::size_t inLeft = 2;
  char buf[8];
  char* out = buf;
  std::size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
    return kUnmappable;
  }
  const std::size_t n = sizeof buf - outLeft;
  if (n == 0 || n > 6) {
    return kUnmappable;
  }
  std::uint64_t slot = n;
  for (std::size_t i = 0; i < n; ++i) {
    slot |= static_cast<std::uint64_t>(static_cast<unsigned char>(buf[i])) << (8 * (i + 1));
  }
  return slot;
}

// The character table of one page (callers hold the conversion lock).
std::vector<std::uint64_t>& SlotCache(std::int32_t codePage) {
  static std::map<std::int32_t, std::vector<std::uint64_t>> caches;
  auto& cache = caches[codePage];
  if (cache.empty()) {
    cache.assign(65536, 0);
  }
  return cache;
}

// Appends a looked-up slot's bytes.
void AppendSlot(std::string& out, std::uint64_t slot) {
  const auto len = static_cast<std::size_t>(slot & 0xFF);
  for (std::size_t k = 1; k <= len; ++k) {
    out.push_back(static_cast<char>((slot >> (8 * k)) & 0xFF));
  }
}

// The page's "?", the byte 0x3F where the page has no question mark of its own.
std::string Replacement(iconv_t cd, std::vector<std::uint64_t>& cache) {
  std::uint64_t& slot = cache[u'?'];
  if (slot == 0) {
    slot = LookUpOne(cd, u'?');
  }
  std::string out;
  if (slot == kUnmappable) {
    out.push_back('?');
  } else {
    AppendSlot(out, slot);
  }
  return out;
}

std::string IconvFromWideCached(iconv_t cd, std::int32_t codePage, std::u16string_view text) {
  auto& cache = SlotCache(codePage);
  const std::string replacement = Replacement(cd, cache);
  std::string out;
  out.reserve(text.size() * 2);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c == 0) {
      out.push_back('\0');
      continue;
    }
    if (c >= 0xD800 && c < 0xE000) {
      if (c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        out += IconvFromWide(cd, text.substr(i, 2), replacement); // a pair: "?" when unmapped
        ++i;
      } else {
        out.append(replacement);
      }
      continue;
    }
    std::uint64_t& slot = cache[c];
    if (slot == 0) {
      slot = LookUpOne(cd, c);
    }
    if (slot == kUnmappable) {
      out.append(replacement);
      continue;
    }
    AppendSlot(out, slot);
  }
  return out;
}

// HZ (RFC 1843): ASCII as it stands ("~" doubled); runs of GB2312 characters between "~{" and
// "~}", each as its two bytes without their top bits. Characters without a GB2312 form are "?".
std::string HzFromWide(iconv_t gb2312, std::u16string_view text) {
  auto& cache = SlotCache(kCpHz);
  std::string out;
  out.reserve(text.size() * 2);
  bool inGb = false;
  const auto ascii = [&](char c) {
    if (inGb) {
      out.append("~}");
      inGb = false;
    }
    out.push_back(c);
    if (c == '~') {
      out.push_back('~');
    }
  };
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      ascii(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c < 0xE000) {
      if (c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        ++i; // a pair is one character, and GB2312 has none beyond the BMP
      }
      ascii('?');
      continue;
    }
    std::uint64_t& slot = cache[c];
    if (slot == 0) {
      slot = LookUpOne(gb2312, c);
    }
    const auto lead = static_cast<unsigned>((slot >> 8) & 0xFF);
    const auto trail = static_cast<unsigned>((slot >> 16) & 0xFF);
    if (slot == kUnmappable || (slot & 0xFF) != 2 || lead < 0xA1 || trail < 0xA1) {
      ascii('?');
      continue;
    }
    if (!inGb) {
      out.append("~{");
      inGb = true;
    }
    out.push_back(static_cast<char>(lead & 0x7F));
    out.push_back(static_cast<char>(trail & 0x7F));
  }
  if (inGb) {
    out.append("~}");
  }
  return out;
}

std::u16string HzToWide(iconv_t gb2312, std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  bool inGb = false;
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const char next = i + 1 < n ? bytes[i + 1] : '\0';
    if (b == '~' && (next == '{' || next == '}')) {
      inGb = next == '{';
      i += 2;
      continue;
    }
    if (!inGb && b == '~' && (next == '~' || next == '\n')) {
      if (next == '~') {
        out.push_back(u'~');
      }
      i += 2; // "~" before a line end continues the line
      continue;
    }
    const auto trail = static_cast<unsigned char>(next);
    if (inGb && b >= 0x21 && b <= 0x7E && trail >= 0x21 && trail <= 0x7E) {
      const std::array<char, 2> pair{static_cast<char>(b | 0x80), static_cast<char>(trail | 0x80)};
      const std::u16string one = IconvToWide(gb2312, std::string_view(pair.data(), pair.size()));
      out.append(one.empty() ? std::u16string(1, kReplacement) : one);
      i += 2;
      continue;
    }
    if (b == '\n' || b == '\r') {
      inGb = false; // a GB run never spans a line end
    }
    out.push_back(b < 0x80 ? static_cast<char16_t>(b) : kReplacement);
    ++i;
  }
  return out;
}

// The Symbol page: bytes 0x20-0xFF are the private-use characters U+F020-U+F0FF, controls are
// themselves, and nothing else has a byte.
std::string SymbolFromWide(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0x20) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0xF020 && c <= 0xF0FF) {
      out.push_back(static_cast<char>(c - 0xF000));
    } else {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        ++i;
      }
      out.push_back('?');
    }
  }
  return out;
}

std::u16string SymbolToWide(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[i] = static_cast<char16_t>(b < 0x20 ? b : 0xF000 + b);
  }
  return out;
}

} // namespace

bool IsCodePageUsable(std::int32_t codePage) {
  codePage = Resolve(codePage);
  if (codePage == kCpUtf8 || codePage == kCpUtf16Le || codePage == kCpSymbol ||
      FindSingleBytePage(codePage) != nullptr) {
    return true;
  }
  return IsValid(Iconv().Get(codePage, true));
}

std::u16string Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const std::span<const unsigned char> s(reinterpret_cast<const unsigned char*>(utf8.data()),
                                         utf8.size());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Decode one sequence; on failure replace the maximal valid prefix by one U+FFFD.
    std::size_t need = 0;
    char32_t c = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      c = b & 0x0F;
      lo = b == 0xE0 ? 0xA0 : 0x80;
      hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      c = b & 0x07;
      lo = b == 0xF0 ? 0x90 : 0x80;
      hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (std::size_t k = 0; k < need; ++k, ++j) {
      if (j >= n || s[j] < lo || s[j] > hi) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[j] & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    if (!ok) {
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    AppendUtf16(out, c);
    i = j;
  }
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = kReplacement; // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Latin1ToWide(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[i] = static_cast<unsigned char>(bytes[i]);
  }
  return out;
}

std::u16string MultiByteToWide(std::int32_t codePage, std::string_view bytes) {
  codePage = Resolve(codePage);
  if (codePage == kCpUtf8) {
    return Utf8ToWide(bytes);
  }
  if (codePage == kCpUtf16Le) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return out;
  }
  if (const auto* page = FindSingleBytePage(codePage)) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      const std::uint16_t u = b < 0x80 ? b : page->upper[b - 0x80];
      out[i] = u == kUndefined ? kReplacement : static_cast<char16_t>(u);
    }
    return out;
  }
  if (codePage == kCpSymbol) {
    return SymbolToWide(bytes);
  }
  const iconv_t cd = Iconv().Get(codePage, true);
  if (!IsValid(cd)) {
    return {};
  }
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  return codePage == kCpHz ? HzToWide(cd, bytes) : IconvToWide(cd, bytes);
}

std::string WideToMultiByte(std::int32_t codePage, std::u16string_view text) {
  codePage = Resolve(codePage);
  if (codePage == kCpUtf8) {
    return WideToUtf8(text);
  }
  if (codePage == kCpUtf16Le) {
    std::string out(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      out[2 * i] = static_cast<char>(text[i] & 0xFF);
      out[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return out;
  }
  if (const auto* page = FindSingleBytePage(codePage)) {
    const auto& reverse = ReverseTable(*page);
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t c = text[i];
      if (c == 0) {
        out.push_back('\0');
        continue;
      }
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        ++i; // a surrogate pair is one character, and no single-byte page maps it
        out.push_back('?');
        continue;
      }
      const std::uint8_t b = reverse[c];
      out.push_back(b != 0 ? static_cast<char>(b) : '?');
    }
    return out;
  }
  if (codePage == kCpSymbol) {
    return SymbolFromWide(text);
  }
  const iconv_t cd = Iconv().Get(codePage, false);
  if (!IsValid(cd)) {
    return {};
  }
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (codePage == kCpHz) {
    return HzFromWide(cd, text);
  }
  return IsStateful(codePage) ? IconvFromWide(cd, text, "?")
                              : IconvFromWideCached(cd, codePage, text);
}

std::vector<std::int32_t> ServedCodePages() {
  std::vector<std::int32_t> pages = {kCpSymbol, kCpUtf16Le, kCpUtf8};
  for (const auto& page : kSingleBytePages) {
    pages.push_back(page.codePage);
  }
  for (const TIconvPage& page : kIconvPages) {
    pages.push_back(page.codePage);
  }
  pages.push_back(kCpHz);
  std::erase_if(pages, [](std::int32_t cp) { return !IsCodePageUsable(cp); });
  std::sort(pages.begin(), pages.end());
  return pages;
}

std::string OemToAnsi(std::string_view bytes) {
  return WideToMultiByte(GetACP(), MultiByteToWide(GetOEMCP(), bytes));
}

} // namespace scv::platform
