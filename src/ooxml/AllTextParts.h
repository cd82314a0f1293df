// The all-text mode of documents and presentations: the stories besides the main part
// (footnotes, headers and footers, comments, endnotes; notes pages), found through the
// package's relationships and read by the word-processing and slide walkers with a few rules
// of their own.
#pragma once

#include "ooxml/StreamSinks.h"
#include "xml/XMLTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace scv::ooxml {

// What a story leaves out, and what the body collects, as its elements go by:
// - every part: of an mc:AlternateContent only the first mc:Choice counts (the others and the
//   mc:Fallback repeat the same content for other readers; without a Choice the Fallback
//   counts);
// - footnotes and endnotes: the separator and continuation notes (w:type separator,
//   continuationSeparator, continuationNotice);
// - notes pages: the page furniture (the slide-number, date, header and footer placeholders,
//   which a 97-2003 presentation keeps apart from its notes) and slide-number fields;
// - the body: the r:id of every w:headerReference and w:footerReference, in order, once each;
//   the text of its text boxes (w:txbxContent) is taken out of the body and kept for the end,
//   where a 97-2003 document keeps its text-box story (inside the body it would run into the
//   words of the paragraph that anchors the box).
// Both the streaming sink and the tree walk drive it, so that both give the same text.
enum class TStoryKind : std::uint8_t {
  kBody,
  kNotes, // footnotes and endnotes
  kPlain, // headers, footers, comments, slides
  kNotesPage
};

class TStoryRules {
public:
  explicit TStoryRules(TStoryKind kind) : kind_(kind) {}

  // Forgets what an earlier walk of the part left (the tree walk after a streaming walk gave up).
  void Reset() {
    marks_.clear();
    ids_.clear();
    seen_.clear();
    textBoxes_.clear();
  }
  // Whether Open needs the element's attributes.
  bool NeedsAttributes(std::string_view name) const;
  // An element named name opens at depth (the root is 1) when the text has textSize bytes;
  // attr(name) gives the value of one of its attributes (empty when absent).
  template <typename Attr>
  void Open(std::string_view name, std::size_t depth, std::size_t textSize, Attr attr);
  // The element at depth closes: the text loses what a left-out element wrote.
  void Close(std::size_t depth, std::string& text) {
    while (!marks_.empty() && marks_.back().depth == depth) {
      const TMark& mark = marks_.back();
      if (mark.kind == TMarkKind::kTextBox && mark.textSize < text.size()) {
        textBoxes_.append(text, mark.textSize);
      }
      if ((mark.drop || mark.kind == TMarkKind::kTextBox) && mark.textSize < text.size()) {
        text.resize(mark.textSize);
      }
      if (mark.drop && mark.boxesSize < textBoxes_.size()) {
        textBoxes_.resize(mark.boxesSize);
      }
      marks_.pop_back();
    }
  }
  // The body's header and footer references, in order, each once.
  const std::vector<std::string>& ReferenceIds() const { return ids_; }
  // The body's text boxes, in the order they end.
  const std::string& TextBoxes() const { return textBoxes_; }

private:
  enum class TMarkKind : std::uint8_t {
    kAlternate,
    kShape,
    kTextBox,
    kLeftOut
  };
  struct TMark {
    std::size_t depth = 0;
    std::size_t textSize = 0;
    std::size_t boxesSize = 0; // the text boxes kept when the element opened
    TMarkKind kind = TMarkKind::kLeftOut;
    bool choiceSeen = false; // an alternate's first Choice has gone by
    bool drop = false;       // what the element wrote goes at its end
  };
  void Push(std::size_t depth, std::size_t textSize, TMarkKind kind, bool drop) {
    marks_.push_back(TMark{depth, textSize, textBoxes_.size(), kind, false, drop});
  }

  TStoryKind kind_;
  std::vector<TMark> marks_;
  std::vector<std::string> ids_;
  std::unordered_set<std::string> seen_;
  std::string textBoxes_;
};

template <typename Attr>
void TStoryRules::Open(std::string_view name, std::size_t depth, std::size_t textSize, Attr attr) {
  if (name == "mc:AlternateContent") {
    Push(depth, textSize, TMarkKind::kAlternate, false);
    return;
  }
  if (name == "mc:Choice" || name == "mc:Fallback") {
    if (!marks_.empty() && marks_.back().kind == TMarkKind::kAlternate &&
        marks_.back().depth + 1 == depth) {
      TMark& alternate = marks_.back();
      const bool drop = alternate.choiceSeen;
      alternate.choiceSeen = alternate.choiceSeen || name == "mc:Choice";
      Push(depth, textSize, TMarkKind::kLeftOut, drop);
    }
    return;
  }
  switch (kind_) {
  case TStoryKind::kBody:
    if (name == "w:headerReference" || name == "w:footerReference") {
      const std::string_view id = attr("r:id");
      if (!id.empty() && seen_.emplace(id).second) {
        ids_.emplace_back(id);
      }
    } else if (name == "w:txbxContent") {
      Push(depth, textSize, TMarkKind::kTextBox, false);
    }
    break;
  case TStoryKind::kNotes:
    if (name == "w:footnote" || name == "w:endnote") {
      const std::string_view type = attr("w:type");
      Push(depth, textSize, TMarkKind::kLeftOut,
           type == "separator" || type == "continuationSeparator" || type == "continuationNotice");
    }
    break;
  case TStoryKind::kNotesPage:
    if (name == "p:sp") {
      Push(depth, textSize, TMarkKind::kShape, false);
    } else if (name == "p:ph") {
      const std::string_view type = attr("type");
      if (type == "sldNum" || type == "dt" || type == "hdr" || type == "ftr") {
        // The innermost open shape is the placeholder's.
        for (auto mark = marks_.rbegin(); mark != marks_.rend(); ++mark) {
          if (mark->kind == TMarkKind::kShape) {
            mark->drop = true;
            break;
          }
        }
      }
    } else if (name == "a:fld") {
      Push(depth, textSize, TMarkKind::kLeftOut, attr("type") == "slidenum");
    }
    break;
  case TStoryKind::kPlain:
    break;
  }
}

