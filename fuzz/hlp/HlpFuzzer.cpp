// libFuzzer target: help file bytes through the scvhlp exports.
#include <cstddef>
#include <cstdint>

#include "FuzzFilterHost.h"

namespace {
// Help files of interest are small; larger inputs only slow the search down.
constexpr std::size_t kMaxInput = 1 << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  scv::fuzz::RunConversion(data, size);
  return 0;
}
