// libFuzzer target: RTF bytes through the scvrtf exports.
#include "FuzzFilterHost.h"

#include <cstddef>
#include <cstdint>

namespace {
// Larger inputs only repeat what smaller ones reach and slow the search down.
constexpr std::size_t kMaxInput = 1 << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  scv::fuzz::RunConversion(data, size);
  return 0;
}
