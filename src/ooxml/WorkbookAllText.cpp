// The all-text mode of workbooks: cell values through the 97-2003 extractor's renderer, the
// workbook part's sheets and relationships, the number formats of the styles part, and the
// sheets joined behind their names.
#include "ooxml/WorkbookAllText.h"

#include "bytes/FormatError.h"
#include "xml/XMLTagParams.h"
#include "xml/XMLTree.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <system_error>

namespace scv::ooxml {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) {
    text.remove_prefix(1);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
    text.remove_suffix(1);
  }
  return text;
}

// A stored number: decimal, optionally with a fraction and an exponent, blanks around it
// allowed; false for anything else and for values beyond the range of a double.
bool ReadNumber(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (text.empty()) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// An unsigned decimal below `limit`; false otherwise.
bool ReadIndex(std::string_view text, std::uint32_t limit, std::uint32_t& value) {
  text = TrimBlanks(text);
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end && value < limit;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Reads `count` decimal digits at text[pos].
bool Digits(std::string_view text, std::size_t pos, std::size_t count, std::int64_t& value) {
  if (text.size() < pos + count) {
    return false;
  }
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// The serial number (days since 1899-12-30, the time of day as the fraction) of an ISO 8601
// date cell:
// YYYY-MM-DD, YYYY-MM-DDThh:mm[:ss[.fff]] or hh:mm[:ss[.fff]]; a zone suffix is ignored.
bool ReadIsoDate(std::string_view text, double& serial) {
  text = TrimBlanks(text);
  double days = 0;
  std::size_t pos = 0;
  std::int64_t y = 0;
  std::int64_t mo = 0;
  std::int64_t d = 0;
  if (text.size() >= 10 && text[4] == '-') {
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || text[7] != '-' ||
        !Digits(text, 8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) {
      return false;
    }
    // Counted as the renderer counts its serial numbers, so that the date shows as written.
    days = static_cast<double>(DaysFromCivil(y, mo, d) - DaysFromCivil(1899, 12, 30));
    pos = 10;
    if (pos == text.size()) {
      serial = days;
      return true;
    }
    if (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ') {
      return false;
    }
    ++pos;
  }
  std::int64_t h = 0;
  std::int64_t mi = 0;
  std::int64_t s = 0;
  if (!Digits(text, pos, 2, h) || text.size() < pos + 5 || text[pos + 2] != ':' ||
      !Digits(text, pos + 3, 2, mi)) {
    return false;
  }
  pos += 5;
  double seconds = 0;
  if (pos < text.size() && text[pos] == ':') {
    if (!Digits(text, pos + 1, 2, s)) {
      return false;
    }
    pos += 3;
    seconds = static_cast<double>(s);
    if (pos < text.size() && text[pos] == '.') {
      double scale = 0.1;
      for (++pos; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        seconds += (text[pos] - '0') * scale;
        scale /= 10;
      }
    }
  }
  const std::string_view zone = text.substr(pos);
  if (!zone.empty() && zone != "Z" && zone.front() != '+' && zone.front() != '-') {
    return false;
  }
  if (h > 24 || mi > 59 || s > 60) {
    return false;
  }
  serial = days + (static_cast<double>(h * 3600 + mi * 60) + seconds) / 86400.0;
  return true;
}

// The first child of node whose local name equals name (ignoring case), or kNone.
std::uint32_t ChildNamed(const xml::TXMLTree& tree, std::uint32_t node, std::string_view name) {
  for (std::uint32_t c = tree.Node(node).firstChild; c != xml::TXMLTree::kNone;
       c = tree.Node(c).nextSibling) {
    if (xml::SameTextAscii(LocalName(tree.Node(c).name), name)) {
      return c;
    }
  }
  return xml::TXMLTree::kNone;
}

template <typename F>
void ForChildrenNamed(const xml::TXMLTree& tree, std::uint32_t node, std::string_view name, F f) {
  if (node == xml::TXMLTree::kNone) {
    return;
  }
  for (std::uint32_t c = tree.Node(node).firstChild; c != xml::TXMLTree::kNone;
       c = tree.Node(c).nextSibling) {
    if (xml::SameTextAscii(LocalName(tree.Node(c).name), name)) {
      f(tree.Node(c));
    }
  }
}

bool IsTrue(std::string_view value) {
  value = TrimBlanks(value);
  return value == "1" || xml::SameTextAscii(value, "true") || xml::SameTextAscii(value, "on");
}

// The value of the first attribute whose local name is `local` under some prefix (the
// relationship id "r:id", whatever the document calls its namespace).
std::string_view PrefixedParam(const xml::TXMLTree& tree, const xml::TXMLTree::TNode& node,
                               std::string_view local) {
  for (std::uint32_t k = 0; k < node.paramCount; ++k) {
    const xml::TXMLTree::TParam& p = tree.Param(node, k);
    const std::size_t colon = p.name.rfind(':');
    if (p.value.data() != nullptr && colon != std::string_view::npos &&
        xml::SameTextAscii(p.name.substr(colon + 1), local)) {
      return p.value;
    }
  }
  return {};
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

std::string_view TAllTextLayout::ValueText(const TCellType& type, const std::string_view* v) {
  if (v == nullptr) {
    return {};
  }
  if (type.shared) {
    return SharedStringAt(cells_.shared, *v);
  }
  const std::string_view kind = type.value;
  const auto stored = [&]() -> std::string_view {
    return type.stated && DecodeSheetEscapes(*v, decoded_) ? std::string_view(decoded_) : *v;
  };
  double value = 0;
  if (xml::SameTextAscii(kind, "str") || xml::SameTextAscii(kind, "e") ||
      xml::SameTextAscii(kind, "inlineStr")) {
    return stored();
  }
  if (xml::SameTextAscii(kind, "b")) {
    if (!ReadNumber(*v, value)) {
      return stored();
    }
    return value != 0 ? "TRUE" : "FALSE";
  }
  if (xml::SameTextAscii(kind, "d")) {
    if (!ReadIsoDate(*v, value)) {
      return stored();
    }
    if (cells_.date1904) {
      value -= 1462.0; // the renderer counts the serial from 1904-01-01
    }
  } else if (!ReadNumber(*v, value)) {
    return stored();
  }
  // Without "s" a cell has the first cell format; an index that is none renders in general.
  std::uint32_t xf = 0;
  if (type.style.data() != nullptr && !ReadIndex(type.style, kMaxCellFormats, xf)) {
    xf = kMaxCellFormats;
  }
  rendered_.clear();
  cells_.style.AppendNumber(rendered_, value, static_cast<std::uint16_t>(xf));
  return rendered_;
}

std::int64_t TAllTextLayout::ColumnOf(std::string_view ref) {
  std::int64_t col = 0;
  std::size_t i = 0;
  for (; i < ref.size() && i < 4; ++i) {
    const unsigned c = static_cast<unsigned char>(ref[i]) | 0x20u;
    if (c < 'a' || c > 'z') {
      break;
    }
    col = col * 26 + (c - 'a' + 1);
  }
  if (i == 0 || i > 3) {
    return -1;
  }
  return col - 1;
}

std::string AllTextSheetFromTree(const xml::TXMLTree& tree, const TWorkbookCells& cells) {
  if (tree.NodeCount() == 0) {
    return {};
  }
  const std::uint32_t data = ChildNamed(tree, xml::TXMLTree::Root(), "sheetData");
  TAllTextLayout layout(cells, 0, 0);
  if (data == xml::TXMLTree::kNone) {
    return {};
  }
  const TCompactAccess access{tree};
  for (std::uint32_t row = tree.Node(data).firstChild; row != xml::TXMLTree::kNone;
       row = tree.Node(row).nextSibling) {
    if (layout.BeginRow(access, row, LocalName(tree.Node(row).name) == "row")) {
      for (std::uint32_t cell = tree.Node(row).firstChild; cell != xml::TXMLTree::kNone;
           cell = tree.Node(cell).nextSibling) {
        layout.AddCell(access, cell, LocalName(tree.Node(cell).name) == "c");
      }
      layout.EndRow();
    }
  }
  return layout.Finish();
}

void ReadWorkbookStyles(const xml::TXMLTree& tree, spreadsheet::TStyleData& style) {
  if (tree.NodeCount() == 0) {
    return;
  }
  const std::uint32_t root = xml::TXMLTree::Root();
  // Format numbers as written -> the renderer's table entry. Numbers the table holds keep
  // their place; larger ones (any 32-bit number may be written) take the free places from
  // the first custom number on, while there are any.
  struct TCode {
    std::uint32_t id;
    std::string_view code;
  };
  std::vector<TCode> codes;
  std::set<std::uint32_t> taken;
  ForChildrenNamed(tree, ChildNamed(tree, root, "numFmts"), "numFmt",
                   [&](const xml::TXMLTree::TNode& n) {
                     std::uint32_t id = 0;
                     if (!ReadIndex(tree.ParamValue(n, "numFmtId"), 0xFFFFFFFFu, id)) {
                       return;
                     }
                     codes.push_back({id, tree.ParamValue(n, "formatCode")});
                     if (id < spreadsheet::kFormatTableSize) {
                       taken.insert(id);
                     }
                   });
  constexpr std::uint32_t kFirstCustom = 164;
  std::map<std::uint32_t, std::uint32_t> moved;
  std::uint32_t free = kFirstCustom;
  for (const TCode& c : codes) {
    std::uint32_t slot = c.id;
    if (c.id >= spreadsheet::kFormatTableSize) {
      if (const auto it = moved.find(c.id); it != moved.end()) {
        slot = it->second;
      } else {
        while (free < spreadsheet::kFormatTableSize && taken.count(free) != 0) {
          ++free;
        }
        if (free == spreadsheet::kFormatTableSize) {
          continue; // no place left: the format renders in general
        }
        slot = free;
        taken.insert(slot);
        moved.emplace(c.id, slot);
      }
    }
    if (c.code.size() > kMaxFormatCodeBytes) {
      style.ResetFormat(static_cast<std::uint16_t>(slot));
      continue;
    }
    style.ClassifyFormat(static_cast<std::uint16_t>(slot), c.code);
  }
  std::size_t count = 0;
  ForChildrenNamed(tree, ChildNamed(tree, root, "cellXfs"), "xf",
                   [&](const xml::TXMLTree::TNode& n) {
                     if (count == kMaxCellFormats) {
                       return;
                     }
                     ++count;
                     std::uint32_t id = 0;
                     if (!ReadIndex(tree.ParamValue(n, "numFmtId"), 0xFFFFFFFFu, id)) {
                       id = 0;
                     }
                     if (id >= spreadsheet::kFormatTableSize) {
                       const auto it = moved.find(id);
                       id = it == moved.end() ? 0 : it->second;
                     }
                     style.AppendXF(static_cast<std::uint16_t>(id));
                   });
}

std::string ResolveWorkbookTarget(std::string_view target) {
  target = TrimBlanks(target);
  if (target.empty() || target.back() == '/' ||
      target.find_first_of("*?\\:") != std::string_view::npos) {
    return {}; // nothing, a folder, or characters no part name of the archive reader holds
  }
  std::vector<std::string_view> segments;
  if (target.front() != '/') {
    segments.push_back("xl");
  }
  while (!target.empty()) {
    const std::size_t slash = target.find('/');
    const std::string_view segment = target.substr(0, slash);
    target = slash == std::string_view::npos ? std::string_view() : target.substr(slash + 1);
    if (segment.empty() || segment == ".") {
      continue;
    }
    if (segment == "..") {
      if (segments.empty()) {
        return {};
      }
      segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string name;
  for (const std::string_view segment : segments) {
    if (!name.empty()) {
      name += '\\';
    }
    name.append(segment);
  }
  return name;
}

std::vector<TWorkbookSheet> WorkbookSheets(const xml::TXMLTree& workbook,
                                           const xml::TXMLTree* relationships, bool& date1904) {
  std::vector<TWorkbookSheet> sheets;
  date1904 = false;
  if (workbook.NodeCount() == 0) {
    return sheets;
  }
  const std::uint32_t root = xml::TXMLTree::Root();
  if (const std::uint32_t pr = ChildNamed(workbook, root, "workbookPr");
      pr != xml::TXMLTree::kNone) {
    date1904 = IsTrue(workbook.ParamValue(workbook.Node(pr), "date1904"));
  }
  std::map<std::string, std::string, std::less<>> targets; // worksheet relationships by id
  if (relationships != nullptr && relationships->NodeCount() != 0) {
    ForChildrenNamed(*relationships, root, "Relationship", [&](const xml::TXMLTree::TNode& n) {
      const std::string_view type = relationships->ParamValue(n, "Type");
      if (!EndsWith(type, "/worksheet") ||
          xml::SameTextAscii(relationships->ParamValue(n, "TargetMode"), "External")) {
        return;
      }
      targets.emplace(std::string(relationships->ParamValue(n, "Id")),
                      ResolveWorkbookTarget(relationships->ParamValue(n, "Target")));
    });
  }
  ForChildrenNamed(workbook, ChildNamed(workbook, root, "sheets"), "sheet",
                   [&](const xml::TXMLTree::TNode& n) {
                     TWorkbookSheet sheet;
                     sheet.name = workbook.ParamValue(n, "name");
                     const auto it = targets.find(PrefixedParam(workbook, n, "id"));
                     if (it != targets.end()) {
                       sheet.part = it->second;
                     }
                     sheets.push_back(std::move(sheet));
                   });
  return sheets;
}

std::vector<TWorkbookSheet> FallbackSheets(const std::vector<std::string>& entryNames) {
  constexpr std::string_view kFolder = "xl\\worksheets\\";
  struct TName {
    bool numbered;
    std::uint32_t number;
    std::string folded;
    std::string name;
  };
  std::vector<TName> names;
  for (const std::string& full : entryNames) {
    if (full.size() <= kFolder.size() + 4 ||
        !xml::SameTextAscii(std::string_view(full).substr(0, kFolder.size()), kFolder)) {
      continue;
    }
    const std::string_view file = std::string_view(full).substr(kFolder.size());
    if (file.find_first_of("\\*?") != std::string_view::npos ||
        !xml::SameTextAscii(file.substr(file.size() - 4), ".xml")) {
      continue;
    }
    TName n{false, 0, {}, full};
    for (const char c : file) {
      n.folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    const std::string_view stem = std::string_view(n.folded).substr(0, n.folded.size() - 4);
    if (stem.size() > 5 && stem.substr(0, 5) == "SHEET") {
      n.numbered = ReadIndex(stem.substr(5), 0xFFFFFFFFu, n.number) &&
                   stem.substr(5).find_first_not_of("0123456789") == std::string_view::npos;
    }
    names.push_back(std::move(n));
  }
  std::sort(names.begin(), names.end(), [](const TName& a, const TName& b) {
    if (a.numbered != b.numbered) {
      return a.numbered;
    }
    if (a.numbered && a.number != b.number) {
      return a.number < b.number;
    }
    return a.folded < b.folded;
  });
  // Names that differ only in case name one part.
  names.erase(std::unique(names.begin(), names.end(),
                          [](const TName& a, const TName& b) { return a.folded == b.folded; }),
              names.end());
  std::vector<TWorkbookSheet> sheets;
  sheets.reserve(names.size());
  for (TName& n : names) {
    sheets.push_back({"sheet" + std::to_string(sheets.size() + 1), std::move(n.name)});
  }
  return sheets;
}

bool WorkbookAllText(TWorkbookPackage& package, xml::TXMLTree& tree, std::string& text) {
  std::vector<TWorkbookSheet> sheets;
  bool date1904 = false;
  if (package.LoadPart("xl\\workbook.xml", tree)) {
    xml::TXMLTree relationships;
    const bool haveRels = package.LoadPart("xl\\_rels\\workbook.xml.rels", relationships);
    sheets = WorkbookSheets(tree, haveRels ? &relationships : nullptr, date1904);
  }
  tree.Clear();
  spreadsheet::TStyleData style;
  style.SetDate1904(date1904);
  if (package.LoadPart("xl\\styles.xml", tree)) {
    ReadWorkbookStyles(tree, style);
  }
  tree.Clear();
  const TWorkbookCells cells{package.Shared(), style, date1904};

  std::vector<std::string> parts;
  std::size_t size = 0;
  // Lays the sheets out; false when none of their parts is found.
  const auto layOut = [&](const std::vector<TWorkbookSheet>& list) {
    parts.clear();
    size = 0;
    std::set<std::string, std::less<>> done; // each part is laid out once
    bool any = false;
    for (const TWorkbookSheet& sheet : list) {
      std::string body;
      if (!sheet.part.empty() && done.insert(sheet.part).second &&
          package.ReadSheet(sheet.part, cells, body)) {
        any = true;
      }
      // The empty line that ends a sheet goes in front of the next one's name (and into a part
      // of its own after the last), so that the large texts are never appended to.
      std::string line = parts.empty() ? std::string() : std::string("\r\n");
      line += sheet.name;
      line += "\r\n";
      if (body.capacity() - body.size() > body.size() / 8) {
        body.shrink_to_fit(); // the slack of its growth would otherwise stay until the join
      }
      CheckGrowth(size, line.size() + body.size());
      size += line.size() + body.size();
      parts.push_back(std::move(line));
      parts.push_back(std::move(body));
    }
    if (!list.empty()) {
      CheckGrowth(size, 2);
      size += 2;
      parts.emplace_back("\r\n");
    }
    return any;
  };
  if (!layOut(sheets) && !layOut(FallbackSheets(package.EntryNames()))) {
    return false;
  }
  text.clear();
  text.reserve(size);
  for (std::string& part : parts) {
    text.append(part);
    std::string().swap(part);
  }
  return true;
}

} // namespace scv::ooxml
