// What the Office Open XML walkers share: the text limit, and one way to read the compact tree
// and the item tree, so that each walker is written once for both.
#pragma once

#include "ooxml/OfficeXCvt.h"
#include "xml/XMLParser.h"
#include "xml/XMLTagParams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scv::ooxml {

// Upper bound on the text of one conversion (SetOfficeXTextLimit).
extern std::size_t gOfficeXTextLimit;

// Throws the format error of text of `size` bytes that would grow beyond the limit.
[[noreturn]] void ThrowTextTooLarge(std::size_t size);

// Fails the conversion when text would grow by `more` bytes beyond the limit. Inline, with the
// error out of line: it runs for every run of text and every cell.
inline void CheckGrowth(std::size_t size, std::size_t more) {
  if (more > gOfficeXTextLimit || size > gOfficeXTextLimit - more) {
    ThrowTextTooLarge(size);
  }
}
inline void CheckGrowth(const std::string& text, std::size_t more) {
  CheckGrowth(text.size(), more);
}

// A cell's "t" attributes: some line reads t=s, some t=inlineStr (names and values ignoring
// case), and some "t" has a value at all.
// The all-text layout also takes the first "t" value as written and the first "s" (the
// cell's format), when there is one.
struct TCellType {
  bool shared = false;
  bool inlineString = false;
  bool stated = false;
  std::string_view value;
  std::string_view style;
};

// Tree access for the walkers: the compact tree and the item tree read the same way.

struct TCompactAccess {
  const xml::TXMLTree& tree;
  using TRef = std::uint32_t;
  static constexpr TRef kNull = xml::TXMLTree::kNone;

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
  // One pass over the attributes, where HasLine would take one per line looked for.
  TCellType CellType(TRef n) const {
    TCellType type;
    const xml::TXMLTree::TNode& node = tree.Node(n);
    for (std::uint32_t k = 0; k < node.paramCount; ++k) {
      const xml::TXMLTree::TParam& p = tree.Param(node, k);
      if (p.value.data() == nullptr || p.name.size() != 1) {
        continue;
      }
      const unsigned c = static_cast<unsigned char>(p.name[0]) | 0x20u;
      if (c == 't') {
        if (!type.stated) {
          type.value = p.value;
        }
        type.stated = true;
        type.shared = type.shared || xml::SameTextAscii(p.value, "s");
        type.inlineString = type.inlineString || xml::SameTextAscii(p.value, "inlineStr");
      } else if (c == 's' && type.style.data() == nullptr) {
        type.style = p.value;
      }
    }
    return type;
  }

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
  using TRef = const xml::TXMLItem*;
  static constexpr TRef kNull = nullptr;

  std::string_view Name(TRef n) const { return n->Name(); }
  std::string_view Text(TRef n) const { return n->Text(); }
  bool HasParams(TRef n) const { return n->Params().Count() != 0; }
  bool HasParam(TRef n, std::string_view name) const { return n->Params().IndexOfName(name) >= 0; }
  std::string_view ParamValue(TRef n, std::string_view name) const {
    return n->Params().Value(name);
  }
  bool HasLine(TRef n, std::string_view line) const { return n->Params().IndexOf(line) >= 0; }
  TCellType CellType(TRef n) const {
    TCellType type{HasLine(n, "t=s"), HasLine(n, "t=inlineStr"), HasParam(n, "t"), {}, {}};
    if (type.stated) {
      type.value = ParamValue(n, "t");
    }
    if (HasParam(n, "s")) {
      type.style = ParamValue(n, "s");
    }
    return type;
  }
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

// The text an element entered in a tree walk adds by itself: a document's w:t runs, w:br, plain
// w:tab and w:noBreakHyphen (word), or a slide's a:t runs and a:br. Paragraph ends are the
// walks' own.
template <typename Access>
void AppendElementText(const Access& access, typename Access::TRef n, std::string_view name,
                       bool word, std::string& text) {
  if (word) {
    if (name == "w:br") {
      CheckGrowth(text, 2);
      text += "\r\n";
    } else if (name == "w:t") {
      CheckGrowth(text, access.Text(n).size());
      text += access.Text(n);
    } else if (name == "w:tab" && !access.HasParams(n)) {
      text += '\t';
    } else if (name == "w:noBreakHyphen") {
      text += '-';
    }
  } else if (name == "a:t") {
    CheckGrowth(text, access.Text(n).size());
    text += access.Text(n);
  } else if (name == "a:br") {
    CheckGrowth(text, 2);
    text += "\r\n";
  }
}

// The shared strings of a tree: the first child's text of every child of the root.
void SharedStringsFromTree(const xml::TXMLTree& tree, TSharedStrings& strings);

} // namespace scv::ooxml
