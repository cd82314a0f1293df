// UTF-8 text assembly for the RTF reader.
#include "rtf/RtfTextOut.h"

#include "common/Charsets.h"
#include "common/Ligatures.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <string_view>

namespace scv::rtf {
namespace {

// Keeps the undecoded tail small; flushing only between whole characters keeps pairs intact.
constexpr std::size_t kMaxPending = 4096;

// The Symbol font from 0x20: Greek letters and mathematical signs. Zero marks bytes without
// a character of their own (bracket and arrow pieces), which keep the private-use code
// U+F000 + byte that symbol fonts use.
constexpr char16_t kSymbolTable[224] = {
    // 0x20
    0x0020,
    0x0021,
    0x2200,
    0x0023,
    0x2203,
    0x0025,
    0x0026,
    0x220B,
    0x0028,
    0x0029,
    0x2217,
    0x002B,
    0x002C,
    0x2212,
    0x002E,
    0x002F,
    // 0x30
    0x0030,
    0x0031,
    0x0032,
    0x0033,
    0x0034,
    0x0035,
    0x0036,
    0x0037,
    0x0038,
    0x0039,
    0x003A,
    0x003B,
    0x003C,
    0x003D,
    0x003E,
    0x003F,
    // 0x40
    0x2245,
    0x0391,
    0x0392,
    0x03A7,
    0x0394,
    0x0395,
    0x03A6,
    0x0393,
    0x0397,
    0x0399,
    0x03D1,
    0x039A,
    0x039B,
    0x039C,
    0x039D,
    0x039F,
    // 0x50
    0x03A0,
    0x0398,
    0x03A1,
    0x03A3,
    0x03A4,
    0x03A5,
    0x03C2,
    0x03A9,
    0x039E,
    0x03A8,
    0x0396,
    0x005B,
    0x2234,
    0x005D,
    0x22A5,
    0x005F,
    // 0x60
    0x203E,
    0x03B1,
    0x03B2,
    0x03C7,
    0x03B4,
    0x03B5,
    0x03C6,
    0x03B3,
    0x03B7,
    0x03B9,
    0x03D5,
    0x03BA,
    0x03BB,
    0x03BC,
    0x03BD,
    0x03BF,
    // 0x70
    0x03C0,
    0x03B8,
    0x03C1,
    0x03C3,
    0x03C4,
    0x03C5,
    0x03D6,
    0x03C9,
    0x03BE,
    0x03C8,
    0x03B6,
    0x007B,
    0x007C,
    0x007D,
    0x223C,
    0,
    // 0x80
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0x90
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0xA0
    0x20AC,
    0x03D2,
    0x2032,
    0x2264,
    0x2044,
    0x221E,
    0x0192,
    0x2663,
    0x2666,
    0x2665,
    0x2660,
    0x2194,
    0x2190,
    0x2191,
    0x2192,
    0x2193,
    // 0xB0
    0x00B0,
    0x00B1,
    0x2033,
    0x2265,
    0x00D7,
    0x221D,
    0x2202,
    0x2022,
    0x00F7,
    0x2260,
    0x2261,
    0x2248,
    0x2026,
    0,
    0,
    0x21B5,
    // 0xC0
    0x2135,
    0x2111,
    0x211C,
    0x2118,
    0x2297,
    0x2295,
    0x2205,
    0x2229,
    0x222A,
    0x2283,
    0x2287,
    0x2284,
    0x2282,
    0x2286,
    0x2208,
    0x2209,
    // 0xD0
    0x2220,
    0x2207,
    0x00AE,
    0x00A9,
    0x2122,
    0x220F,
    0x221A,
    0x22C5,
    0x00AC,
    0x2227,
    0x2228,
    0x21D4,
    0x21D0,
    0x21D1,
    0x21D2,
    0x21D3,
    // 0xE0
    0x25CA,
    0x2329,
    0x00AE,
    0x00A9,
    0x2122,
    0x2211,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0xF0
    0,
    0x232A,
    0x222B,
    0x2320,
    0,
    0x2321,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
};

} // namespace

char32_t SymbolToUnicode(std::uint8_t b) {
  if (b < 0x20) {
    return b;
  }
  const char16_t u = kSymbolTable[b - 0x20];
  return u != 0 ? u : 0xF000u + b;
}

std::int32_t CodePageOfCharset(std::int32_t charset) {
  switch (charset) {
  case 77:
    return 10000; // Mac Roman
  case 78:
    return 10001; // Mac Japanese
  case 79:
    return 10003; // Mac Korean
  case 80:
    return 10008; // Mac Simplified Chinese
  case 81:
    return 10002; // Mac Traditional Chinese
  case 83:
    return 10005; // Mac Hebrew
  case 84:
    return 10004; // Mac Arabic
  case 85:
    return 10006; // Mac Greek
  case 86:
    return 10081; // Mac Turkish
  case 87:
    return 10021; // Mac Thai
  case 88:
    return 10029; // Mac Central European
  case 89:
    return 10007; // Mac Cyrillic
  case 130:
    return 1361; // Johab
  case 254:
    return 437; // PC 437
  case 255:
    return 850; // OEM
  default:
    return charset < 0 ? 0 : plugin::WindowsCharsetCodePage(static_cast<std::uint32_t>(charset));
  }
}

bool IsMultiByteCodePage(std::int32_t codePage) {
  switch (codePage) {
  case 932:
  case 936:
  case 949:
  case 950:
  case 1361:
  case 20932:
  case 51932:
  case 51949:
  case 54936:
  case 65001:
    return true;
  default:
    return false;
  }
}

bool IsLeadByte(std::int32_t codePage, std::uint8_t b) {
  switch (codePage) {
  case 932:
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  case 1361:
    return (b >= 0x84 && b <= 0xD3) || (b >= 0xD8 && b <= 0xF9);
  case 65001:
    return false; // UTF-8 trail bytes are never ASCII
  default:
    return b >= 0x81 && b <= 0xFE;
  }
}

std::int32_t UsableCodePage(std::int32_t codePage) {
  if (codePage > 0 && platform::IsCodePageUsable(codePage)) {
    return codePage;
  }
  std::int32_t relative = 1252;
  switch (codePage) {
  case 10001:
    relative = 932;
    break;
  case 10002:
    relative = 950;
    break;
  case 10003:
    relative = 949;
    break;
  case 10008:
    relative = 936;
    break;
  default:
    if (codePage >= 10000 && codePage < 10100) {
      relative = 10000;
    }
    break;
  }
  return platform::IsCodePageUsable(relative) ? relative : 1252;
}

void TTextOut::AsciiRun(const char* data, std::size_t n) {
  const std::string_view run(data, n);
  if (!pending_.empty() || highSurrogate_ != 0) {
    for (const char c : run) {
      Ascii(c);
    }
    return;
  }
  text_.append(run);
}

void TTextOut::AsciiSlow(char c) {
  // Double-byte text sometimes carries its ASCII-range trail bytes as plain characters.
  if (pendingLead_ && static_cast<unsigned char>(c) >= 0x40) {
    Byte(pendingCodePage_, static_cast<std::uint8_t>(c));
    return;
  }
  Flush();
  text_.push_back(c);
}

void TTextOut::CodeUnit(std::uint32_t c) {
  if (!pending_.empty()) {
    FlushPending();
  }
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (highSurrogate_ != 0) {
      AppendUtf8(0xFFFD);
    }
    highSurrogate_ = static_cast<char16_t>(c);
    return;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) {
    if (highSurrogate_ == 0) {
      AppendUtf8(0xFFFD);
      return;
    }
    const std::uint32_t full = 0x10000 + ((highSurrogate_ - 0xD800u) << 10) + (c - 0xDC00u);
    highSurrogate_ = 0;
    AppendUtf8(full);
    return;
  }
  if (highSurrogate_ != 0) {
    highSurrogate_ = 0;
    AppendUtf8(0xFFFD);
  }
  AppendUtf8(c > 0x10FFFF ? 0xFFFD : c);
}

