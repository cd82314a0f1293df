// UTF-8 text assembly for the RTF reader.
#include "rtf/RtfTextOut.h"

#include <algorithm>
#include <string_view>

#include "platform/CodePage.h"

namespace scv::rtf {
namespace {

// Keeps the undecoded tail small; flushing only between whole characters keeps pairs intact.
constexpr std::size_t kMaxPending = 4096;

} // namespace

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
  case 128:
    return 932;
  case 129:
    return 949;
  case 130:
    return 1361;
  case 134:
    return 936;
  case 136:
    return 950;
  case 161:
    return 1253;
  case 162:
    return 1254;
  case 163:
    return 1258;
  case 177:
    return 1255;
  case 178:
    return 1256;
  case 186:
    return 1257;
  case 204:
    return 1251;
  case 222:
    return 874;
  case 238:
    return 1250;
  case 254:
    return 437; // PC 437
  case 255:
    return 850; // OEM
  default:
    return 0;
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
  if (!pending_.empty() || highSurrogate_ != 0) {
    for (std::size_t i = 0; i < n; ++i) {
      Ascii(data[i]);
    }
    return;
  }
  text_.append(data, n);
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
  if (c < 0x80) {
    text_.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    text_.push_back(static_cast<char>(0xC0 | (c >> 6)));
    text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    text_.push_back(static_cast<char>(0xE0 | (c >> 12)));
    text_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    text_.push_back(static_cast<char>(0xF0 | (c >> 18)));
    text_.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
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
      const std::u16string one =
          platform::MultiByteToWide(codePage, std::string_view(&all[static_cast<std::size_t>(b)], 1));
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
