// Fuzzes the Deflate decoder alone: the first byte picks the output limit and the position
// the output starts at; the rest is the raw stream, decoded whole and piece by piece.
#include "codecs/Inflate.h"
#include "zip/Crc32.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) {
    return 0;
  }
  using namespace scv::codecs;
  const std::span<const std::uint8_t> bytes(data, size);
  const std::uint8_t control = bytes[0];
  const std::span<const std::uint8_t> input = bytes.subspan(1);
  // Limits from a few bytes to 16 MB, so the exact-limit paths get exercised.
  const std::uint64_t limit = (control & 0x80) != 0 ? (control & 0x7F) * 37u : 16u << 20;
  scv::bytes::TMemoryStream out;
  if ((control & 0x40) != 0) {
    out.Write("earlier bytes", 13); // history before the start must stay out of reach
  }
  const TInflateResult r = Inflate(input, out, limit, (control & 0x20) != 0 ? limit : 0);
  if (r.produced > limit || r.consumed > input.size()) {
    __builtin_trap();
  }
  // Piece by piece, in pieces of a size the first byte picks, the decoder gives the same
  // bytes, status and counts.
  const std::size_t start = (control & 0x40) != 0 ? 13 : 0;
  TInflateStream stream(input, limit, 1 + (control & 0x1F) * 211u);
  std::size_t at = start;
  for (auto piece = stream.Next(); !piece.empty(); piece = stream.Next()) {
    if (piece.size() > out.Size() - at ||
        std::memcmp(piece.data(), out.Bytes().subspan(at).data(), piece.size()) != 0) {
      __builtin_trap();
    }
    at += piece.size();
  }
  const TInflateResult pieces = stream.Result();
  if (at != out.Size() || pieces.status != r.status || pieces.produced != r.produced ||
      pieces.consumed != r.consumed) {
    __builtin_trap();
  }
  (void)scv::zip::Crc32(out.Bytes());
  return 0;
}