void TTextOut::Byte(std::int32_t codePage, std::uint8_t b) {
  if (codePage == kSymbolCodePage) {
    CodeUnit(SymbolToUnicode(b));
    return;
  }
  if (IsMultiByteCodePage(codePage)) {
    if (highSurrogate_ != 0 || (!pending_.empty() && pendingCodePage_ != codePage)) {
      Flush();
    }
    pendingCodePage_ = codePage;
    pending_.push_back(static_cast<char>(b));
    pendingLead_ = pendingLead_ ? false : IsLeadByte(codePage, b);
    // UTF-8 is cut only before an ASCII byte, so no sequence is split.
    if (!pendingLead_ && pending_.size() >= kMaxPending && (codePage != 65001 || b < 0x80)) {
      FlushPending();
    }
    return;
  }
  Flush();
  if (codePage != lastPage_ || lastTable_ == nullptr) {
    lastTable_ = &SingleByteTable(codePage);
    lastPage_ = codePage;
  }
  AppendUtf8((*lastTable_)[b]);
}

void TTextOut::AppendUtf8(std::uint32_t c) {
  // Typographic ligatures (U+FB00-U+FB06) are written as their letters.
  if (c - 0xFB00u <= 6u) {
    text_.append(plugin::LigatureLetters(c));
    return;
  }
  platform::AppendUtf8(text_, c);
}

void TTextOut::FlushPending() {
  const std::u16string wide = platform::MultiByteToWide(pendingCodePage_, pending_);
  pending_.clear();
  pendingLead_ = false;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t u = wide[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800u) << 10) + (wide[i + 1] - 0xDC00u));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(0xFFFD);
    } else {
      AppendUtf8(u);
    }
  }
}

const std::array<char16_t, 256>& TTextOut::SingleByteTable(std::int32_t codePage) {
  for (const auto& [page, table] : tables_) {
    if (page == codePage) {
      return *table;
    }
  }
  auto table = std::make_unique<std::array<char16_t, 256>>();
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b) {
    all[static_cast<std::size_t>(b)] = static_cast<char>(b);
  }
  const std::u16string wide = platform::MultiByteToWide(codePage, all);
  if (wide.size() == 256) {
    std::copy(wide.begin(), wide.end(), table->begin());
  } else {
    for (int b = 0; b < 256; ++b) {
      const std::u16string one = platform::MultiByteToWide(
          codePage, std::string_view(&all[static_cast<std::size_t>(b)], 1));
      (*table)[static_cast<std::size_t>(b)] = one.size() == 1 ? one[0] : u'\xFFFD';
    }
  }
  // A lone surrogate unit would not form valid UTF-8.
  for (auto& u : *table) {
    if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
  }
  tables_.emplace_back(codePage, std::move(table));
  return *tables_.back().second;
}

} // namespace scv::rtf
