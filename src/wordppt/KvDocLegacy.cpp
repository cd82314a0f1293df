// Word documents older than Word 97: recognising Word for Windows 1.x/2.x files and the code
// page of a FIB's language id.
#include "wordppt/KvDocLegacy.h"

#include "bytes/ByteCursor.h"

#include <array>

namespace scv::wordppt {

namespace {

struct TLidPage {
  std::uint16_t id;
  std::int32_t codePage;
};

// Whole language ids whose script differs from the rest of their primary language (Serbian,
// Bosnian, Azeri and Uzbek come in Latin and Cyrillic; Chinese in two double-byte pages).
constexpr std::array<TLidPage, 12> kWholeIds = {{
    {0x0404, 950},  // Chinese (Taiwan)
    {0x0804, 936},  // Chinese (PRC)
    {0x0C04, 950},  // Chinese (Hong Kong)
    {0x1004, 936},  // Chinese (Singapore)
    {0x1404, 950},  // Chinese (Macao)
    {0x0C1A, 1251}, // Serbian (Cyrillic)
    {0x1C1A, 1251}, // Serbian (Cyrillic, Bosnia and Herzegovina)
    {0x201A, 1251}, // Bosnian (Cyrillic)
    {0x042C, 1254}, // Azeri (Latin)
    {0x082C, 1251}, // Azeri (Cyrillic)
    {0x0443, 1254}, // Uzbek (Latin)
    {0x0843, 1251}, // Uzbek (Cyrillic)
}};

// Primary languages (the low 10 bits of the id) written in a non-Western code page.
constexpr std::array<TLidPage, 39> kPrimaryLanguages = {{
    {0x01, 1256}, // Arabic
    {0x02, 1251}, // Bulgarian
    {0x04, 936},  // Chinese, where the sublanguage is not listed above
    {0x05, 1250}, // Czech
    {0x08, 1253}, // Greek
    {0x0D, 1255}, // Hebrew
    {0x0E, 1250}, // Hungarian
    {0x11, 932},  // Japanese
    {0x12, 949},  // Korean
    {0x15, 1250}, // Polish
    {0x18, 1250}, // Romanian
    {0x19, 1251}, // Russian
    {0x1A, 1250}, // Croatian, Serbian (Latin), Bosnian (Latin)
    {0x1B, 1250}, // Slovak
    {0x1C, 1250}, // Albanian
    {0x1E, 874},  // Thai
    {0x1F, 1254}, // Turkish
    {0x20, 1256}, // Urdu
    {0x22, 1251}, // Ukrainian
    {0x23, 1251}, // Belarusian
    {0x24, 1250}, // Slovenian
    {0x25, 1257}, // Estonian
    {0x26, 1257}, // Latvian
    {0x27, 1257}, // Lithuanian
    {0x28, 1251}, // Tajik
    {0x29, 1256}, // Farsi
    {0x2A, 1258}, // Vietnamese
    {0x2C, 1254}, // Azeri, where the script is not listed above
    {0x2F, 1251}, // Macedonian
    {0x3F, 1251}, // Kazakh
    {0x40, 1251}, // Kyrgyz
    {0x42, 1250}, // Turkmen
    {0x43, 1254}, // Uzbek, where the script is not listed above
    {0x44, 1251}, // Tatar
    {0x50, 1251}, // Mongolian
    {0x6D, 1251}, // Bashkir
    {0x80, 1256}, // Uyghur
    {0x85, 1251}, // Yakut
    {0x8C, 1256}, // Dari
}};

constexpr std::uint16_t kPrimaryMask = 0x03FF;
// Ids below this are the locale numbers of Word for Windows 1.x, not language ids.
constexpr std::uint16_t kFirstLanguageId = 999;

} // namespace

bool IsWinWordFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFibHeaderSize) {
    return false;
  }
  const std::uint16_t wIdent = bytes::LoadU16At(bytes, kOffsetWIdent);
  return wIdent == kWIdentWinWord1 || wIdent == kWIdentWinWord2;
}

std::int32_t LegacyCodePage(std::uint16_t lid) {
  if (lid < kFirstLanguageId) {
    return 1252;
  }
  for (const TLidPage& entry : kWholeIds) {
    if (entry.id == lid) {
      return entry.codePage;
    }
  }
  const auto primary = static_cast<std::uint16_t>(lid & kPrimaryMask);
  for (const TLidPage& entry : kPrimaryLanguages) {
    if (entry.id == primary) {
      return entry.codePage;
    }
  }
  return 1252;
}

} // namespace scv::wordppt
