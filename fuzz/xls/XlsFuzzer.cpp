// Fuzzes the workbook reader and the entry's closing encoding step. Input: one byte choosing the
// target code page, then the workbook stream.
#include "spreadsheet/KvXlsCvt.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>

namespace {

// Small inputs keep the run fast; a shared string repeated by many cells can still make the
// text far larger than the input.
constexpr std::size_t kMaxInput = 1 << 16;
constexpr std::int32_t kCodePages[] = {65001, 1200, 1252, 1251, 932, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxInput) {
    return 0;
  }
  const std::span<const std::uint8_t> input(data, size);
  const std::int32_t codePage = kCodePages[input[0] % std::size(kCodePages)];
  std::string text;
  if (scv::spreadsheet::ExtractWorkbookText(input.subspan(1), text) == 0) {
    scv::TConversionResult result;
    (void)scv::spreadsheet::StoreWorkbookText(text, codePage, result);
  }
  return 0;
}
