// The Office Open XML extractor's last step: its UTF-8 text encoded for the target code page.
#include "cvtbase/KvCvtBase.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::ooxml {

namespace {

// UTF-8 to UTF-16 as the extractor decodes it: a byte with its top bit set takes three
// continuation bytes when it lies from F0 to F4, else one when its bit 5 is clear and two when
// set; missing or wrong continuation bytes, and four-byte values beyond U+10FFFF, fail.
bool DecodeOfficeXUtf8(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size() + 1);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    const std::size_t need = lead >= 0xF0 && lead <= 0xF4 ? 3 : ((lead & 0x20) == 0 ? 1 : 2);
    if (need > n - i - 1) {
      return false;
    }
    std::uint32_t c[3] = {0, 0, 0};
    for (std::size_t k = 0; k < need; ++k) {
      const auto b = static_cast<unsigned char>(text[i + 1 + k]);
      if ((b & 0xC0) != 0x80) {
        return false;
      }
      c[k] = b & 0x3Fu;
    }
    if (need == 1) {
      out += static_cast<char16_t>(((lead & 0x3Fu) << 6) | c[0]);
    } else if (need == 2) {
      out += static_cast<char16_t>(((std::uint32_t{lead} << 12) | (c[0] << 6) | c[1]) & 0xFFFFu);
    } else {
      const std::uint32_t v = ((lead & 0x07u) << 18) | (c[0] << 12) | (c[1] << 6) | c[2];
      if (v > 0x10FFFF) {
        return false;
      }
      if (v < 0x10000) {
        // An over-long form of a character below U+10000 has no surrogate pair; it stands
        // for the character itself.
        out += static_cast<char16_t>(v);
      } else {
        out += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
      }
    }
    i += need + 1;
  }
  return true;
}

} // namespace

bool EncodeOfficeXText(std::string_view utf8, std::int32_t codePage, std::string& out) {
  out.clear();
  if (codePage == platform::kCpUtf8) {
    out.reserve(utf8.size() + 3);
    out.append("\xEF\xBB\xBF");
    out.append(utf8);
    return true;
  }
  if (codePage == 0) {
    out = platform::WideToMultiByte(platform::GetACP(), platform::Utf8ToWide(utf8));
    return true;
  }
  std::u16string wide;
  if (!DecodeOfficeXUtf8(utf8, wide)) {
    return false;
  }
  wide += u'\0';
  if (codePage == platform::kCpUtf16Le) {
    out.reserve(2 + 2 * wide.size());
    out.append("\xFF\xFE");
    for (const char16_t u : wide) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
    return true;
  }
  out = ToCodePage(codePage, wide);
  return true;
}

} // namespace scv::ooxml
