// The tree-building rules of the XML reader, written once over a sink: the compact tree is one
// sink, and the extractors' streaming walkers are others that keep only what they need.
#pragma once

#include "bytes/FormatError.h"
#include "xml/XMLEntities.h"
#include "xml/XMLTagParams.h"
#include "xml/XMLTokenizer.h"
#include "xml/XMLTree.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

// Every character is 32 or less (true for no text).
bool IsBlankText(std::string_view text);
// The style-sheet reference of an "<?xml-stylesheet ...?>" declaration: the characters after
// the first HREF=" up to the next double quote. False when the declaration names none.
bool StyleSheetOf(std::string_view token, std::string& out);

// What BuildTree asks of a sink. Elements are opened (AddChild, or Begin for the root) and
// closed in strict nesting order, so every call concerns the innermost open element or, for
// AddChild, a new element inside it:
//   Begin()                          the root exists, with an empty name
//   BlankName(node)                  the element's name is blank (a start tag then renames it)
//   AddChild(parent, lastChild)      a new element, returned as its node
//   SetName(node, name, stable)      stable: the bytes outlive the sink's use of them
//   SetTagParams(node, tag, stable)  attributes from the tag text when they need none of the
//                                    reader's special cases; false to get SetParams instead
//   SetParams(node, params)
//   TagDone(node) -> bool            the tag is complete; true when it preserves white space
//   SetText(node, text, stable)      the element's joined text (only when there is some)
//   Close(node)                      the element ends (empty-element tags close at once)
//   ReadContent(tok) -> bool         optional: after a start tag that does not preserve white
//                                    space, read the element's content through its end tag
//                                    and close it; false (nothing consumed) to leave it to
//                                    these rules
//   SetStyleSheet(reference)
//   KeepsText() -> bool              optional: whether the innermost open element's text
//                                    matters; when false its text is not gathered at all
//   GaveUp() -> bool                 optional: the sink cannot settle the document's text
//                                    as it streams by; building stops at the token's end

// The compact tree as a sink. Elements named `preserving` (when set) keep their spaces as if
// they carried xml:space="preserve".
struct TTreeSink {
  TXMLTree& tree;
  std::string_view preserving = {};

  void Begin() {
    tree.Clear();
    tree.AddNode(TXMLTree::kNone, TXMLTree::kNone);
    tree.SetName(TXMLTree::Root(), std::string_view(""), true);
  }
  bool BlankName(std::uint32_t node) const { return IsBlankText(tree.Node(node).name); }
  std::uint32_t AddChild(std::uint32_t parent, std::uint32_t lastChild) {
    return tree.AddNode(parent, lastChild);
  }
  void SetName(std::uint32_t node, std::string_view name, bool stable) {
    tree.SetName(node, name, stable);
  }
  bool SetTagParams(std::uint32_t node, std::string_view tag, bool stable) {
    return tree.SetTagParams(node, tag, stable);
  }
  void SetParams(std::uint32_t node, const TParamList& params) { tree.SetParams(node, params); }
  bool TagDone(std::uint32_t node) const {
    return tree.PreservesSpace(node) || (!preserving.empty() && tree.Node(node).name == preserving);
  }
  void SetText(std::uint32_t node, std::string_view text, bool stable) {
    tree.SetText(node, text, stable);
  }
  void Close(std::uint32_t /*node*/) {}
  void SetStyleSheet(std::string_view reference) { tree.SetStyleSheet(reference); }
};

namespace detail {

// One element on the path from the root to the current element, with the text it gathers.
struct TOpenElement {
  std::uint32_t node = TXMLTree::kNone;
  std::uint32_t lastChild = TXMLTree::kNone;
  TJoinedText text;
};

template <typename Sink> void FinishText(Sink& sink, TOpenElement& open, std::string& scratch) {
  if (open.text.Empty()) {
    return;
  }
  std::string_view view;
  bool stable = false;
  if (open.text.SinglePiece(view, stable)) {
    sink.SetText(open.node, view, stable); // the sink copies what it keeps unless stable
  } else {
    scratch.clear();
    open.text.AppendTo(scratch);
    sink.SetText(open.node, scratch, false);
  }
  open.text.Clear();
}

template <typename Sink> bool GaveUp(const Sink& sink) {
  if constexpr (requires { sink.GaveUp(); }) {
    return sink.GaveUp();
  } else {
    return false;
  }
}

template <typename Sink, typename Tokenizer>
bool TagAttributes(Sink& sink, std::uint32_t node, const Tokenizer& tok, TParamList& params) {
  if (!sink.SetTagParams(node, tok.Token(), tok.TokenInSource())) {
    ParseTagParams(tok.Token(), params);
    sink.SetParams(node, params);
  }
  return sink.TagDone(node);
}

} // namespace detail

