// Workbook stream records: ids, the record header walk, and the BOF record.
#pragma once

#include "bytes/ByteCursor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace scv::spreadsheet {

using bytes::TByteCursor;

// Record ids the extractor reads; every other id is skipped by its length.
inline constexpr std::uint16_t kIdFormula = 0x0006;
inline constexpr std::uint16_t kIdEof = 0x000A;
inline constexpr std::uint16_t kIdFilePass = 0x002F;
inline constexpr std::uint16_t kIdContinue = 0x003C;
inline constexpr std::uint16_t kIdBoundSheet8 = 0x0085;
inline constexpr std::uint16_t kIdMulRk = 0x00BD;
inline constexpr std::uint16_t kIdMulBlank = 0x00BE;
inline constexpr std::uint16_t kIdXF = 0x00E0;
inline constexpr std::uint16_t kIdSst = 0x00FC;
inline constexpr std::uint16_t kIdLabelSst = 0x00FD;
inline constexpr std::uint16_t kIdBlank = 0x0201;
inline constexpr std::uint16_t kIdNumber = 0x0203;
inline constexpr std::uint16_t kIdRk = 0x027E;
inline constexpr std::uint16_t kIdBof = 0x0809;
inline constexpr std::uint16_t kIdFormat = 0x041E;
inline constexpr std::uint16_t kIdDateMode = 0x0022;
inline constexpr std::uint16_t kIdCodePage = 0x0042;
inline constexpr std::uint16_t kIdRString = 0x00D6;
inline constexpr std::uint16_t kIdLabel = 0x0204;
inline constexpr std::uint16_t kIdBoolErr = 0x0205;
inline constexpr std::uint16_t kIdString = 0x0207;
inline constexpr std::uint16_t kIdArray = 0x0221;
inline constexpr std::uint16_t kIdTable = 0x0236;
inline constexpr std::uint16_t kIdShrFmla = 0x04BC;

// Records of the older versions (BIFF2-4) that BIFF5 and BIFF8 write differently or not at
// all. BIFF2 cells carry 3 attribute bytes instead of an XF index.
inline constexpr std::uint16_t kIdBof2 = 0x0009;
inline constexpr std::uint16_t kIdBof3 = 0x0209;
inline constexpr std::uint16_t kIdBof4 = 0x0409;
inline constexpr std::uint16_t kIdBlank2 = 0x0001;
inline constexpr std::uint16_t kIdInteger2 = 0x0002;
inline constexpr std::uint16_t kIdNumber2 = 0x0003;
inline constexpr std::uint16_t kIdLabel2 = 0x0004;
inline constexpr std::uint16_t kIdBoolErr2 = 0x0005;
inline constexpr std::uint16_t kIdString2 = 0x0007;
inline constexpr std::uint16_t kIdArray2 = 0x0021;
inline constexpr std::uint16_t kIdTable2 = 0x0036;
inline constexpr std::uint16_t kIdFormula3 = 0x0206;
inline constexpr std::uint16_t kIdFormula4 = 0x0406;
inline constexpr std::uint16_t kIdFormat2 = 0x001E; // BIFF2-3; BIFF4 uses 0x041E
inline constexpr std::uint16_t kIdXF3 = 0x0243;
inline constexpr std::uint16_t kIdXF4 = 0x0443;
// Excel 4.0 workbooks: the globals name the position of the first sheet header
// (SHEETSOFFSET), and a sheet header (SHEETHDR) precedes each sheet substream.
inline constexpr std::uint16_t kIdSheetsOffset = 0x008E;
inline constexpr std::uint16_t kIdSheetHdr = 0x008F;

// True for the BOF ids of every version.
inline bool IsBofId(std::uint16_t id) {
  return id == kIdBof || id == kIdBof2 || id == kIdBof3 || id == kIdBof4;
}

inline constexpr std::size_t kRecordHeaderSize = 4;

// Record header: id (2) and body length (2).
struct TRecordHeader {
  std::uint16_t id = 0;
  std::uint16_t length = 0;
};

// One run of consecutive bytes of the workbook stream: where it starts in the stream, and its
// bytes. A compound file keeps a stream in runs of consecutive sectors.
struct TStreamRun {
  std::size_t offset = 0;
  std::span<const std::uint8_t> bytes;
};

// The runs of a stream held as views of consecutive pieces, in stream order and without gaps.
std::vector<TStreamRun> MakeStreamRuns(std::span<const std::span<const std::uint8_t>> pieces);

// The workbook stream, walked one record at a time, over one buffer or over the runs a compound
// file keeps it in, so that the stream is read in place and never copied whole. A header or body
// that lies in one run is a view of it; one that crosses from a run into the next is assembled
// in a buffer of the walker's own, which holds one record (at most 65,535 bytes). Positions
// never pass the end of the stream; a body is cut to the bytes that exist. A copy walks on its
// own from the same position and assembles into a buffer of its own; the runs are borrowed and
// must outlive every copy.
class TBiffStream {
public:
  explicit TBiffStream(std::span<const std::uint8_t> bytes)
      : one_{0, bytes}, size_(bytes.size()), run_(bytes) {}
  // Over runs (in stream order, without gaps) that outlive the stream.
  explicit TBiffStream(std::span<const TStreamRun> runs) : runs_(runs) {
    if (!runs_.empty()) {
      size_ = runs_.back().offset + runs_.back().bytes.size();
    }
    FindRun(0);
  }

