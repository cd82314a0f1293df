// Large buffers: backing them with huge pages.
#include "platform/Memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace scv::platform {

void AdviseLargeBuffer(void* data, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  constexpr std::size_t kMinSize = std::size_t{4} << 20;
  if (data == nullptr || size < kMinSize) {
    return;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
  if (last > first) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the aligned middle of the caller's buffer
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}

} // namespace scv::platform
