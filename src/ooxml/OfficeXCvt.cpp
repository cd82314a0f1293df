// Office Open XML packages (docx, xlsx, pptx) to text: the package driver, the walkers for
// word-processing parts, worksheets and slides, and the final encoding.
#include "ooxml/OfficeXCvt.h"

#include <limits>
#include <memory>
#include <string>

#include "ooxml/MemoryStream.h"
#include "ooxml/XMLParser.h"
#include "ooxml/ZipReader.h"
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "platform/LocaleInfo.h"
#include "platform/StrToInt.h"

namespace scv::ooxml {

namespace {

std::size_t gTextLimit = kDefaultOfficeXTextLimit;
// Largest part read into memory; a larger entry counts as not extracted.
std::uint64_t gPartLimit = std::uint64_t{1} << 30;

// The module-wide objects: one ZIP reader, one document with its forwarder, the shared
// strings, and the compact tree parts are read into.
struct TOfficeXModule {
  TZipReader zip;
  TXMLParser document;
  TXMLGhost ghost;
  TSharedStrings sharedStrings;
  TXMLTree tree;

  TOfficeXModule() { ghost.SetPrimaryDocument(&document); }
  ~TOfficeXModule() { ghost.SetPrimaryDocument(nullptr); }
  TOfficeXModule(const TOfficeXModule&) = delete;
  TOfficeXModule& operator=(const TOfficeXModule&) = delete;
};

std::unique_ptr<TOfficeXModule>& ModuleSlot() {
  static std::unique_ptr<TOfficeXModule> module;
  return module;
}

TOfficeXModule& Module() {
  auto& slot = ModuleSlot();
  if (!slot) {
    slot = std::make_unique<TOfficeXModule>();
  }
  return *slot;
}

void CheckGrowth(const std::string& text, std::size_t more) {
  if (more > gTextLimit || text.size() > gTextLimit - more) {
    throw EPartFormatError("Text too large");
  }
}

// ---------------------------------------------------------------------------------------------
// Tree access for the walkers: the compact tree and the item tree read the same way.

struct TCompactAccess {
  const TXMLTree& tree;
  using TRef = std::uint32_t;
  static constexpr TRef kNull = TXMLTree::kNone;

  std::string_view Name(TRef n) const { return tree.Node(n).name; }
  std::string_view Text(TRef n) const { return tree.Node(n).text; }
  bool HasParams(TRef n) const { return tree.Node(n).paramCount != 0; }
  bool HasParam(TRef n, std::string_view name) const { return tree.HasParam(tree.Node(n), name); }
  std::string_view ParamValue(TRef n, std::string_view name) const {
    return tree.ParamValue(tree.Node(n), name);
  }
  bool HasLine(TRef n, std::string_view line) const {
    return tree.HasParamLine(tree.Node(n), line);
  }
  TRef ChildByName(TRef n, std::string_view name) const { return tree.ChildByName(n, name); }

  // Children in order: a cursor that is the child itself.
  struct TCursor {
    TRef node;
  };
  TCursor FirstChild(TRef n) const { return {tree.Node(n).firstChild}; }
  bool Done(const TCursor& c) const { return c.node == kNull; }
  TRef Get(const TCursor& c) const { return c.node; }
  void Next(TCursor& c) const { c.node = tree.Node(c.node).nextSibling; }
};

struct TItemAccess {
  using TRef = const TXMLItem*;
  static constexpr TRef kNull = nullptr;

  std::string_view Name(TRef n) const { return n->Name(); }
  std::string_view Text(TRef n) const { return n->Text(); }
  bool HasParams(TRef n) const { return n->Params().Count() != 0; }
  bool HasParam(TRef n, std::string_view name) const { return n->Params().IndexOfName(name) >= 0; }
  std::string_view ParamValue(TRef n, std::string_view name) const {
    return n->Params().Value(name);
  }
  bool HasLine(TRef n, std::string_view line) const { return n->Params().IndexOf(line) >= 0; }
  TRef ChildByName(TRef n, std::string_view name) const {
    // Looking only: an absent element reads as an empty one, so nothing is added.
    const std::ptrdiff_t i = n->IndexOfName(name, 0);
    return i < 0 ? nullptr : n->SubItems(static_cast<std::size_t>(i));
  }

