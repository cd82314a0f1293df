// Turning the UTF-8 text a converter library delivers into the bytes of a target code page.
#include "bridges/BridgeText.h"

#include "cvtbase/KvCvtBase.h"
#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"

namespace scv::bridges {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Number of bytes a lead byte announces (0: not a lead byte), and the range its first
// continuation byte must fall in so that overlong forms, surrogates and values above
// U+10FFFF are rejected at the earliest byte.
struct TLeadInfo {
  std::uint8_t length;
  std::uint8_t low;
  std::uint8_t high;
};

constexpr TLeadInfo LeadInfo(std::uint8_t b) {
  if (b < 0x80) {
    return {1, 0, 0};
  }
  if (b >= 0xC2 && b <= 0xDF) {
    return {2, 0x80, 0xBF};
  }
  if (b == 0xE0) {
    return {3, 0xA0, 0xBF};
  }
  if (b == 0xED) {
    return {3, 0x80, 0x9F};
  }
  if (b >= 0xE1 && b <= 0xEF) {
    return {3, 0x80, 0xBF};
  }
  if (b == 0xF0) {
    return {4, 0x90, 0xBF};
  }
  if (b >= 0xF1 && b <= 0xF3) {
    return {4, 0x80, 0xBF};
  }
  if (b == 0xF4) {
    return {4, 0x80, 0x8F};
  }
  return {0, 0, 0};
}

} // namespace

std::u16string DecodeLibraryUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const auto b0 = static_cast<std::uint8_t>(utf8[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    const TLeadInfo lead = LeadInfo(b0);
    if (lead.length == 0) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::uint32_t cp = b0 & (0xFFu >> (lead.length + 1));
    std::size_t j = i + 1;
    bool ok = true;
    for (std::size_t k = 1; k < lead.length; ++k, ++j) {
      const std::uint8_t low = k == 1 ? lead.low : 0x80;
      const std::uint8_t high = k == 1 ? lead.high : 0xBF;
      if (j >= n || static_cast<std::uint8_t>(utf8[j]) < low ||
          static_cast<std::uint8_t>(utf8[j]) > high) {
        ok = false;
        break;
      }
      cp = cp << 6 | (static_cast<std::uint8_t>(utf8[j]) & 0x3Fu);
    }
    if (!ok) {
      // The bytes consumed so far form one maximal ill-formed subsequence; the byte that
      // broke it starts afresh.
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i = j;
  }
  return out;
}

std::string EncodeLibraryText(std::string_view utf8, std::int32_t codePage, bool withTerminator) {
  if (codePage == platform::kCpUtf8) {
    std::string out;
    out.reserve(utf8.size() + 3);
    out.append("\xEF\xBB\xBF");
    out.append(utf8);
    return out;
  }
  std::u16string wide = DecodeLibraryUtf8(utf8);
  if (codePage == 0) {
    return platform::WideToMultiByte(platform::GetACP(), wide);
  }
  if (withTerminator) {
    wide.push_back(u'\0');
  }
  if (codePage == platform::kCpUtf16Le) {
    std::string out;
    out.reserve(2 + wide.size() * 2);
    out.append("\xFF\xFE");
    for (const char16_t unit : wide) {
      out.push_back(static_cast<char>(unit & 0xFF));
      out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
  }
  return ToCodePage(codePage, wide);
}

} // namespace scv::bridges
