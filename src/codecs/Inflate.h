// Raw Deflate decoder (RFC 1951): table-driven, writing straight into a memory stream.
#pragma once

#include "bytes/MemoryStream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace scv::codecs {

enum class TInflateStatus {
  kDone,        // the final block ended
  kOutputLimit, // the stream would produce more than the limit; exactly `limit` bytes written
  kTruncated,   // the input ended inside the stream
  kBadData,     // invalid block type, code, code-length set, stored length or distance
  kPaused,      // piece by piece only: a piece is full and decoding goes on
};

struct TInflateResult {
  TInflateStatus status = TInflateStatus::kDone;
  std::size_t produced = 0; // bytes written to the stream
  std::size_t consumed = 0; // input bytes used (whole bytes, rounded up)
};

// Decodes the raw Deflate stream in `input` into `out` at its position, which then moves past
// the bytes written. Matches may only reach back into what this call wrote. At most `limit`
// bytes are written; `sizeHint` (usually the stated size) is how much room to make up front,
// capped by the limit. Whatever the status, the bytes decoded so far stay in the stream.
TInflateResult Inflate(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                       std::uint64_t limit, std::uint64_t sizeHint = 0);

// Decodes a raw Deflate stream a piece at a time, holding only the current piece and the
// 32 KB of history that matches may reach back into, so a stream of any length costs a
// piece. Gives the same bytes and the same final status as Inflate.
class TInflateStream {
public:
  static constexpr std::size_t kDefaultPieceSize = std::size_t{1} << 20;
  static constexpr std::size_t kMaxPieceSize = std::size_t{1} << 30; // larger sizes are cut

  // With `ahead`, a second thread decodes the next pieces while the caller works on the
  // current one (the same pieces; if no thread can be started, decoding stays on the
  // caller's). Worth it for long streams only: each piece is handed over and copied once.
  // `observe`, when set, sees each piece on the thread that decoded it, before it is handed
  // out (a running check over the output costs the caller's thread nothing then).
  using TObserver = std::function<void(std::span<const std::uint8_t>)>;
  TInflateStream(std::span<const std::uint8_t> input, std::uint64_t limit,
                 std::size_t pieceSize = kDefaultPieceSize, bool ahead = false,
                 TObserver observe = {});
  ~TInflateStream();
  TInflateStream(const TInflateStream&) = delete;
  TInflateStream& operator=(const TInflateStream&) = delete;

  // The next decoded bytes, valid until the next call; empty once decoding stopped. A piece
  // may be empty only then.
  std::span<const std::uint8_t> Next();
  // How decoding stopped (kPaused while pieces remain), with the totals so far.
  TInflateResult Result() const;
  // Bytes just before the piece last handed out that the caller may overwrite: when decoding
  // ahead, each piece has kRoomBefore of its own there; otherwise none (the history is there).
  static constexpr std::size_t kRoomBefore = std::size_t{64} << 10;
  std::size_t RoomBefore() const;

private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Largest number of bytes a Deflate stream of n input bytes can produce (258 bytes from
// every 2 bits, plus one match): an upper bound for sizing output from compressed sizes.
inline std::uint64_t InflateBound(std::uint64_t n) {
  return n * 1032 + 258;
}

} // namespace scv::codecs