  struct TCursor {
    TRef parent;
    std::size_t index;
  };
  TCursor FirstChild(TRef n) const { return {n, 0}; }
  bool Done(const TCursor& c) const { return c.index >= c.parent->SubItemCount(); }
  TRef Get(const TCursor& c) const { return c.parent->SubItems(c.index); }
  void Next(TCursor& c) const { ++c.index; }
};

// Depth-first walk without recursion: onEnter before an element's children, onLeave after.
template <typename Access, typename Enter, typename Leave>
void Walk(const Access& access, typename Access::TRef root, Enter onEnter, Leave onLeave) {
  using TCursor = typename Access::TCursor;
  std::vector<std::pair<typename Access::TRef, TCursor>> stack;
  onEnter(root);
  stack.emplace_back(root, access.FirstChild(root));
  while (!stack.empty()) {
    auto& [node, cursor] = stack.back();
    if (access.Done(cursor)) {
      const auto leaving = node;
      stack.pop_back();
      onLeave(leaving);
      continue;
    }
    const auto child = access.Get(cursor);
    access.Next(cursor);
    onEnter(child);
    stack.emplace_back(child, access.FirstChild(child));
  }
}

template <typename Access> std::string WordText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root,
      [&](auto n) {
        const std::string_view name = access.Name(n);
        if (name == "w:br") {
          text += "\r\n";
        } else if (name == "w:t") {
          CheckGrowth(text, access.Text(n).size());
          text += access.Text(n);
        } else if (name == "w:tab" && !access.HasParams(n)) {
          text += '\t';
        } else if (name == "w:noBreakHyphen") {
          text += '-';
        }
      },
      [&](auto n) {
        if (access.Name(n) == "w:p") {
          text += "\r\n";
        }
      });
  return text;
}

template <typename Access>
std::string SlideText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root,
      [&](auto n) {
        if (access.Name(n) == "a:t") {
          CheckGrowth(text, access.Text(n).size());
          text += access.Text(n);
        }
      },
      [&](auto n) {
        if (access.Name(n) == "a:p") {
          text += "\r\n";
        }
      });
  return text;
}

// Row number of a row's "r": an integer, or else its leading decimal digits.
std::int32_t LenientInt(std::string_view text) {
  std::int32_t value = 0;
  if (StrToInt32(text, value)) {
    return value;
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  std::int64_t v = 0;
  const std::size_t first = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) {
      throw EPartFormatError("Number out of range");
    }
    ++i;
  }
  if (i == first) {
    throw EPartFormatError("Not a number");
  }
  return static_cast<std::int32_t>(v);
}

