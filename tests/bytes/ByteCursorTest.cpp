// The checked cursor: sticky failures that record where and what was wanted, offsets of the
// whole input through slices, the error that reports them, and the checked loads at an offset.
#include "bytes/ByteCursor.h"

#include "bytes/FormatError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace scv::bytes {
namespace {

const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

TEST(ByteCursor, FirstFailureIsRecordedAndSticky) {
  TByteCursor cur(kBytes);
  EXPECT_EQ(cur.ReadU32(), 0x04030201u);
  EXPECT_EQ(cur.ReadU32(), 0u); // three bytes left: fails, does not move
  EXPECT_FALSE(cur.Ok());
  EXPECT_EQ(cur.Offset(), 4u);
  EXPECT_EQ(cur.ReadU8(), 0u); // sticky, even though a byte remains
  EXPECT_FALSE(cur.Skip(1));
  EXPECT_EQ(cur.FailedAt(), 4u);
  EXPECT_EQ(cur.FailedWanted(), 4u);
  EXPECT_EQ(cur.FailedHad(), 3u);
  EXPECT_EQ(cur.FailureText(), "needed 4 bytes at offset 4, had 3");
}

TEST(ByteCursor, SlicesReportOffsetsOfTheWholeInput) {
  const TByteCursor whole(kBytes, 100); // the buffer starts at offset 100 of the input
  TByteCursor slice = whole.Slice(3, 2);
  EXPECT_EQ(slice.InputOffset(), 103u);
  EXPECT_EQ(slice.ReadU16(), 0x0504u);
  EXPECT_EQ(slice.ReadU8(), 0u);
  EXPECT_EQ(slice.FailureText(), "needed 1 bytes at offset 105, had 0");
  // A slice beyond the end is empty, placed at the end.
  TByteCursor beyond = whole.Slice(50, 4);
  EXPECT_EQ(beyond.Size(), 0u);
  EXPECT_EQ(beyond.InputOffset(), 107u);
}

TEST(ByteCursor, SeekBeyondTheEndFails) {
  TByteCursor cur(kBytes);
  cur.Skip(2);
  EXPECT_FALSE(cur.SeekTo(10));
  EXPECT_EQ(cur.Offset(), 2u);
  EXPECT_EQ(cur.FailureText(), "needed 8 bytes at offset 2, had 5");
  EXPECT_FALSE(cur.SeekTo(0)); // sticky
}

TEST(ByteCursor, CheckThrowsTheFormatErrorOfTheFailure) {
  TByteCursor good(kBytes);
  good.ReadU32();
  EXPECT_NO_THROW(good.Check("header"));
  EXPECT_EQ(good.FailureText(), "");

  TByteCursor bad(kBytes, 512);
  bad.Skip(6);
  bad.ReadU16();
  try {
    bad.Check("BoundSheet8");
    ADD_FAILURE() << "no error";
  } catch (const EFormatError& e) {
    EXPECT_EQ(e.Structure(), "BoundSheet8");
    EXPECT_EQ(e.Offset(), 518u);
    EXPECT_STREQ(e.what(), "BoundSheet8 at 518: needed 2 bytes at offset 518, had 1");
  }
}

TEST(ByteCursor, LoadsAtAnOffsetKeepTheBytesThereAre) {
  struct Case {
    const char* name;
    std::uint64_t offset;
    std::uint16_t want16;
    std::uint32_t want32;
  };
  const Case cases[] = {
      {"whole", 0, 0x0201, 0x04030201},
      {"last whole", 3, 0x0504, 0x07060504},
      {"cut short", 5, 0x0706, 0x00000706},
      {"one byte", 6, 0x0007, 0x00000007},
      {"at the end", 7, 0, 0},
      {"beyond", 8, 0, 0},
      {"near the top of the range", std::numeric_limits<std::uint64_t>::max() - 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LoadU16At(kBytes, c.offset), c.want16);
    EXPECT_EQ(LoadU32At(kBytes, c.offset), c.want32);
  }
}

} // namespace
} // namespace scv::bytes
