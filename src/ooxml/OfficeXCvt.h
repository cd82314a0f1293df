// Office Open XML packages (docx, xlsx, pptx) to text.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scv::xml {
class TXMLItem;
class TXMLTree;
} // namespace scv::xml

namespace scv::ooxml {

std::int32_t DocxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);
std::int32_t XlsxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);
std::int32_t PptxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);

// The all-text mode: every story of a package (notes, comments, headers, ...) instead of its
// main part alone. Module-wide, set by the library for one conversion under its lock.
void SetOfficeXAllText(bool on);
bool OfficeXAllText();

// Module-wide objects: created before the program body, released after it.
void InitializeOfficeX();
void FinalizeOfficeX();

// PackageKind values.
inline constexpr std::int32_t kPackageDocument = 0;
inline constexpr std::int32_t kPackageWorkbook = 1;
inline constexpr std::int32_t kPackagePresentation = 2;

// The common worker of the three entries. Returns the byte count stored in result, or -2 (no
// such file), -4 (archive cannot be read), -5 (no content part, or a part that cannot be
// read), -15 (text that is not UTF-8 while encoding for a code page other than 65001 and 0).
std::int32_t OfficeXToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t lineEndOption, std::int32_t packageKind,
                           std::int32_t codePage);

// The workbook's shared-string table: entries in order, duplicates allowed. Kept in one
// buffer; module-wide, filled by the workbook extraction and kept after it.
class TSharedStrings {
public:
  void Clear() {
    bytes_.clear();
    spans_.clear();
  }
  // Clears and gives the storage back.
  void Release() {
    std::string().swap(bytes_);
    std::vector<std::pair<std::size_t, std::size_t>>().swap(spans_);
  }
  void Add(std::string_view text);
  std::size_t Count() const { return spans_.size(); }
  // Bytes the list holds: its texts and a place for each.
  std::size_t Footprint() const { return bytes_.size() + spans_.size() * sizeof(spans_[0]); }
  std::string_view At(std::size_t i) const {
    return std::string_view(bytes_).substr(spans_[i].first, spans_[i].second);
  }

private:
  std::string bytes_;
  std::vector<std::pair<std::size_t, std::size_t>> spans_;
};

// The module's shared strings (the list the last workbook extraction filled).
const TSharedStrings& SharedStrings();

// Walkers: the text of a loaded part, from the compact tree or from an item tree (none gives
// empty text). Sheets take the shared strings to resolve "t=s" cells.
std::string WordPartText(const xml::TXMLTree& tree);
std::string SlidePartText(const xml::TXMLTree& tree);
std::string SheetPartText(const xml::TXMLTree& tree, const TSharedStrings& shared);
std::string WordPartText(const xml::TXMLItem* item);
std::string SlidePartText(const xml::TXMLItem* item);
std::string SheetPartText(const xml::TXMLItem* root, const TSharedStrings& shared);
// The same texts straight from a part's bytes, walked as they stream by (the tree is used,
// and cleared again, only for the rare shapes a streaming walk cannot settle). With a piece
// size the bytes are read through a window in pieces of that size, as an archive's parts are.
std::string WordXmlText(std::string_view xml, xml::TXMLTree& tree, std::size_t pieceSize = 0);
std::string SlideXmlText(std::string_view xml, xml::TXMLTree& tree, std::size_t pieceSize = 0);
std::string SheetXmlText(std::string_view xml, const TSharedStrings& shared, xml::TXMLTree& tree,
                         std::size_t pieceSize = 0);
// The shared-string table of a workbook part: for every child of the root, the text of its
// first child (empty when it has none).
void SharedStringsXml(std::string_view xml, TSharedStrings& strings, xml::TXMLTree& tree,
                      std::size_t pieceSize = 0);

// Integer text as the platform's string-to-integer routine reads it: leading spaces, an
// optional sign, decimal digits, or hexadecimal after "$", "x", "X", "0x" or "0X"; nothing may
// follow; 32-bit range. False when the text is not such an integer.
bool StrToInt32(std::string_view text, std::int32_t& value);
// Row and column of a cell reference (A1 -> 1, 1; AA1 -> 1, 27); both 0 when the reference
// lacks letters or digits. Digits that are not an integer as a whole count by their leading
// decimal digits; throws bytes::EFormatError when those do not fit 32 bits.
void CellRefToRowCol(std::string_view ref, std::int32_t& row, std::int32_t& col);
// Entry n of the list when index is an integer n with 0 <= n < Count(), else empty.
std::string_view SharedStringAt(const TSharedStrings& shared, std::string_view index);
void TrimTrailingTabs(std::string& text);
void TrimTrailingLineEnds(std::string& text);

// Encodes UTF-8 text for a code page as the extractor's last step: 65001 -> EF BB BF + text;
// 0 -> the system's ANSI code page, no mark and no terminator; 1200 -> FF FE + UTF-16LE +
// 00 00; others -> the code page's bytes of the text and a zero unit, plus the converter's
// own zero byte. False (-15) when the text fails the UTF-8 check.
bool EncodeOfficeXText(std::string_view utf8, std::int32_t codePage, std::string& out);

// Upper bound on the extracted text of one file (bytes before encoding). Larger results,
// which only a hostile sheet layout can demand, fail with -5 instead of exhausting memory.
void SetOfficeXTextLimit(std::size_t limit);
// Upper bound on the uncompressed size of one part (default 1 GiB).
void SetOfficeXPartLimit(std::uint64_t limit);
// Size of the pieces deflated parts are inflated and read in (default 1 MiB).
void SetOfficeXPieceSize(std::size_t size);
// In the all-text mode, presentations of at least this many slides have their notes pages
// read on a second thread (default 16; the text is the same either way).
void SetOfficeXNotesAheadFrom(std::size_t slides);
inline constexpr std::size_t kDefaultOfficeXTextLimit = std::size_t{512} << 20;

} // namespace scv::ooxml
