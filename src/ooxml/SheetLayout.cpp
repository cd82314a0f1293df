// The worksheet grid's number rules: row numbers, cell references and shared-string indexes.
#include "ooxml/SheetLayout.h"

#include "bytes/FormatError.h"
#include "platform/StrToInt.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace scv::ooxml {

std::int32_t LenientInt(std::string_view text) {
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