// The word-processing or slide sink with the story rules on top.
class TStorySink : public TTextSink {
public:
  TStorySink(bool word, TStoryRules& rules) : TTextSink(word, 0), rules_(rules) {}

  void Begin() {
    TTextSink::Begin();
    depth_ = 1;
  }
  std::uint32_t AddChild(std::uint32_t parent, std::uint32_t lastChild) {
    ++depth_;
    return TTextSink::AddChild(parent, lastChild);
  }
  void SetName(std::uint32_t node, std::string_view name, bool stable) {
    TTextSink::SetName(node, name, stable);
    name_ = name;
    attributes_ = rules_.NeedsAttributes(name);
  }
  bool SetTagParams(std::uint32_t node, std::string_view tag, bool stable) {
    if (attributes_) {
      return ScratchParams(tag, stable, true);
    }
    return TTextSink::SetTagParams(node, tag, stable);
  }
  bool TagDone(std::uint32_t node) {
    const TEntry& e = Top();
    rules_.Open(name_, depth_, TextSize(), [&](std::string_view attribute) {
      return attributes_ && e.attrs != nullptr
                 ? e.attrs->ParamValue(e.attrs->Node(e.attrIndex), attribute)
                 : std::string_view();
    });
    attributes_ = false;
    return TTextSink::TagDone(node);
  }
  void Close(std::uint32_t node) {
    TTextSink::Close(node);
    rules_.Close(depth_, MutableText());
    --depth_;
  }

private:
  TStoryRules& rules_;
  std::size_t depth_ = 0;
  std::string_view name_;
  bool attributes_ = false;
};

// The text of a story part read into the tree, by the rules (reset first).
std::string StoryTreeText(const xml::TXMLTree& tree, bool word, TStoryRules& rules);

// How the all-text walks reach the package; the driver implements it over its archive.
class TPackageAccess {
public:
  TPackageAccess() = default;
  virtual ~TPackageAccess() = default;
  TPackageAccess(const TPackageAccess&) = delete;
  TPackageAccess& operator=(const TPackageAccess&) = delete;

  // The archive holds an entry of this name (backslashes between folders), ignoring case as
  // the archive reader matches names.
  virtual bool HasPart(std::string_view name) const = 0;
  // The text of a word-processing (word) or slide part by the rules; false when no entry of
  // it extracted. The second name is read only when the first extracts nothing.
  virtual bool ReadStory(std::string_view first, std::string_view second, bool word,
                         TStoryRules& rules, std::string& text) = 0;
  // A small part (relationships, the presentation) read into a tree; bytes holds what the
  // tree points into. False when no entry of it extracted or it is too large to read whole.
  virtual bool ReadTree(std::string_view name, std::string& bytes, xml::TXMLTree& tree) = 0;
  // An access of its own to the same archive, for reading on another thread while this one is
  // in use; null when there is none. Made on this access's thread; Open must be its first
  // call, on its own thread, and is false when the archive is no longer the one read here.
  virtual std::unique_ptr<TPackageAccess> Fork() const { return nullptr; }
  virtual bool Open() { return true; }
};

// A part name in lower case (ASCII letters): names that differ only so select the same entries.
std::string FoldedPartName(std::string_view name);

// One relationship of a part's relationships part.
struct TRelationship {
  std::string id;
  std::string type;
  std::string part; // the archive name of the target; empty for an external or unusable one
};

// The relationships of a part (an archive name such as "word\\document.xml"), in order; none
// when its relationships part is missing or unreadable.
std::vector<TRelationship> ReadRelationships(TPackageAccess& package, std::string_view part);

// The archive name of a relationship target, relative to the folder of the part that holds
// the relationship ("word\\document.xml" + "media/../header1.xml" -> "word\\header1.xml");
// empty for a target that climbs out of the package or holds wildcard characters.
std::string ResolveTarget(std::string_view part, std::string_view target);

// Appends the document's stories after its body: footnotes, headers and footers (each
// distinct part once, in the order the body refers to them), comments, endnotes and the
// body's text boxes. bodyRules
// are the rules the body was read with (they hold its references). Parts named in done (in
// lower case) are not read again; each part read joins done. A missing or unreadable story is
// skipped.
void AppendDocumentStories(TPackageAccess& package, const TStoryRules& bodyRules,
                           std::unordered_set<std::string>& done, std::string& text);

inline constexpr std::size_t kNotesAheadFrom = 16;

// The presentation's text: its slides in the order of p:sldIdLst, then the notes page of
// each in the same order, with no header lines (as a 97-2003 presentation gives them). False
// when the presentation lists no slide that extracts.
// With at least `aheadFrom` slides and a fork of the package to be had, the notes pages are
// read on a second thread while the slides are read on this one; the text is the same.
bool PresentationText(TPackageAccess& package, std::string& text,
                      std::size_t aheadFrom = kNotesAheadFrom);

} // namespace scv::ooxml
