// Builds workbook streams for tests: records with automatic CONTINUE splits, shared string
// tables, cell records and whole workbooks with their sheet substreams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scv::test {

using TBytes = std::vector<std::uint8_t>;

// Little-endian field writer for record bodies.
class TBodyWriter {
public:
  TBodyWriter& U8(std::uint8_t v);
  TBodyWriter& U16(std::uint16_t v);
  TBodyWriter& U32(std::uint32_t v);
  TBodyWriter& F64(double v);
  TBodyWriter& Raw(const TBytes& bytes);
  TBodyWriter& Latin1(const std::string& bytes);  // the bytes as they are
  TBodyWriter& Utf16(const std::u16string& text); // UTF-16LE
  const TBytes& Bytes() const { return bytes_; }
  operator TBytes() const { return bytes_; }

private:
  TBytes bytes_;
};

// A string of the shared string table: characters, width, and optional formatting runs and
// extended (phonetic) block.
struct TSstString {
  std::u16string text;
  bool highByte = false;      // 2-byte characters
  std::uint16_t runs = 0;     // formatting runs (4 bytes each) after the characters
  std::uint32_t extBytes = 0; // extended block size after the runs
};

class TBiffBuilder {
public:
  // Largest record body (the format's limit for the record data of one record).
  static constexpr std::size_t kMaxBody = 8224;

  // One record as given; the body may be of any size up to 65535 bytes.
  TBiffBuilder& Record(std::uint16_t id, const TBytes& body);
  // One record with an explicit length field (may disagree with the body written).
  TBiffBuilder& RawRecord(std::uint16_t id, std::uint16_t length, const TBytes& body);
  // A record whose body is split into CONTINUE records every maxBody bytes.
  TBiffBuilder& RecordWithContinue(std::uint16_t id, const TBytes& body,
                                   std::size_t maxBody = kMaxBody);
  // An SST record with CONTINUE records where the body passes maxBody bytes. A string header
  // (cch, flags, cRun, cbExtRst) is never split; characters split at a whole character and the
  // continuing record starts with the option byte of the rest's width. When forceSplitWidth is
  // set, 1-byte characters continue as 2-byte ones after a split (and 2-byte as 1-byte where they
  // fit), as a writer may do.
  TBiffBuilder& Sst(const std::vector<TSstString>& strings, std::size_t maxBody = kMaxBody,
                    bool forceSplitWidth = false, std::uint32_t cstTotal = 0);
  TBiffBuilder& Bytes(const TBytes& bytes);

  std::size_t Position() const { return bytes_.size(); }
  void Patch32(std::size_t offset, std::uint32_t value);
  const TBytes& Stream() const { return bytes_; }

private:
  TBytes bytes_;
};

// Bodies and whole records of the common types.
TBytes BofBody(std::uint16_t dt, std::uint16_t vers = 0x0600);
TBytes BoundSheet8Body(std::uint32_t lbPlyPos, std::uint8_t dt, const std::u16string& name,
                       bool highByte = false);
TBytes XfBody(std::uint16_t ifmt);
TBytes FormatBody(std::uint16_t ifmt, const std::string& latin1Text);
TBytes LabelSstBody(std::uint16_t rw, std::uint16_t col, std::uint32_t isst,
                    std::uint16_t ixfe = 0);
TBytes NumberBody(std::uint16_t rw, std::uint16_t col, double num, std::uint16_t ixfe = 0);
TBytes RkBody(std::uint16_t rw, std::uint16_t col, std::uint32_t rk, std::uint16_t ixfe = 0);
TBytes MulRkBody(std::uint16_t rw, std::uint16_t colFirst, const std::vector<std::uint32_t>& rks,
                 std::uint16_t ixfe = 0);
TBytes BlankBody(std::uint16_t rw, std::uint16_t col, std::uint16_t ixfe = 0);
TBytes MulBlankBody(std::uint16_t rw, std::uint16_t colFirst, std::size_t count,
                    std::uint16_t ixfe = 0);
// FORMULA with a cached value (8 bytes as given), grbit, and rgce bytes, plus extra trailing
// bytes inside the record.
TBytes FormulaBody(std::uint16_t rw, std::uint16_t col, const TBytes& val8, std::uint16_t grbit = 0,
                   const TBytes& rgce = {0x1E, 0x01, 0x00}, const TBytes& extra = {},
                   std::uint16_t ixfe = 0);