// Tree building. The current element starts at the root; text joins the current element,
// a start tag names a blank current element (the cleared root) or opens a new sub-element,
// an empty-element tag adds a sub-element, and an end tag returns to the parent whatever its
// name. Once the document element is closed nothing more is read. At most maxDepth elements
// are open at once; one more throws bytes::EFormatError. False when the sink gave up (the
// elements still open are then left as they are).
template <typename Tokenizer, typename Sink>
bool BuildTree(Tokenizer& tok, Sink& sink,
               std::size_t maxDepth = std::numeric_limits<std::size_t>::max()) {
  using detail::TOpenElement;
  sink.Begin();
  std::vector<TOpenElement> path(1);
  path[0].node = TXMLTree::Root();
  std::size_t depth = 1; // path[0, depth) is open; later slots are kept for reuse
  TParamList params;
  std::string scratch;
  std::string styleSheet;
  bool preserve = false;
  while (tok.Kind() != TTokenKind::kEnd && depth != 0) {
    TOpenElement& current = path[depth - 1];
    switch (tok.Kind()) {
    case TTokenKind::kDeclaration:
      if (StyleSheetOf(tok.Token(), styleSheet)) {
        sink.SetStyleSheet(styleSheet);
      }
      break;
    case TTokenKind::kText:
      if constexpr (requires { sink.KeepsText(); }) {
        if (!sink.KeepsText()) {
          break;
        }
      }
      current.text.Join(tok.Token(), tok.TokenInSource());
      break;
    case TTokenKind::kCData:
      // Character data like a text token, taken as it stands.
      if constexpr (requires { sink.KeepsText(); }) {
        if (!sink.KeepsText()) {
          break;
        }
      }
      current.text.Join(tok.Token(), tok.TokenInSource(), true);
      break;
    case TTokenKind::kStartTag: {
      const std::string_view name = TagName(tok.Token());
      if (sink.BlankName(current.node)) {
        sink.SetName(current.node, name, tok.TokenInSource());
        preserve = detail::TagAttributes(sink, current.node, tok, params);
      } else {
        const std::uint32_t child = sink.AddChild(current.node, current.lastChild);
        current.lastChild = child;
        sink.SetName(child, name, tok.TokenInSource());
        preserve = detail::TagAttributes(sink, child, tok, params);
        if constexpr (requires { sink.ReadContent(tok); }) {
          // A sink may read the element's whole content, through its end tag, itself; it
          // does so only for markup these rules would read the same way, and closes it.
          if (!preserve && !detail::GaveUp(sink) && sink.ReadContent(tok)) {
            break;
          }
        }
        if (depth == maxDepth) {
          throw bytes::EFormatError("element", tok.InputOffset(),
                                    "nested more than " + std::to_string(maxDepth) + " deep");
        }
        if (depth == path.size()) {
          path.emplace_back();
        }
        TOpenElement& open = path[depth++];
        open.node = child;
        open.lastChild = TXMLTree::kNone;
        open.text.Clear();
      }
      break;
    }
    case TTokenKind::kEmptyTag: {
      const std::uint32_t child = sink.AddChild(current.node, current.lastChild);
      current.lastChild = child;
      sink.SetName(child, TagName(tok.Token()), tok.TokenInSource());
      preserve = detail::TagAttributes(sink, child, tok, params);
      sink.Close(child);
      break;
    }
    case TTokenKind::kEndTag:
      detail::FinishText(sink, current, scratch);
      sink.Close(current.node);
      --depth;
      break;
    case TTokenKind::kComment:
    case TTokenKind::kInstruction:
    case TTokenKind::kDocType:
    case TTokenKind::kEnd:
      break;
    }
    if (depth == 0 || detail::GaveUp(sink)) {
      break;
    }
    tok.NextToken(preserve);
  }
  if (detail::GaveUp(sink)) {
    return false;
  }
  while (depth != 0) {
    TOpenElement& open = path[--depth];
    detail::FinishText(sink, open, scratch);
    sink.Close(open.node);
  }
  return !detail::GaveUp(sink);
}

} // namespace scv::xml
