// The worksheet grid's number rules: row numbers, cell references and shared-string indexes.
#include "ooxml/SheetLayout.h"

#include "bytes/FormatError.h"
#include "platform/CodePage.h"
#include "platform/StrToInt.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace scv::ooxml {

std::int32_t LenientInt(std::string_view text) {
  // Row numbers are short runs of digits: read those straight, as the full rules would.
  if (!text.empty() && text.size() <= 9) {
    std::int32_t digits = 0;
    std::size_t k = 0;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
      digits = digits * 10 + (text[k] - '0');
      ++k;
    }
    if (k == text.size()) {
      return digits;
    }
  }
  std::int32_t value = 0;
  if (StrToInt32(text, value)) {
    return value;
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  std::int64_t v = 0;
  const std::size_t first = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) {
      throw bytes::EFormatError("number \"" + std::string(text) + "\"", i, "does not fit 32 bits");
    }
    ++i;
  }
  if (i == first) {
    throw bytes::EFormatError("number \"" + std::string(text) + "\"", i, "has no digits");
  }
  return static_cast<std::int32_t>(v);
}

void LastCellOf(std::string_view ref, std::int32_t& lastRow, std::int32_t& lastCol) {
  if (const std::size_t colon = ref.find(':'); colon != std::string_view::npos) {
    ref = ref.substr(colon + 1);
  }
  CellRefToRowCol(ref, lastRow, lastCol);
}

bool StrToInt32(std::string_view text, std::int32_t& value) {
  return platform::TryStrToInt(text, value);
}

void CellRefToRowCol(std::string_view ref, std::int32_t& row, std::int32_t& col) {
  row = 0;
  col = 0;
  std::size_t firstDigit = 0;
  while (firstDigit < ref.size() && (ref[firstDigit] < '0' || ref[firstDigit] > '9')) {
    ++firstDigit;
  }
  if (firstDigit == 0 || firstDigit == ref.size()) {
    return;
  }
  row = LenientInt(ref.substr(firstDigit));
  // Base 26 with A = 1 .. Z = 26; other characters count by their distance from "A", and
  // the sum wraps at 32 bits.
  std::uint32_t c = 0;
  for (std::size_t i = 0; i < firstDigit; ++i) {
    c = c * 26u + static_cast<std::uint32_t>(static_cast<unsigned char>(ref[i])) - ('A' - 1u);
  }
  col = static_cast<std::int32_t>(c);
}

std::string_view SharedStringAt(const TSharedStrings& shared, std::string_view index) {
  std::int32_t n = 0;
  if (!StrToInt32(index, n) || n < 0 || static_cast<std::size_t>(n) >= shared.Count()) {
    return {};
  }
  return shared.At(static_cast<std::size_t>(n));
}

namespace {

// The code unit of an escape "_xHHHH_" at text[i], or -1 when there is none there.
std::int32_t EscapeAt(std::string_view text, std::size_t i) {
  if (text.size() - i < 7 || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
    return -1;
  }
  std::int32_t unit = 0;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    const char d = text[k];
    std::int32_t v = 0;
    if (d >= '0' && d <= '9') {
      v = d - '0';
    } else if (d >= 'a' && d <= 'f') {
      v = d - 'a' + 10;
    } else if (d >= 'A' && d <= 'F') {
      v = d - 'A' + 10;
    } else {
      return -1;
    }
    unit = unit * 16 + v;
  }
  return unit;
}

} // namespace

bool DecodeEscapesIn(std::string_view text, std::string& out) {
  std::size_t i = text.find("_x");
  if (i == std::string_view::npos) {
    return false;
  }
  bool changed = false;
  std::string decoded;
  std::size_t copied = 0;
  while (i != std::string_view::npos) {
    const std::int32_t unit = EscapeAt(text, i);
    std::size_t length = 7;
    char32_t c = 0;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const std::int32_t low = i + 7 < text.size() ? EscapeAt(text, i + 7) : -1;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
            (static_cast<char32_t>(low) - 0xDC00);
        length = 14;
      }
    } else if (unit > 0 && (unit < 0xDC00 || unit > 0xDFFF)) {
      c = static_cast<char32_t>(unit);
    }
    if (c == 0) {
      i = text.find("_x", i + 1);
      continue;
    }
    decoded.append(text.substr(copied, i - copied));
    platform::AppendUtf8(decoded, c);
    copied = i + length;
    changed = true;
    i = text.find("_x", copied);
  }
  if (!changed) {
    return false;
  }
  decoded.append(text.substr(copied));
  out = std::move(decoded);
  return true;
}

void TrimTrailingTabs(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '\t') {
    --end;
  }
  text.resize(end);
}

void TrimTrailingLineEnds(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  text.resize(end);
}

} // namespace scv::ooxml
