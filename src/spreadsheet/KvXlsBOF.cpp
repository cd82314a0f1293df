// BOF record of the workbook globals and of each sheet substream, and the record walk over the
// runs of the workbook stream.
#include "spreadsheet/KvXlsBOF.h"

#include <algorithm>
#include <cstring>

namespace scv::spreadsheet {

std::vector<TStreamRun> MakeStreamRuns(std::span<const std::span<const std::uint8_t>> pieces) {
  std::vector<TStreamRun> runs;
  runs.reserve(pieces.size());
  std::size_t offset = 0;
  for (const auto piece : pieces) {
    if (!piece.empty()) {
      runs.push_back({offset, piece});
      offset += piece.size();
    }
  }
  return runs;
}

void TBiffStream::FindRun(std::size_t offset) {
  if (offset >= size_) {
    run_ = {};
    runStart_ = size_;
    at_ = 0;
    return;
  }
  const std::span<const TStreamRun> runs = runs_.empty() ? std::span(&one_, 1) : runs_;
  // The last run starting at or before offset; the first starts at 0.
  const auto it =
      std::upper_bound(runs.begin(), runs.end(), offset,
                       [](std::size_t off, const TStreamRun& r) { return off < r.offset; });
  const TStreamRun& run = *(it - 1);
  runStart_ = run.offset;
  run_ = run.bytes.first(std::min(run.bytes.size(), size_ - run.offset));
  at_ = offset - run.offset;
}

bool TBiffStream::ReadHeaderAcross(TRecordHeader& header) {
  const std::size_t pos = Position();
  if (size_ - pos < kRecordHeaderSize) {
    FindRun(size_);
    return false;
  }
  std::uint8_t h[kRecordHeaderSize];
  const auto p = Gather(pos, std::span<std::uint8_t>(h));
  header.id = bytes::LoadU16(p);
  header.length = bytes::LoadU16(p.subspan(2));
  FindRun(pos + kRecordHeaderSize);
  return true;
}

std::span<const std::uint8_t> TBiffStream::BodyAcross(const TRecordHeader& header,
                                                      std::vector<std::uint8_t>& scratch) {
  const std::size_t n = BodySize(header);
  const std::size_t pos = Position();
  FindRun(pos);
  if (n <= run_.size() - at_) {
    return run_.subspan(at_, n);
  }
  scratch.resize(n);
  return Gather(pos, scratch);
}

std::span<const std::uint8_t> TBiffStream::Gather(std::size_t offset,
                                                  std::span<std::uint8_t> out) const {
  const std::span<const TStreamRun> runs = runs_.empty() ? std::span(&one_, 1) : runs_;
  const auto it =
      std::upper_bound(runs.begin(), runs.end(), offset,
                       [](std::size_t off, const TStreamRun& r) { return off < r.offset; });
  std::size_t done = 0;
  for (auto r = it - 1; done < out.size() && r != runs.end(); ++r) {
    const std::size_t from = offset + done - r->offset;
    const std::size_t n = std::min(out.size() - done, r->bytes.size() - from);
    std::memcpy(out.subspan(done).data(), r->bytes.subspan(from).data(), n);
    done += n;
  }
  return out.first(done);
}

bool ReadBof(std::span<const std::uint8_t> body, std::uint16_t id, TBof& bof) {
  if (id != TBof::kId) {
    return false;
  }
  TByteCursor cur(body);
  bof = TBof{};
  bof.vers = cur.ReadU16();
  if (bof.vers != kBiff8Version) {
    return true;
  }
  bof.dt = cur.ReadU16();
  bof.rupBuild = cur.ReadU16();
  bof.rupYear = cur.ReadU16();
  bof.flags = cur.ReadU32();
  bof.verLowestBiff = cur.ReadU8();
  bof.verLastXLSaved = static_cast<std::uint8_t>(cur.ReadU16() & 0xFF);
  return true;
}

} // namespace scv::spreadsheet
