// Cell record values and readers: RK encodings, NUMBER and formula results, short records.
#include "spreadsheet/KvXlsBRCell.h"

#include "support/BiffBuilder.h"

#include <gtest/gtest.h>

#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBytes;

TEST(KvXlsBRCell, DecodesAllFourRkEncodings) {
  struct Case {
    std::uint32_t rk;
    double want;
  };
  const Case cases[] = {
      {0x00000002, 0},         {0x00000006, 1},          {0xFFFFFFFE, -1},
      {0x0000000F, 0.03},      {0x3FF00000, 1.0},        {0x3FF00001, 0.01},
      {0x7FFFFFFE, 536870911}, {0x80000002, -536870912}, {0x405EDD2C, 123.455810546875},
      {0xC0000000, -2.0},      {0x00000003, 0},          {0x405EDD2D, 1.23455810546875},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rk);
    EXPECT_EQ(DecodeRk(c.rk), c.want);
  }
}

TEST(KvXlsBRCell, NumberAndFormulaValues) {
  const std::array<std::uint8_t, 8> ffTail{1, 2, 3, 4, 5, 6, 0xFF, 0xFF};
  EXPECT_EQ(DecodeNumber(ffTail), 0);
  const auto half = test::FormulaNumberValue(0.5);
  EXPECT_EQ(DecodeNumber(std::span<const std::uint8_t, 8>(half.data(), 8)), 0.5);

  struct Case {
    const char* name;
    TBytes val;
    double want;
  };
  const std::vector<Case> cases = {
      {"number", test::FormulaNumberValue(-2.25), -2.25},
      {"string", test::FormulaSpecialValue(0, 9), 0},
      {"boolean true", test::FormulaSpecialValue(1, 1), 1},
      {"error #DIV/0!", test::FormulaSpecialValue(2, 7), 7},
      {"error #N/A", test::FormulaSpecialValue(2, 42), 42},
      {"blank", test::FormulaSpecialValue(3, 5), 0},
      {"unknown type", test::FormulaSpecialValue(9, 5), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeFormulaValue(std::span<const std::uint8_t, 8>(c.val.data(), 8)), c.want);
  }
}

TEST(KvXlsBRCell, MultipleCellRecordsTakeTheirCountFromTheLength) {
  struct Case {
    const char* name;
    TBytes body;
    std::size_t want;
  };
  const TBytes two = test::MulRkBody(1, 2, {0x00000006, 0x0000000A});
  TBytes odd = two;
  odd.push_back(0x55); // one stray byte: still two pairs
  const std::vector<Case> rk = {
      {"length 18", two, 2},      {"odd length", odd, 2}, {"header only", TBytes(6, 0), 0},
      {"short", TBytes(3, 0), 0}, {"empty", {}, 0},
  };
  for (const Case& c : rk) {
    SCOPED_TRACE(c.name);
    TMulRK rec;
    ASSERT_TRUE(ReadMulRK(c.body, TMulRK::kId, rec));
    EXPECT_EQ(rec.count, c.want);
  }
  TMulRK rec;
  ReadMulRK(two, TMulRK::kId, rec);
  EXPECT_EQ(rec.colFirst, 2);
  EXPECT_EQ(rec.colLast, 3);
  EXPECT_EQ(DecodeRk(rec.At(1).rk), 2);

  TBytes blanks = test::MulBlankBody(3, 2, 4);
  blanks.push_back(0);
  TMulBlank mb;
  ASSERT_TRUE(ReadMulBlank(blanks, TMulBlank::kId, mb));
  EXPECT_EQ(mb.count, 4U);
  EXPECT_FALSE(ReadMulBlank(blanks, TMulRK::kId, mb));
}

TEST(KvXlsBRCell, ShortRecordsReadMissingBytesAsZero) {
  TNumber num;
  const TBytes shortNumber = {1, 0, 2, 0, 3, 0, 0, 0};
  ASSERT_TRUE(ReadNumber(shortNumber, TNumber::kId, num));
  EXPECT_EQ(num.rw, 1);
  EXPECT_EQ(num.ixfe, 3);
  EXPECT_EQ(DecodeNumber(num.num), 0);

  TFormula f;
  ASSERT_TRUE(ReadFormula(TBytes{4, 0, 5, 0}, TFormula::kId, f));
  EXPECT_EQ(f.rw, 4);
  EXPECT_EQ(f.ixfe, 0);
  EXPECT_EQ(DecodeFormulaValue(f.val), 0);

  // A field cut short ends the reading: the bytes after it are not taken for the value.
  const TBytes cutInIxfe = {4, 0, 5, 0, 9};
  ASSERT_TRUE(ReadFormula(cutInIxfe, TFormula::kId, f));
  EXPECT_EQ(f.col, 5);
  EXPECT_EQ(DecodeFormulaValue(f.val), 0);
  ASSERT_TRUE(ReadNumber(cutInIxfe, TNumber::kId, num));
  EXPECT_EQ(DecodeNumber(num.num), 0);

  TLabelSst l;
  EXPECT_FALSE(ReadLabelSst(TBytes(10, 1), TNumber::kId, l));
}

} // namespace
} // namespace scv::spreadsheet
