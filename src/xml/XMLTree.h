// Compact tree: every element of a document as a node in one array, texts as views into the
// source bytes or into the tree's own storage. Built by the same rules as the item tree; the
// item tree is in fact made from it. The extractors read parts into it.
#pragma once

#include "xml/XMLTagParams.h"
#include "xml/XMLTokenizer.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

class TXMLTree {
public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  struct TNode {
    std::string_view name;
    std::string_view text;
    std::uint32_t firstChild = kNone;
    std::uint32_t nextSibling = kNone;
    std::uint32_t paramBegin = 0;
    std::uint32_t paramCount = 0;
  };

  TXMLTree();
  ~TXMLTree();
  TXMLTree(const TXMLTree&) = delete;
  TXMLTree& operator=(const TXMLTree&) = delete;

  void Clear();
  std::size_t NodeCount() const { return nodes_.size(); }
  const TNode& Node(std::uint32_t i) const { return nodes_[i]; }
  // The root: node 0 (the tree always has it once loaded).
  static constexpr std::uint32_t Root() { return 0; }
  // An attribute line: name and value around its first "="; a line without "=" has no value
  // (value.data() == nullptr) and its whole text as name.
  struct TParam {
    std::string_view name;
    std::string_view value;
  };
  const TParam& Param(const TNode& node, std::uint32_t k) const {
    return params_[node.paramBegin + k];
  }
  std::string ParamLine(const TNode& node, std::uint32_t k) const;
  // An attribute named name exists (ignoring case).
  bool HasParam(const TNode& node, std::string_view name) const;
  // Value of the first attribute named name (ignoring case); empty when absent.
  std::string_view ParamValue(const TNode& node, std::string_view name) const;
  // Some attribute line equals line (ignoring case).
  bool HasParamLine(const TNode& node, std::string_view line) const;
  // First child whose name equals name ignoring case, or kNone.
  std::uint32_t ChildByName(std::uint32_t node, std::string_view name) const;
  const std::string& StyleSheet() const { return styleSheet_; }

  // Building (used by the loader).
  std::uint32_t AddNode(std::uint32_t parent, std::uint32_t lastChild);
  void SetName(std::uint32_t node, std::string_view name, bool stable);
  void SetParams(std::uint32_t node, const TParamList& params);
  // Reads the attributes of a tag text straight into the tree when they need none of the
  // reader's special cases (no line ends or zero bytes, every piece with an "=", no name
  // twice); the result is the one ParseTagParams gives. False (nothing stored) otherwise.
  bool SetTagParams(std::uint32_t node, std::string_view tag, bool stable);
  // The node's attributes hold the line "xml:space=preserve" (ignoring case).
  bool PreservesSpace(std::uint32_t node) const;
  void SetText(std::uint32_t node, std::string_view text, bool stable);
  std::string_view Store(std::string_view bytes);

  void SetStyleSheet(std::string_view s) {
    styleSheet_.assign(s);
    hasStyleSheet_ = true;
  }
  // A style-sheet declaration was read.
  bool HasStyleSheet() const { return hasStyleSheet_; }

private:
  // Attributes of the plain form (name="value" pairs one space apart, nothing to decode);
  // false, with nothing stored, for any other text.
  bool SetPlainParams(std::uint32_t node, std::string_view text, bool stable);

  std::vector<TNode> nodes_;
  std::vector<TParam> params_;
  static constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
  struct TChunk {
    std::unique_ptr<char[]> bytes;
    bool standard; // kChunkSize bytes, reusable after Clear
  };
  std::vector<TChunk> chunks_;
  std::size_t spare_ = 0;     // chunks_[spare_...] may be reused
  std::span<char> chunkRest_; // the unused rest of the current standard chunk
  std::string styleSheet_;
  bool hasStyleSheet_ = false;
};

// Builds the tree of a document held in memory (bytes must outlive the tree), with at most
// maxDepth elements open at once (bytes::EFormatError beyond). Elements named `preserving`
// (when given) keep their spaces as if they carried xml:space="preserve".
void LoadXMLTree(std::string_view bytes, TXMLTree& tree,
                 std::size_t maxDepth = std::numeric_limits<std::size_t>::max(),
                 std::string_view preserving = {});
// Builds the tree through either tokenizer (texts are then copied into the tree).
void LoadXMLTree(TXMLLargeTokenizer& tokenizer, TXMLTree& tree);
void LoadXMLTree(TXMLTokenizer& tokenizer, TXMLTree& tree);

} // namespace scv::xml
