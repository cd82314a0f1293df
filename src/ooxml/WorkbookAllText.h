// The all-text mode of workbooks: the sheets in the workbook's order, each behind its name, and
// every cell's value as the 97-2003 workbook extractor shows it (numbers through their formats,
// booleans, errors), laid out as that extractor lays out its sheets.
#pragma once

#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
#include "spreadsheet/KvXlsStyle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {
class TXMLTree;
}

namespace scv::ooxml {

// What the all-text cells are rendered with: the workbook's shared strings and its number
// formats (the cell formats of styles.xml as an XF list, the 1904 date system).
struct TWorkbookCells {
  const TSharedStrings& shared;
  const spreadsheet::TStyleData& style;
  bool date1904 = false;
};

// Cell formats beyond this many render in the general format (the XF index of the renderer
// has 16 bits).
inline constexpr std::size_t kMaxCellFormats = 0xFFFF;
// Format codes longer than this render in the general format: every cell of the format would
// otherwise read the whole code again.
inline constexpr std::size_t kMaxFormatCodeBytes = 1024;

// A worksheet as the 97-2003 extractor lays it out: one line per row that holds a cell
// (formatted empty cells included), each cell behind the TABs that bring the line to its
// column (A = none), no TABs after the last cell; rows without cells give no line. Rows are
// taken in the order they come, whatever their numbers; a cell without a reference is the
// one after the previous, and cells beyond the last column a sheet can have are left out.
// Serves the streaming sheet sink and the tree walk alike (the interface of TSheetLayout).
class TAllTextLayout {
public:
  using TSource = TWorkbookCells;
  TAllTextLayout(const TWorkbookCells& cells, std::int32_t /*lastRow*/, std::int32_t /*lastCol*/)
      : cells_(cells) {}

  static bool Accepting() { return true; }
  static bool Clipped() { return false; }

  template <typename Access>
  bool BeginRow(const Access& /*access*/, typename Access::TRef /*row*/, bool isRow) {
    return PlaceRow(nullptr, isRow);
  }
  bool PlaceRow(const std::string_view* /*ref*/, bool isRow) {
    column_ = 0;
    previousCol_ = -1;
    placed_ = 0;
    return isRow;
  }
  static bool WouldPlaceRow(const std::string_view* /*ref*/, bool isRow) { return isRow; }

  template <typename Access>
  void AddCell(const Access& access, typename Access::TRef cell, bool isCell) {
    PlaceTreeCell(*this, access, cell, isCell, [&] { return CellValue(access, cell); });
  }
  template <typename ValueOf>
  void PlaceCell(const std::string_view* ref, bool isCell, ValueOf valueOf) {
    if (!isCell) {
      return;
    }
    std::int64_t col = ref != nullptr ? ColumnOf(*ref) : -1;
    if (col < 0) {
      col = previousCol_ + 1;
    }
    previousCol_ = col;
    if (col >= kSheetMaxColumn) {
      return;
    }
    if (column_ < col) {
      const auto gap = static_cast<std::size_t>(col - column_);
      CheckGrowth(text_, gap);
      text_.append(gap, '\t');
      column_ = col;
    }
    const std::string_view value = valueOf();
    CheckGrowth(text_, value.size());
    text_ += value;
    ++placed_;
  }
  // What a cell shows from its type, its format and its first "v" (null without one).
  std::string_view ValueText(const TCellType& type, const std::string_view* v);

  void EndRow() {
    if (placed_ != 0) {
      CheckGrowth(text_, 2);
      text_ += "\r\n";
    }
  }

  struct TRowMark {
    std::size_t size;
    std::int64_t column;
    std::int64_t previousCol;
    std::size_t cellsPlaced;
  };
  TRowMark MarkRow() const { return {text_.size(), column_, previousCol_, placed_}; }
  void RewindRow(const TRowMark& mark) {
    text_.resize(mark.size);
    column_ = mark.column;
    previousCol_ = mark.previousCol;
    placed_ = mark.cellsPlaced;
  }

  std::string Finish() { return std::move(text_); }

  // The zero-based column of a reference's letters (A = 0; case ignored); -1 when it does
  // not start with one to three letters.
  static std::int64_t ColumnOf(std::string_view ref);

private:
  // An inline string's text (t="inlineStr" and an "is" child), else the first "v" as
  // ValueText reads it.
  template <typename Access>
  std::string_view CellValue(const Access& access, typename Access::TRef cell) {
    return TreeCellValue(
        access, cell, scratch_, decoded_,
        [this](const TCellType& type, const std::string_view* v) { return ValueText(type, v); });
  }

  const TWorkbookCells& cells_;
  std::int64_t column_ = 0;       // the line's column counter: TABs written so far
  std::int64_t previousCol_ = -1; // column of the row's previous cell
  std::size_t placed_ = 0;        // cells of the current row
  std::string text_;
  std::string scratch_;
  std::string decoded_;
  std::string rendered_;
};

// The all-text rows of a worksheet loaded into the tree (for the shapes the streaming walk
// gives up on).
std::string AllTextSheetFromTree(const xml::TXMLTree& tree, const TWorkbookCells& cells);

// The number formats of a styles part: the built-in formats, the part's "numFmt" codes and its
// "cellXfs" list; format numbers the renderer's table cannot hold take free places of it.
void ReadWorkbookStyles(const xml::TXMLTree& tree, spreadsheet::TStyleData& style);

// One sheet of the workbook part: its name and the archive name of its worksheet part (empty
// when its relationship names none that can be read).
struct TWorkbookSheet {
  std::string name;
  std::string part;
};

// The workbook part's sheets in order (a "sheet" of "sheets", whatever its state: hidden
// sheets count as the 97-2003 extractor counts them) with their worksheet parts through the
// relationships (null tree: none); date1904 from "workbookPr". Relationships of other types
// (chart sheets, dialog sheets) and external targets give no part.
std::vector<TWorkbookSheet> WorkbookSheets(const xml::TXMLTree& workbook,
                                           const xml::TXMLTree* relationships, bool& date1904);

// The archive name (backslashes) of a relationship target of the workbook part in "xl/":
// relative to that folder, or absolute from the package root; "." and ".." resolved. Empty
// for a target that leaves the package, names a folder, or holds wildcard characters.
std::string ResolveWorkbookTarget(std::string_view target);

// The worksheet parts of a package without a usable workbook part, in the order the default
// text takes them ("sheet<N>.xml" by number, then the other names under xl\worksheets\ by
// name), named "sheet<N>" by the number of their place.
std::vector<TWorkbookSheet> FallbackSheets(const std::vector<std::string>& entryNames);

// What the all-text workbook reads from its package.
class TWorkbookPackage {
public:
  virtual ~TWorkbookPackage() = default;
  // Loads a small part (workbook, relationships, styles) into the tree; false when no entry of
  // it extracts, or it is no XML that can be read.
  virtual bool LoadPart(std::string_view name, xml::TXMLTree& tree) = 0;
  // The all-text rows of a worksheet part (as it streams by); false when no entry of it
  // extracts.
  virtual bool ReadSheet(std::string_view name, const TWorkbookCells& cells, std::string& text) = 0;
  virtual const TSharedStrings& Shared() const = 0;
  // The full names of the archive's entries.
  virtual std::vector<std::string> EntryNames() const = 0;
};

// The all-text text of a workbook; false when no
// worksheet part was found. Without a workbook part, or when none of its sheets' parts is
// found, the worksheet parts the default text reads are taken instead (see FallbackSheets).
bool WorkbookAllText(TWorkbookPackage& package, xml::TXMLTree& tree, std::string& text);

} // namespace scv::ooxml
