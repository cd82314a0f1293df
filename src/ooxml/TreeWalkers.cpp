// The walkers over a part read into a tree (the compact tree or the item tree): word-processing
// text, slide text and worksheet text.
#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
#include "xml/XMLParser.h"

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

template <typename Access> std::string SlideText(const Access& access, typename Access::TRef root) {
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

template <typename Access>
std::string SheetText(const Access& access, typename Access::TRef root,
                      const TSharedStrings& shared) {
  using TRef = typename Access::TRef;
  if (root == Access::kNull) {
    return {};
  }
  const TRef dimension = access.ChildByName(root, "dimension");
  if (dimension == Access::kNull || !access.HasParam(dimension, "ref")) {
    return {};
  }
  std::int32_t lastRow = 0;
  std::int32_t lastCol = 0;
  LastCellOf(access.ParamValue(dimension, "ref"), lastRow, lastCol);
  TSheetLayout layout(shared, lastRow, lastCol);
  const TRef data = access.ChildByName(root, "sheetData");
  if (data != Access::kNull) {
    for (auto rows = access.FirstChild(data); !access.Done(rows) && layout.Accepting();
         access.Next(rows)) {
      const TRef row = access.Get(rows);
      if (layout.BeginRow(access, row)) {
        for (auto cells = access.FirstChild(row); !access.Done(cells); access.Next(cells)) {
          layout.AddCell(access, access.Get(cells));
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
  for (std::uint32_t si = tree.Node(xml::TXMLTree::Root()).firstChild; si != xml::TXMLTree::kNone;
       si = tree.Node(si).nextSibling) {
    const std::uint32_t first = tree.Node(si).firstChild;
    strings.Add(first == xml::TXMLTree::kNone ? std::string_view{} : tree.Node(first).text);
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