// The worksheet as a grid from A1 to the dimension's last cell. The layout walks rows and
// cells in their order and matches them to grid positions: a row or cell that does not fall
// on the next position is tried again for the following one, so one out of order (or beyond
// the grid) leaves the rest of its sheet or row empty. Empty positions contribute only line
// ends and TABs, which the trimming after each row and at the end removes when nothing follows
// them; so the text is built from the rows and cells present, with the line ends of empty rows
// added only when a later row has text.
template <typename Access>
std::string SheetText(const Access& access, typename Access::TRef root,
                      const TSharedStrings& shared) {
  using TRef = typename Access::TRef;
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  const TRef dimension = access.ChildByName(root, "dimension");
  if (dimension == Access::kNull || !access.HasParam(dimension, "ref")) {
    return text;
  }
  std::string_view ref = access.ParamValue(dimension, "ref");
  if (const std::size_t colon = ref.find(':'); colon != std::string_view::npos) {
    ref = ref.substr(colon + 1);
  }
  std::int32_t lastRow = 0;
  std::int32_t lastCol = 0;
  CellRefToRowCol(ref, lastRow, lastCol);
  const TRef data = access.ChildByName(root, "sheetData");
  std::size_t pendingLines = 0; // line ends of rows whose text is still to come
  if (data != Access::kNull && lastRow >= 1) {
    auto rowCursor = access.FirstChild(data);
    std::int64_t r = 1; // next grid row
    while (r <= lastRow) {
      while (!access.Done(rowCursor) && !access.HasParam(access.Get(rowCursor), "r")) {
        access.Next(rowCursor);
      }
      if (access.Done(rowCursor)) {
        break;
      }
      const TRef row = access.Get(rowCursor);
      const std::int32_t rowNumber = LenientInt(access.ParamValue(row, "r"));
      if (rowNumber < r || rowNumber > lastRow) {
        break; // never matches: every remaining grid row is empty
      }
      pendingLines += static_cast<std::size_t>(rowNumber - r);
      access.Next(rowCursor);
      r = std::int64_t{rowNumber} + 1;
      // Lay out the row's cells, then drop its trailing TABs.
      const std::size_t rowStart = text.size();
      if (lastCol >= 1) {
        std::int64_t k = 1; // next grid column
        for (auto cellCursor = access.FirstChild(row); !access.Done(cellCursor);
             access.Next(cellCursor)) {
          const TRef cell = access.Get(cellCursor);
          if (!access.HasParam(cell, "r")) {
            continue;
          }
          std::int32_t cellRow = 0;
          std::int32_t col = 0;
          CellRefToRowCol(access.ParamValue(cell, "r"), cellRow, col);
          if (col < k || col > lastCol) {
            break;
          }
          const auto gap = static_cast<std::size_t>(col - k);
          CheckGrowth(text, gap);
          text.append(gap, '\t');
          for (auto v = access.FirstChild(cell); !access.Done(v); access.Next(v)) {
            if (access.Name(access.Get(v)) == "v") {
              const std::string_view value = access.HasLine(cell, "t=s")
                                                 ? SharedStringAt(shared, access.Text(access.Get(v)))
                                                 : access.Text(access.Get(v));
              CheckGrowth(text, value.size() + 1);
              text += value;
              break;
            }
          }
          text += '\t';
          k = std::int64_t{col} + 1;
        }
      }
      std::size_t end = text.size();
      while (end > rowStart && text[end - 1] == '\t') {
        --end;
      }
      text.resize(end);
      if (end == rowStart) {
        ++pendingLines;
        continue;
      }
      if (pendingLines != 0) {
        CheckGrowth(text, 2 * pendingLines);
        text.insert(rowStart, 2 * pendingLines, '\n');
        for (std::size_t i = 0; i < pendingLines; ++i) {
          text[rowStart + 2 * i] = '\r';
        }
      }
      pendingLines = 1;
    }
  }
  TrimTrailingLineEnds(text);
  text += "\r\n";
  return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Public helpers

void TSharedStrings::Add(std::string_view text) {
  spans_.emplace_back(bytes_.size(), text.size());
  bytes_.append(text);
}

const TSharedStrings& SharedStrings() { return Module().sharedStrings; }

void SetOfficeXTextLimit(std::size_t limit) { gTextLimit = limit; }
void SetOfficeXPartLimit(std::uint64_t limit) { gPartLimit = limit; }

bool StrToInt32(std::string_view text, std::int32_t& value) {
  return platform::TryStrToInt(text, value);
}

void CellRefToRowCol(std::string_view ref, std::int32_t& row, std::int32_t& col) {
  row = 0;
  col = 0;
  std::size_t firstDigit = 0;
  while (firstDigit < ref.size() && (ref[firstDigit] < '0' || ref[firstDigit] > '9')) {
    ++firstDigit;
  }
  if (firstDigit == 0 || firstDigit == ref.size()) {
    return;
  }
  row = LenientInt(ref.substr(firstDigit));
  // Base 26 with A = 1 .. Z = 26; other characters count by their distance from "A", and
  // the sum wraps at 32 bits.
  std::uint32_t c = 0;
  for (std::size_t i = 0; i < firstDigit; ++i) {
    c = c * 26u + static_cast<std::uint32_t>(static_cast<unsigned char>(ref[i])) - ('A' - 1u);
  }
  col = static_cast<std::int32_t>(c);
}

std::string_view SharedStringAt(const TSharedStrings& shared, std::string_view index) {
  std::int32_t n = 0;
  if (!StrToInt32(index, n) || n < 0 || static_cast<std::size_t>(n) >= shared.Count()) {
    return {};
  }
  return shared.At(static_cast<std::size_t>(n));
}

void TrimTrailingTabs(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '\t') {
    --end;
  }
  text.resize(end);
}

void TrimTrailingLineEnds(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  text.resize(end);
}

std::string WordPartText(const TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string() : WordText(TCompactAccess{tree}, TXMLTree::Root());
}
std::string SlidePartText(const TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string() : SlideText(TCompactAccess{tree}, TXMLTree::Root());
}
std::string SheetPartText(const TXMLTree& tree, const TSharedStrings& shared) {
  return tree.NodeCount() == 0 ? std::string()
                               : SheetText(TCompactAccess{tree}, TXMLTree::Root(), shared);
}
std::string WordPartText(const TXMLItem* item) { return WordText(TItemAccess{}, item); }
std::string SlidePartText(const TXMLItem* item) { return SlideText(TItemAccess{}, item); }
std::string SheetPartText(const TXMLItem* root, const TSharedStrings& shared) {
  return SheetText(TItemAccess{}, root, shared);
}

