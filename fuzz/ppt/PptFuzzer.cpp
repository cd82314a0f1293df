// Fuzzes the PowerPoint record reader and the entry's encoding step. Input: the 4-byte
// offsetToCurrentEdit, one byte choosing the target code page, then the "PowerPoint Document"
// stream. The "Current User" stream is made from the offset, so the fuzzer spends its time on
// the edit chain, the persist directories and the walks rather than on the header token.
#include "wordppt/KvPptCvt.h"
#include "wordppt/KvPptReader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 1 << 20;
constexpr std::int32_t kCodePages[] = {65001, 1200, 1252, 1251, 932, 0};

std::vector<std::uint8_t> CurrentUser(std::uint32_t offsetToCurrentEdit) {
  std::vector<std::uint8_t> cu = {0x00, 0x00, 0xF6, 0x0F, 20,   0,    0,    0,
                                  20,   0,    0,    0,    0x5F, 0xC0, 0x91, 0xE3};
  for (int i = 0; i < 4; ++i) {
    cu.push_back(static_cast<std::uint8_t>(offsetToCurrentEdit >> (8 * i)));
  }
  cu.resize(28, 0);
  return cu;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5 || size > kMaxInput) {
    return 0;
  }
  const std::span<const std::uint8_t> input(data, size);
  const std::uint32_t offset = std::uint32_t{input[0]} | std::uint32_t{input[1]} << 8 |
                               std::uint32_t{input[2]} << 16 | std::uint32_t{input[3]} << 24;
  const std::int32_t codePage = kCodePages[input[4] % std::size(kCodePages)];
  const std::vector<std::uint8_t> currentUser = CurrentUser(offset);
  const std::span<const std::uint8_t> stream = input.subspan(5);
  const std::vector<std::uint8_t> document(stream.begin(), stream.end());
  std::u16string text;
  try {
    if (scv::wordppt::ExtractPptText(&currentUser, &document, text) == 0) {
      (void)scv::wordppt::EncodePptText(text, codePage);
    }
  } catch (const scv::bytes::EFormatError&) {
    // Misplaced text records and runaway repetition are format errors by design.
  }
  return 0;
}
