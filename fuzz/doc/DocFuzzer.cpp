// Fuzzes the Word extractor from the compound file up, for the UTF-8 and Windows-1252 targets
// (the one-pass Unicode writer and the 8-bit path).
#include "wordppt/KvDocCvt.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {
constexpr std::size_t kMaxInput = 4u << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data, size);
  // The last byte picks the options, so both targets and both cleanup modes are reached.
  const std::uint8_t pick = size > 0 ? bytes[size - 1] : 0;
  const std::int32_t codePages[] = {65001, 1252, 1200, 1251};
  scv::TConversionResult result;
  const std::int32_t r = scv::wordppt::DocBytesToText(bytes, result, codePages[pick & 3],
                                                      (pick >> 2) & 3, (pick >> 4) & 1);
  if (r > 0 && static_cast<std::size_t>(r) > result.Capacity()) {
    __builtin_trap();
  }
  return 0;
}
