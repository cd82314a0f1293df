// The walkers over a part read into a tree (the compact tree or the item tree): word-processing
// text, slide text and worksheet text.
#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
#include "xml/XMLParser.h"
#include "xml/XMLTagParams.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::ooxml {

namespace {

template <typename Access> std::string WordText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root, [&](auto n) { AppendElementText(access, n, access.Name(n), true, text); },
      [&](auto n) {
        if (access.Name(n) == "w:p") {
          text += "\r\n";
        }
      });
  return text;
}

template <typename Access> std::string SlideText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root, [&](auto n) { AppendElementText(access, n, access.Name(n), false, text); },
      [&](auto n) {
        if (access.Name(n) == "a:p") {
          text += "\r\n";
        }
      });
  return text;
}

// The first child whose local name equals name ignoring case, or kNull.
template <typename Access>
typename Access::TRef ChildByLocalName(const Access& access, typename Access::TRef node,
                                       std::string_view name) {
  for (auto c = access.FirstChild(node); !access.Done(c); access.Next(c)) {
    if (xml::SameTextAscii(LocalName(access.Name(access.Get(c))), name)) {
      return access.Get(c);
    }
  }
  return Access::kNull;
}

template <typename Access>
std::string SheetText(const Access& access, typename Access::TRef root,
                      const TSharedStrings& shared) {
  using TRef = typename Access::TRef;
  if (root == Access::kNull) {
    return {};
  }
  // The dimension only widens the grid beyond the sheet's largest row and column.
  std::int32_t lastRow = 0;
  std::int32_t lastCol = 0;
  const TRef dimension = ChildByLocalName(access, root, "dimension");
  const bool sized = dimension != Access::kNull && access.HasParam(dimension, "ref");
  if (sized) {
    LastCellOf(access.ParamValue(dimension, "ref"), lastRow, lastCol);
  }
  const TRef data = ChildByLocalName(access, root, "sheetData");
  if (!sized && data == Access::kNull) {
    return {}; // no grid at all: the sheet has only its header line
  }
  TSheetLayout layout(shared, lastRow, lastCol);
  if (data != Access::kNull) {
    for (auto rows = access.FirstChild(data); !access.Done(rows) && layout.Accepting();
         access.Next(rows)) {
      const TRef row = access.Get(rows);
      if (layout.BeginRow(access, row, LocalName(access.Name(row)) == "row")) {
        for (auto cells = access.FirstChild(row); !access.Done(cells); access.Next(cells)) {
          const TRef cell = access.Get(cells);
          layout.AddCell(access, cell, LocalName(access.Name(cell)) == "c");
        }
        layout.EndRow();
      }
    }
  }
  return layout.Finish();
}

} // namespace

void SharedStringsFromTree(const xml::TXMLTree& tree, TSharedStrings& strings) {
  strings.Clear();
  if (tree.NodeCount() == 0) {
    return;
  }
  const TCompactAccess access{tree};
  std::string text;
  for (std::uint32_t si = tree.Node(xml::TXMLTree::Root()).firstChild; si != xml::TXMLTree::kNone;
       si = tree.Node(si).nextSibling) {
    SharedStringText(access, si, text);
    strings.Add(text);
  }
}

std::string WordPartText(const xml::TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string()
                               : WordText(TCompactAccess{tree}, xml::TXMLTree::Root());
}
std::string SlidePartText(const xml::TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string()
                               : SlideText(TCompactAccess{tree}, xml::TXMLTree::Root());
}
std::string SheetPartText(const xml::TXMLTree& tree, const TSharedStrings& shared) {
  return tree.NodeCount() == 0 ? std::string()
                               : SheetText(TCompactAccess{tree}, xml::TXMLTree::Root(), shared);
}
std::string WordPartText(const xml::TXMLItem* item) {
  return WordText(TItemAccess{}, item);
}
std::string SlidePartText(const xml::TXMLItem* item) {
  return SlideText(TItemAccess{}, item);
}
std::string SheetPartText(const xml::TXMLItem* root, const TSharedStrings& shared) {
  return SheetText(TItemAccess{}, root, shared);
}

} // namespace scv::ooxml
