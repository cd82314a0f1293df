// Large buffers: backing them with huge pages.
#include "platform/Memory.h"

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

namespace scv::platform {

namespace {
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
constexpr std::size_t kMinSize = std::size_t{4} << 20;
} // namespace

void AdviseLargeBuffer(void* data, std::size_t size) {
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

void* AllocateLargeBuffer(std::size_t size) {
  if (size < kMinSize) {
    return std::malloc(size == 0 ? 1 : size); // NOLINT(cppcoreguidelines-owning-memory)
  }
  if (size > SIZE_MAX - kHugePage) {
    return nullptr;
  }
  // Whole huge pages: the last one is the buffer's own, not shared with other allocations.
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  void* data = std::aligned_alloc(kHugePage, rounded); // NOLINT(cppcoreguidelines-owning-memory)
  if (data != nullptr) {
    madvise(data, rounded, MADV_HUGEPAGE);
  }
  return data;
}

void ReleaseFreedMemory() {
  malloc_trim(0);
}

} // namespace scv::platform
