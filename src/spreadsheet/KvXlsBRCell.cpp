// Cell record readers and the RK, NUMBER and formula value encodings.
#include "spreadsheet/KvXlsBRCell.h"

#include "bytes/ByteCursor.h"
#include "spreadsheet/KvXlsCell.h"

#include <cstring>

namespace scv::spreadsheet {

using bytes::TByteCursor;

namespace {

double BitsToDouble(std::uint64_t bits) {
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::uint64_t Load64(std::span<const std::uint8_t, 8> b) {
  return std::uint64_t{bytes::LoadU32(b)} | std::uint64_t{bytes::LoadU32(b.subspan<4>())} << 32;
}

void ReadBytes8(TByteCursor& cur, std::array<std::uint8_t, 8>& out) {
  // Missing bytes read as zero. After an earlier short field the cursor has failed and takes
  // nothing.
  const auto bytes = cur.Take(cur.Remaining() < 8 ? cur.Remaining() : 8);
  out.fill(0);
  if (!bytes.empty()) {
    std::memcpy(out.data(), bytes.data(), bytes.size());
  }
}

constexpr std::size_t kMulHeadSize = 6; // rw, colFirst and the trailing colLast

} // namespace

double DecodeNumber(std::span<const std::uint8_t, 8> num) {
  if (num[6] == 0xFF && num[7] == 0xFF) {
    return 0;
  }
  return BitsToDouble(Load64(num));
}

double DecodeFormulaValue(std::span<const std::uint8_t, 8> val) {
  if (val[6] != 0xFF || val[7] != 0xFF) {
    return BitsToDouble(Load64(val));
  }
  switch (val[0]) {
  case 1: // boolean
  case 2: // error code
    return val[2];
  default: // 0 string, 3 blank, unknown types
    return 0;
  }
}

TFormulaResult DecodeFormulaResult(std::span<const std::uint8_t, 8> val) {
  if (val[6] != 0xFF || val[7] != 0xFF) {
    return TFormulaResult{kCellFormula, BitsToDouble(Load64(val))};
  }
  switch (val[0]) {
  case 0:
    return TFormulaResult{kCellText, 0};
  case 1:
    return TFormulaResult{kCellBoolean, val[2] != 0 ? 1.0 : 0.0};
  case 2:
    return TFormulaResult{kCellError, static_cast<double>(val[2])};
  default: // 3 blank, and types the format does not define
    return TFormulaResult{kCellBlank, 0};
  }
}

TRkRec TMulRK::At(std::size_t i) const {
  // ReadMulRK takes exactly count * 6 bytes for rgrkrec.
  const auto p = rgrkrec.subspan(i * 6, 6);
  return TRkRec{bytes::LoadU16(p), bytes::LoadU32(p.subspan(2))};
}

std::uint16_t TMulBlank::At(std::size_t i) const {
  // ReadMulBlank takes exactly count * 2 bytes for rgixfe.
  return bytes::LoadU16(rgixfe.subspan(2 * i, 2));
}

bool ReadLabelSst(std::span<const std::uint8_t> body, std::uint16_t id, TLabelSst& rec) {
  if (id != TLabelSst::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.col = cur.ReadU16();
  rec.ixfe = cur.ReadU16();
  rec.isst = cur.ReadU32();
  return true;
}

bool ReadNumber(std::span<const std::uint8_t> body, std::uint16_t id, TNumber& rec) {
  if (id != TNumber::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.col = cur.ReadU16();
  rec.ixfe = cur.ReadU16();
  ReadBytes8(cur, rec.num);
  return true;
}

bool ReadRk(std::span<const std::uint8_t> body, std::uint16_t id, TRk& rec) {
  if (id != TRk::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.col = cur.ReadU16();
  rec.ixfe = cur.ReadU16();
  rec.rk = cur.ReadU32();
  return true;
}

bool ReadMulRK(std::span<const std::uint8_t> body, std::uint16_t id, TMulRK& rec) {
  if (id != TMulRK::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.colFirst = cur.ReadU16();
  rec.count = body.size() < kMulHeadSize ? 0 : (body.size() - kMulHeadSize) / 6;
  rec.rgrkrec = cur.Take(rec.count * 6);
  rec.colLast = body.size() < kMulHeadSize ? 0 : bytes::LoadU16At(body, body.size() - 2);
  return true;
}

bool ReadBlank(std::span<const std::uint8_t> body, std::uint16_t id, TBlank& rec) {
  if (id != TBlank::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.col = cur.ReadU16();
  rec.ixfe = cur.ReadU16();
  return true;
}

bool ReadMulBlank(std::span<const std::uint8_t> body, std::uint16_t id, TMulBlank& rec) {
  if (id != TMulBlank::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.colFirst = cur.ReadU16();
  rec.count = body.size() < kMulHeadSize ? 0 : (body.size() - kMulHeadSize) / 2;
  rec.rgixfe = cur.Take(rec.count * 2);
  rec.colLast = body.size() < kMulHeadSize ? 0 : bytes::LoadU16At(body, body.size() - 2);
  return true;
}

bool ReadFormula(std::span<const std::uint8_t> body, std::uint16_t id, TFormula& rec) {
  if (id != TFormula::kId) {
    return false;
  }
  TByteCursor cur(body);
  rec.rw = cur.ReadU16();
  rec.col = cur.ReadU16();
  rec.ixfe = cur.ReadU16();
  ReadBytes8(cur, rec.val);
  rec.grbit = cur.ReadU16();
  rec.chn = cur.ReadU32();
  rec.cce = cur.ReadU16();
  return true;
}

} // namespace scv::spreadsheet
