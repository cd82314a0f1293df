// Code page conversions: UTF-8 and UTF-16LE natively, single-byte pages from built-in tables,
// multi-byte pages through iconv.
#include "platform/CodePage.h"

#include "platform/LocaleInfo.h"

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

// iconv names of the multi-byte code pages.
const char* IconvName(std::int32_t codePage) {
  switch (codePage) {
  case 932:
    return "CP932";
  case 936:
    return "CP936";
  case 949:
    return "CP949";
  case 950:
    return "CP950";
  case 1361:
    return "JOHAB";
  case 20932:
  case 51932:
    return "EUC-JP";
  case 51949:
    return "EUC-KR";
  case 50220:
  case 50221:
  case 50222:
    return "ISO-2022-JP";
  case 51936:
    return "GBK";
  case 54936:
    return "GB18030";
  default:
    return nullptr;
  }
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

// The code page a request stands for: 0 and 3 are the ANSI page, 1 the OEM page.
std::int32_t Resolve(std::int32_t codePage) {
  switch (codePage) {
  case 0:
  case 3:
    return GetACP();
  case 1:
    return GetOEMCP();
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

std::string IconvFromWide(iconv_t cd, std::u16string_view text) {
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
    // being one character.
    out.push_back('?');
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
  char* outPtr = buf.data();
  std::size_t outLeft = buf.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buf.data(), buf.size() - outLeft);
  return out;
}

// Stateless multi-byte pages encode character by character through a table filled on first
// use of each character: one iconv call per distinct character instead of one per character
// without a mapping (which costs microseconds each in iconv's error path).
bool IsStateful(std::int32_t codePage) {
  return codePage == 50220 || codePage == 50221 || codePage == 50222;
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

std::string IconvFromWideCached(iconv_t cd, std::int32_t codePage, std::u16string_view text) {
  static std::map<std::int32_t, std::vector<std::uint64_t>> caches;
  auto& cache = caches[codePage];
  if (cache.empty()) {
    cache.assign(65536, 0);
  }
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
        out += IconvFromWide(cd, text.substr(i, 2)); // a pair: "?" when unmapped
        ++i;
      } else {
        out.push_back('?');
      }
      continue;
    }
    std::uint64_t& slot = cache[c];
    if (slot == 0) {
      slot = LookUpOne(cd, c);
    }
    if (slot == kUnmappable) {
      out.push_back('?');
      continue;
    }
    const auto len = static_cast<std::size_t>(slot & 0xFF);
    for (std::size_t k = 1; k <= len; ++k) {
      out.push_back(static_cast<char>((slot >> (8 * k)) & 0xFF));
    }
  }
  return out;
}

} // namespace

bool IsCodePageUsable(std::int32_t codePage) {
  codePage = Resolve(codePage);
  if (codePage == kCpUtf8 || codePage == kCpUtf16Le || FindSingleBytePage(codePage) != nullptr) {
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
  const iconv_t cd = Iconv().Get(codePage, true);
  if (!IsValid(cd)) {
    return {};
  }
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  return IconvToWide(cd, bytes);
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
  const iconv_t cd = Iconv().Get(codePage, false);
  if (!IsValid(cd)) {
    return {};
  }
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  return IsStateful(codePage) ? IconvFromWide(cd, text) : IconvFromWideCached(cd, codePage, text);
}

std::string OemToAnsi(std::string_view bytes) {
  return WideToMultiByte(GetACP(), MultiByteToWide(GetOEMCP(), bytes));
}

} // namespace scv::platform