// ---------------------------------------------------------------------------------------------
// Encoding

namespace {

// UTF-8 to UTF-16 as the extractor decodes it: a byte with its top bit set takes three
// continuation bytes when it lies from F0 to F4, else one when its bit 5 is clear and two when
// set; missing or wrong continuation bytes, and four-byte values beyond U+10FFFF, fail.
bool DecodeOfficeXUtf8(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size() + 1);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    const std::size_t need = lead >= 0xF0 && lead <= 0xF4 ? 3 : ((lead & 0x20) == 0 ? 1 : 2);
    if (need > n - i - 1) {
      return false;
    }
    std::uint32_t c[3] = {0, 0, 0};
    for (std::size_t k = 0; k < need; ++k) {
      const auto b = static_cast<unsigned char>(text[i + 1 + k]);
      if ((b & 0xC0) != 0x80) {
        return false;
      }
      c[k] = b & 0x3Fu;
    }
    if (need == 1) {
      out += static_cast<char16_t>(((lead & 0x3Fu) << 6) | c[0]);
    } else if (need == 2) {
      out += static_cast<char16_t>(((std::uint32_t{lead} << 12) | (c[0] << 6) | c[1]) & 0xFFFFu);
    } else {
      const std::uint32_t v = ((lead & 0x07u) << 18) | (c[0] << 12) | (c[1] << 6) | c[2];
      if (v > 0x10FFFF) {
        return false;
      }
      if (v < 0x10000) {
        // An over-long form of a character below U+10000 has no surrogate pair; it stands
        // for the character itself.
        out += static_cast<char16_t>(v);
      } else {
        out += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
      }
    }
    i += need + 1;
  }
  return true;
}

} // namespace