  std::size_t Position() const { return runStart_ + at_; }
  std::size_t Size() const { return size_; }
  bool AtEnd() const { return Position() >= size_; }

  // The first n bytes as a stream of their own, positioned at 0 (all of it when n is 0 or
  // beyond the size).
  TBiffStream First(std::size_t n) const {
    TBiffStream s = *this;
    if (n != 0 && n < s.size_) {
      s.size_ = n;
    }
    s.FindRun(0);
    return s;
  }

  // Positions beyond the end land at the end.
  void Seek(std::size_t position) {
    if (position - runStart_ <= run_.size()) {
      at_ = position - runStart_; // within the current run or at its end
    } else {
      FindRun(position < size_ ? position : size_);
    }
  }
  void SeekToEnd() { FindRun(size_); }

  // Reads the header at the position and moves past it. Fewer than 4 bytes left: moves to the
  // end and returns false.
  bool ReadHeader(TRecordHeader& header) {
    // The current run is cut to the size, so a header inside it is inside the stream.
    if (run_.size() - at_ >= kRecordHeaderSize) [[likely]] {
      const auto p = run_.subspan(at_, kRecordHeaderSize);
      header.id = bytes::LoadU16(p);
      header.length = bytes::LoadU16(p.subspan(2));
      at_ += kRecordHeaderSize;
      return true;
    }
    return ReadHeaderAcross(header);
  }

  // The body length of a record whose header was just read, cut to the bytes that exist.
  std::size_t BodySize(const TRecordHeader& header) const {
    const std::size_t avail = size_ - Position();
    return header.length < avail ? header.length : avail;
  }

  // The body of a record whose header was just read (the position is its start), cut to the
  // bytes that exist. Does not move. Valid until the next Body of this stream (when assembled)
  // and while the runs live.
  std::span<const std::uint8_t> Body(const TRecordHeader& header) {
    return Body(header, scratch_.bytes);
  }
  // The same, assembled in scratch when the body crosses runs; valid while scratch is not
  // changed, and while the runs live.
  std::span<const std::uint8_t> Body(const TRecordHeader& header,
                                     std::vector<std::uint8_t>& scratch) {
    if (header.length <= run_.size() - at_) [[likely]] {
      return run_.subspan(at_, header.length);
    }
    return BodyAcross(header, scratch);
  }

  // Moves past the body of the record whose header was just read.
  void SkipBody(const TRecordHeader& header) {
    if (header.length <= run_.size() - at_) [[likely]] {
      at_ += header.length;
    } else {
      Seek(Position() + header.length);
    }
  }

private:
  // A buffer that stays with its walker: copying the walker gives the copy an empty one.
  struct TScratch {
    std::vector<std::uint8_t> bytes;
    TScratch() = default;
    TScratch(const TScratch& /*other*/) {}
    TScratch(TScratch&&) noexcept = default;
    TScratch& operator=(const TScratch& /*other*/) { return *this; }
    TScratch& operator=(TScratch&&) noexcept = default;
    ~TScratch() = default;
  };

  // The header or body at the position when it is not inside the current run: at the end of
  // the stream, in the next run, or crossing from one run into the next.
  bool ReadHeaderAcross(TRecordHeader& header);
  std::span<const std::uint8_t> BodyAcross(const TRecordHeader& header,
                                           std::vector<std::uint8_t>& scratch);
  // Moves to offset (at most the size), making the run that holds it current, cut to the size
  // (an empty one at the end of the stream).
  void FindRun(std::size_t offset);
  // Copies the bytes [offset, offset + out.size()) (within the size) from the runs they cross.
  std::span<const std::uint8_t> Gather(std::size_t offset, std::span<std::uint8_t> out) const;

  std::span<const TStreamRun> runs_; // empty: the stream is one_
  TStreamRun one_;
  std::size_t size_ = 0;
  // The position is at_ bytes into the current run, which starts at runStart_ and is cut to the
  // size (at_ <= run_.size(); at its end, the next run begins).
  std::span<const std::uint8_t> run_;
  std::size_t runStart_ = 0;
  std::size_t at_ = 0;
  TScratch scratch_;
};

inline constexpr std::uint16_t kBiff8Version = 0x0600;
inline constexpr std::uint16_t kBiff5Version = 0x0500;

// Substream types of the BOF dt field.
inline constexpr std::uint16_t kBofGlobals = 0x0005;
inline constexpr std::uint16_t kBofWorksheet = 0x0010;
inline constexpr std::uint16_t kBofChart = 0x0020;
// In a BIFF4 BOF: the globals of an Excel 4.0 workbook, whose sheets follow as substreams.
inline constexpr std::uint16_t kBofWorkbook4 = 0x0100;

// BOF (16-byte body): vers, dt, rupBuild, rupYear, flags (4), verLowestBiff (1),
// verLastXLSaved (2, low 8 bits kept), reserved (1).
struct TBof {
  static constexpr std::uint16_t kId = kIdBof;
  std::uint16_t vers = 0;
  std::uint16_t dt = 0;
  std::uint16_t rupBuild = 0;
  std::uint16_t rupYear = 0;
  std::uint32_t flags = 0;
  std::uint8_t verLowestBiff = 0;
  std::uint8_t verLastXLSaved = 0;
};

// Reads a BOF body. False (nothing read) for another id. Only vers is read unless it is 0x0600;
// missing bytes read as zero.
bool ReadBof(std::span<const std::uint8_t> body, std::uint16_t id, TBof& bof);

} // namespace scv::spreadsheet