TBytes FormulaNumberValue(double v);
// LABEL (0x0204) and RSTRING (0x00D6) of BIFF8: rw, col, ixfe, XLUnicodeString (cch 2, flags 1,
// characters); RSTRING adds cRun (2) and the runs (4 bytes each).
TBytes LabelBody(std::uint16_t rw, std::uint16_t col, const std::u16string& text,
                 bool highByte = false, std::uint16_t ixfe = 0);
TBytes RStringBody(std::uint16_t rw, std::uint16_t col, const std::u16string& text,
                   std::uint16_t runs, std::uint16_t ixfe = 0);
// LABEL of BIFF3-5: rw, col, ixfe, cch (2) and the bytes as given.
TBytes ByteLabelBody(std::uint16_t rw, std::uint16_t col, const std::string& bytes,
                     std::uint16_t ixfe = 0);
// BOOLERR: rw, col, ixfe, the value and fError.
TBytes BoolErrBody(std::uint16_t rw, std::uint16_t col, std::uint8_t value, bool error,
                   std::uint16_t ixfe = 0);
// STRING of BIFF8: an XLUnicodeString.
TBytes StringBody(const std::u16string& text, bool highByte = false);
// The cell head of BIFF2 records: rw, col and 3 attribute bytes, the number format index in the
// second one.
TBytes Biff2CellHead(std::uint16_t rw, std::uint16_t col, std::uint8_t format = 0);
// val with bytes 6-7 = FF FF: type in byte 0, value in byte 2.
TBytes FormulaSpecialValue(std::uint8_t type, std::uint8_t value);

// One sheet of a built workbook: its name, type and the records of its substream between BOF
// and EOF (each a full record: header and body).
struct TBiffSheet {
  std::u16string name;
  std::uint8_t dt = 0;
  TBiffBuilder records;
  bool eof = true; // write the sheet's EOF
  bool highByteName = false;
};

// A workbook stream: globals BOF, the extra globals records, BoundSheet8 per sheet, the SST (if
// any strings), EOF, then each sheet's substream with lbPlyPos patched.
struct TWorkbookPlan {
  std::uint16_t vers = 0x0600; // BOF vers of the globals and of each sheet
  std::vector<TSstString> strings;
  std::size_t sstMaxBody = TBiffBuilder::kMaxBody;
  TBiffBuilder globalsExtra; // after the BOF, before the BoundSheet8 records
  std::vector<TBiffSheet> sheets;
  bool globalsEof = true;
};

TBytes BuildWorkbookStream(const TWorkbookPlan& plan);

// BIFF4 record bodies: BOF (vers 0, dt, build 0), FORMAT (2 unused bytes, 8-bit count, bytes),
// XF (ifnt, ifmt, 10 more bytes).
TBytes Bof4Body(std::uint16_t dt);
TBytes Format4Body(const std::string& bytes);
TBytes Xf4Body(std::uint8_t ifmt);

// One sheet of an Excel 4.0 workbook: its name (8-bit characters as given), substream type and
// the records between its BOF and EOF.
struct TWorkbook4Sheet {
  std::string name;
  std::uint16_t dt = 0x0010;
  TBiffBuilder records;
  bool eof = true;
};

// An Excel 4.0 workbook stream: the globals (BIFF4 BOF of type 0x0100, the extra records, a
// SHEETSOFFSET naming the first sheet header, EOF), then per sheet a SHEETHDR (the size of the
// substream that follows, the name as an 8-bit count and its bytes) and the sheet's substream.
struct TWorkbook4Plan {
  TBiffBuilder globalsExtra;
  std::vector<TWorkbook4Sheet> sheets;
  bool sheetsOffset = true;
  bool globalsEof = true;
};

// Where the parts of a built Excel 4.0 workbook are, for patching hostile shapes.
struct TWorkbook4Layout {
  std::size_t sheetsOffsetField = 0;   // the SHEETSOFFSET value (0 without the record)
  std::size_t globalsEnd = 0;          // just after the globals
  std::vector<std::size_t> headers;    // each SHEETHDR record
  std::vector<std::size_t> sizeFields; // each SHEETHDR's size value
  std::vector<std::size_t> substreams; // each sheet's BOF
};

TBytes BuildWorkbook4Stream(const TWorkbook4Plan& plan, TWorkbook4Layout* layout = nullptr);

// Shortcut for string tables of 1-byte strings.
std::vector<TSstString> SstStrings(const std::vector<std::u16string>& texts);

} // namespace scv::test