bool EncodeOfficeXText(std::string_view utf8, std::int32_t codePage, std::string& out) {
  out.clear();
  if (codePage == platform::kCpUtf8) {
    out.reserve(utf8.size() + 3);
    out.append("\xEF\xBB\xBF");
    out.append(utf8);
    return true;
  }
  if (codePage == 0) {
    out = platform::WideToMultiByte(platform::GetACP(), platform::Utf8ToWide(utf8));
    return true;
  }
  std::u16string wide;
  if (!DecodeOfficeXUtf8(utf8, wide)) {
    return false;
  }
  wide += u'\0';
  if (codePage == platform::kCpUtf16Le) {
    out.reserve(2 + 2 * wide.size());
    out.append("\xFF\xFE");
    for (const char16_t u : wide) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
    return true;
  }
  out = ToCodePage(codePage, wide);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Driver

namespace {

// Extracts one part into the stream (cleared first); returns the number of entries extracted.
int ExtractPart(TOfficeXModule& m, TMemoryStream& stream, std::string_view name) {
  stream.Clear();
  return m.zip.UnZipToStream(stream, name);
}

std::string_view StreamText(const TMemoryStream& stream) {
  return {reinterpret_cast<const char*>(stream.Data()), stream.Size()};
}

void ReadSharedStrings(TOfficeXModule& m, TMemoryStream& stream) {
  m.sharedStrings.Clear();
  if (ExtractPart(m, stream, "xl\\sharedStrings.xml") == 0 || stream.Empty()) {
    return;
  }
  LoadXMLTree(StreamText(stream), m.tree);
  const TXMLTree& tree = m.tree;
  for (std::uint32_t si = tree.Node(TXMLTree::Root()).firstChild; si != TXMLTree::kNone;
       si = tree.Node(si).nextSibling) {
    const std::uint32_t first = tree.Node(si).firstChild;
    m.sharedStrings.Add(first == TXMLTree::kNone ? std::string_view{} : tree.Node(first).text);
  }
  m.tree.Clear();
}

// Worksheets or slides: every number below the archive's entry count, in ascending order.
bool ReadNumberedParts(TOfficeXModule& m, TMemoryStream& stream, std::string& text,
                       std::string_view prefix, std::string_view header, bool sheets) {
  bool missing = true;
  const std::size_t count = m.zip.Count();
  std::string name;
  for (std::size_t n = 0; n < count; ++n) {
    m.ghost.Clear();
    m.tree.Clear();
    name.assign(prefix).append(std::to_string(n)).append(".xml");
    if (ExtractPart(m, stream, name) == 0) {
      continue;
    }
    missing = false;
    if (stream.Empty()) {
      continue;
    }
    LoadXMLTree(StreamText(stream), m.tree);
    const std::string part =
        sheets ? SheetPartText(m.tree, m.sharedStrings) : SlidePartText(m.tree);
    m.tree.Clear();
    const std::string number = std::to_string(n);
    CheckGrowth(text, header.size() + number.size() + 3 + part.size());
    text.append(header).append(number).append(":\r\n").append(part);
  }
  return missing;
}

// A CR not followed by LF, or an LF not preceded by CR.
bool HasLoneLineBreak(std::string_view text) {
  std::size_t i = 0;
  while (true) {
    const std::size_t cr = text.find('\r', i);
    const std::size_t lf = text.find('\n', i);
    if (cr == std::string_view::npos && lf == std::string_view::npos) {
      return false;
    }
    if (lf < cr || cr + 1 >= text.size() || text[cr + 1] != '\n') {
      return true;
    }
    i = cr + 2;
  }
}

std::int32_t Convert(const std::u16string& fileName, TConversionResult& result,
                     std::int32_t lineEndOption, std::int32_t packageKind,
                     std::int32_t codePage) {
  const std::string path = platform::WideToPath(fileName);
  if (!platform::FileExists(path) || platform::IsDirectory(path)) {
    return kResultNotFound;
  }
  TOfficeXModule& m = Module();
  try {
    m.zip.SetEntrySizeLimit(gPartLimit);
    m.zip.SetZipName(fileName);
    m.zip.ReadZip();
  } catch (...) {
    return kResultOpenError;
  }
  if (m.zip.Count() == 0) {
    return kResultBadFormat;
  }
  std::string text;
  bool missing = false;
  {
    TMemoryStream stream;
    switch (packageKind) {
    case kPackageDocument:
      // The second name is extracted into the same stream, behind whatever the first left.
      if (m.zip.UnZipToStream(stream, "word\\document.xml") == 0 &&
          m.zip.UnZipToStream(stream, "word\\wordDocument.xml") == 0) {
        missing = true;
      }
      if (!stream.Empty()) {
        LoadXMLTree(StreamText(stream), m.tree);
        text = WordPartText(m.tree);
        m.tree.Clear();
      }
      break;
    case kPackageWorkbook:
      ReadSharedStrings(m, stream);
      missing = ReadNumberedParts(m, stream, text, "xl\\worksheets\\sheet", "sheet", true);
      break;
    case kPackagePresentation:
      missing = ReadNumberedParts(m, stream, text, "ppt\\slides\\slide", "slide", false);
      break;
    default:
      missing = true;
    }
  }
  if (missing) {
    return kResultBadFormat;
  }
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  std::string adjusted;
  if (style == kLineEndCrLf && !HasLoneLineBreak(text)) {
    adjusted.swap(text); // already CR LF throughout: normalising would copy it unchanged
  } else {
    adjusted = AdjustLineEnds(text, style);
    std::string().swap(text);
  }
  std::string output;
  if (codePage == platform::kCpUtf8) {
    // The mark goes in front of the text in place instead of into a second copy.
    adjusted.insert(0, "\xEF\xBB\xBF");
    output.swap(adjusted);
  } else if (!EncodeOfficeXText(adjusted, codePage, output)) {
    return kResultBadUtf8;
  }
  std::string().swap(adjusted);
  if (output.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - 1) {
    return kResultBadFormat;
  }
  return AppendToResult(output, result);
}

} // namespace

std::int32_t OfficeXToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t lineEndOption, std::int32_t packageKind,
                           std::int32_t codePage) {
  try {
    return Convert(fileName, result, lineEndOption, packageKind, codePage);
  } catch (...) {
    // A part that cannot be read (a stored entry ending early, a number that is none, text
    // beyond the limit, memory exhaustion) ends the extraction.
    if (ModuleSlot()) {
      ModuleSlot()->tree.Clear();
    }
    return kResultBadFormat;
  }
}

std::int32_t DocxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageDocument, codePage);
}
std::int32_t XlsxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageWorkbook, codePage);
}
std::int32_t PptxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackagePresentation, codePage);
}

void InitializeOfficeX() { Module(); }

void FinalizeOfficeX() { ModuleSlot().reset(); }

} // namespace scv::ooxml
