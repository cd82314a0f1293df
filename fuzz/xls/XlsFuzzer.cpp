// Fuzzes the workbook reader and the entry's closing encoding step. Input: one byte choosing the
// target code page and a run length, then the workbook stream. The stream is read twice: from
// one buffer, and from runs of the chosen length each in a buffer of its own (as the sectors of
// a compound file are), which must give the same text.
#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsCvt.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <vector>

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
  const std::size_t runLength = std::size_t{1} << (input[0] / std::size(kCodePages) % 10);
  const std::span<const std::uint8_t> stream = input.subspan(1);
  std::string text;
  const std::int32_t code = scv::spreadsheet::ExtractWorkbookText(stream, text);
  if (code == 0) {
    scv::TConversionResult result;
    (void)scv::spreadsheet::StoreWorkbookText(text, codePage, result);
  }

  std::vector<std::vector<std::uint8_t>> pieces;
  for (std::size_t at = 0; at < stream.size(); at += runLength) {
    const auto piece = stream.subspan(at, std::min(runLength, stream.size() - at));
    pieces.emplace_back(piece.begin(), piece.end());
  }
  const std::vector<std::span<const std::uint8_t>> views(pieces.begin(), pieces.end());
  const std::vector<scv::spreadsheet::TStreamRun> runs = scv::spreadsheet::MakeStreamRuns(views);
  std::string fromRuns;
  const std::int32_t runsCode = scv::spreadsheet::ExtractWorkbookText(
      scv::spreadsheet::TBiffStream(std::span<const scv::spreadsheet::TStreamRun>(runs)), fromRuns);
  if (runsCode != code || fromRuns != text) {
    __builtin_trap(); // the runs must read as the one buffer does
  }
  return 0;
}
