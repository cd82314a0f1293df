// UTF-8 text assembly for the RTF reader: ASCII, code points (with UTF-16 surrogate halves
// joined) and 8-bit bytes of any code page, double-byte characters included.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace scv::rtf {

// Stands for the Symbol font's own encoding where a code page is expected.
inline constexpr std::int32_t kSymbolCodePage = -2;

// The Unicode character of a byte in the Symbol font.
char32_t SymbolToUnicode(std::uint8_t b);

// The code page of an RTF \fcharset value, or 0 when the character set names none of its own
// (ANSI, default, symbol and unknown sets).
std::int32_t CodePageOfCharset(std::int32_t charset);

// True for the multi-byte code pages whose bytes cannot be decoded one at a time.
bool IsMultiByteCodePage(std::int32_t codePage);

// True when b starts a two-byte character in the multi-byte code page.
bool IsLeadByte(std::int32_t codePage, std::uint8_t b);

class TTextOut {
public:
  void Ascii(char c) {
    if (!pending_.empty() || highSurrogate_ != 0) {
      AsciiSlow(c);
      return;
    }
    text_.push_back(c);
  }
  // Appends a run of ASCII text; the run holds no byte >= 0x80.
  void AsciiRun(const char* data, std::size_t n);
  // A code point or one UTF-16 code unit; surrogate halves are paired across calls, a lone
  // half becomes U+FFFD.
  void CodeUnit(std::uint32_t c);
  // One byte of text in the code page.
  void Byte(std::int32_t codePage, std::uint8_t b);
  // True while a lead byte of a double-byte character waits for its trail byte.
  bool WantsTrailByte() const { return pendingLead_; }

  // Drops a cell separator when it is the last thing written (a row end replaces it).
  void MarkCellEnd() {
    Flush();
    cellEnd_ = text_.size();
  }
  bool EndsWithCell() {
    Flush();
    return cellEnd_ == text_.size() && !text_.empty();
  }
  void DropLast() { text_.pop_back(); }
  // A paragraph break right before a cell end belongs to the cell, not to the text.
  void MarkBreakEnd() { breakEnd_ = text_.size(); }
  bool EndsWithBreakMark() {
    Flush();
    return breakEnd_ == text_.size() && !text_.empty();
  }
  bool EndsWithBreak() {
    Flush();
    return !text_.empty() && text_.back() == '\n';
  }

  void Flush() {
    if (!pending_.empty()) {
      FlushPending();
    }
    if (highSurrogate_ != 0) {
      highSurrogate_ = 0;
      AppendUtf8(0xFFFD);
    }
  }
  std::string Take() {
    Flush();
    return std::move(text_);
  }
  std::size_t Size() const { return text_.size(); }

private:
  void AsciiSlow(char c);
  void AppendUtf8(std::uint32_t c);
  void FlushPending();
  const std::array<char16_t, 256>& SingleByteTable(std::int32_t codePage);

  std::string text_;
  std::string pending_; // bytes of a multi-byte code page not yet decoded
  std::int32_t pendingCodePage_ = 0;
  bool pendingLead_ = false;
  char16_t highSurrogate_ = 0;
  std::size_t cellEnd_ = static_cast<std::size_t>(-1);
  std::size_t breakEnd_ = static_cast<std::size_t>(-1);
  const std::array<char16_t, 256>* lastTable_ = nullptr;
  std::int32_t lastPage_ = 0;
  std::vector<std::pair<std::int32_t, std::unique_ptr<std::array<char16_t, 256>>>> tables_;
};

// The code page that decodes text declared in codePage: itself when the platform serves it,
// else the nearest served relative (Mac East Asian pages to their Windows twins, other Mac
// pages to Mac Roman), else 1252.
std::int32_t UsableCodePage(std::int32_t codePage);

} // namespace scv::rtf
