// Large buffers: malloc's contract, and a huge-page start for the large ones.
#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace scv::platform {
namespace {

TEST(Memory, LargeBuffersKeepMallocsContract) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{4095}, (std::size_t{4} << 20) - 1,
        std::size_t{4} << 20, (std::size_t{7} << 20) + 12345}) {
    SCOPED_TRACE(size);
    void* p = AllocateLargeBuffer(size);
    ASSERT_NE(p, nullptr);
    if (size >= (std::size_t{4} << 20)) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHugePage, 0u);
    }
    // Every byte asked for is there, and realloc keeps them when it grows the buffer.
    std::memset(p, 0x5A, size);
    void* grown = std::realloc(p, size + 100); // NOLINT(cppcoreguidelines-owning-memory)
    ASSERT_NE(grown, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(grown);
    if (size > 0) {
      EXPECT_EQ(bytes[0], 0x5A);        // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
      EXPECT_EQ(bytes[size - 1], 0x5A); // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    std::free(grown); // NOLINT(cppcoreguidelines-owning-memory)
  }
}

} // namespace
} // namespace scv::platform
