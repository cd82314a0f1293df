// XML reader and writer: the item tree (TXMLItem), the document (TXMLParser) with its events,
// the forwarding component (TXMLGhost), and a compact read-only tree with the same content for
// the extractors' hot path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/MemoryStream.h"
#include "xml/XMLTokenizer.h"

namespace scv::xml {

class TXMLParser;

// A file the document reads or writes cannot be opened, read or written.
class EXMLFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Compact tree: every element of a document as a node in one array, texts as views into the
// source bytes or into the tree's own storage. Built by the same rules as the item tree; the
// item tree is in fact made from it.

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
  static constexpr std::size_t kChunkSize = 64 * 1024;
  struct TChunk {
    std::unique_ptr<char[]> bytes;
    bool standard; // kChunkSize bytes, reusable after Clear
  };
  std::vector<TChunk> chunks_;
  std::size_t spare_ = 0; // chunks_[spare_...] may be reused
  char* chunkPos_ = nullptr;
  std::size_t chunkLeft_ = 0;
  std::string styleSheet_;
  bool hasStyleSheet_ = false;
};

// Builds the tree of a document held in memory (bytes must outlive the tree), with at most
// maxDepth elements open at once (EXMLTooDeep beyond).
void LoadXMLTree(std::string_view bytes, TXMLTree& tree,
                 std::size_t maxDepth = std::numeric_limits<std::size_t>::max());
// Builds the tree through either tokenizer (texts are then copied into the tree).
void LoadXMLTree(TXMLLargeTokenizer& tokenizer, TXMLTree& tree);
void LoadXMLTree(TXMLTokenizer& tokenizer, TXMLTree& tree);

// ---------------------------------------------------------------------------------------------
// Item tree

class TXMLItem {
public:
  TXMLItem(TXMLItem* parent, TXMLParser* document);
  ~TXMLItem();
  TXMLItem(const TXMLItem&) = delete;
  TXMLItem& operator=(const TXMLItem&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  const TParamList& Params() const { return params_; }
  void SetParams(TParamList params);

  std::size_t SubItemCount() const { return subItems_.size(); }
  std::size_t Count() const { return subItems_.size(); }
  TXMLItem* SubItems(std::size_t index) const { return subItems_.at(index).get(); }
  TXMLItem* Parent() const { return parent_; }
  TXMLParser* Document() const { return document_; }
  bool CrLfInAsString() const { return crLfInAsString_; }
  void SetCrLfInAsString(bool value) { crLfInAsString_ = value; }

  // Appends a new sub-item (this item's document) and returns it; notifies.
  TXMLItem* New();
  // Destroys the sub-item at index with its subtree; notifies. Out-of-range indexes do nothing.
  void Delete(std::size_t index);
  // Deletes all sub-items, clears Params, Name and Text (without notification).
  void Clear();
  // Moves a sub-item to newIndex (clamped to the list).
  void Move(TXMLItem* item, std::size_t newIndex);
  std::ptrdiff_t IndexOf(const TXMLItem* item) const;
  // First sub-item at or after startIndex whose name equals name ignoring case, or -1.
  std::ptrdiff_t IndexOfName(std::string_view name, std::size_t startIndex = 0) const;
  // First sub-item with that name; when there is none a new one is added, named and returned.
  TXMLItem* ItemByName(std::string_view name);

private:
  friend class TXMLParser;
  void Changed();
  // Destroys subtrees with an explicit work list, so nesting depth costs no stack.
  static void DestroyAll(std::vector<std::unique_ptr<TXMLItem>>& items);

  std::string name_;
  std::string text_;
  TParamList params_;
  std::vector<std::unique_ptr<TXMLItem>> subItems_;
  TXMLItem* parent_;
  TXMLParser* document_;
  bool notify_ = true;
  bool crLfInAsString_ = true;
};

// The operations a document and its forwarding component share.
class IXMLDocument {
public:
  virtual ~IXMLDocument() = default;
  virtual void Clear() = 0;
  virtual void LoadFromFile(const std::u16string& fileName) = 0;
  virtual void LoadFromStream(bytes::TMemoryStream& stream) = 0;
  virtual void SaveToFile(const std::u16string& fileName) = 0;
};

class TXMLParser : public IXMLDocument {
public:
  using TNotifyEvent = std::function<void(TXMLParser& sender)>;
  using TXMLItemChanged = std::function<void(TXMLParser& sender, TXMLItem& item)>;
  using TXMLLoadSaveEvent = std::function<void(TXMLParser& sender, bool& allow)>;

  TXMLParser();
  ~TXMLParser() override;
  TXMLParser(const TXMLParser&) = delete;
  TXMLParser& operator=(const TXMLParser&) = delete;

  TXMLItem& RootItem() { return *root_; }
  const TXMLItem& RootItem() const { return *root_; }
  const std::string& StyleSheet() const { return styleSheet_; }
  void SetStyleSheet(std::string value) { styleSheet_ = std::move(value); }
  bool CrLfInAsString() const { return root_->CrLfInAsString(); }
  void SetCrLfInAsString(bool value) { root_->SetCrLfInAsString(value); }

  TXMLItemChanged XMLItemChanged;
  TNotifyEvent OnLoaded;
  TNotifyEvent OnCleared;
  TNotifyEvent OnSaved;
  TXMLLoadSaveEvent BeforeLoad;
  TXMLLoadSaveEvent BeforeSave;
  TXMLLoadSaveEvent BeforeClear;

  void Clear() override;
  // Reads from the stream's position to its end (the whole rest in memory).
  void LoadFromStream(bytes::TMemoryStream& stream) override;
  // Reads through the 4096-byte buffered tokenizer; when that raises EParserError the file
  // is read again from its start with the whole-memory tokenizer.
  void LoadFromFile(const std::u16string& fileName) override;
  void SaveToStream(bytes::TMemoryStream& stream, bool isStyleSheet);
  void SaveToFile(const std::u16string& fileName) override;

private:
  friend class TXMLItem;
  template <typename Tokenizer> void Load(Tokenizer& tokenizer);
  void ItemChanged(TXMLItem& item);

  std::unique_ptr<TXMLItem> root_;
  std::string styleSheet_;
};

// Forwards the document operations to PrimaryDocument (not owned; nothing happens without one).
class TXMLGhost : public IXMLDocument {
public:
  TXMLParser* PrimaryDocument() const { return primary_; }
  void SetPrimaryDocument(TXMLParser* document) { primary_ = document; }

  void Clear() override;
  void LoadFromFile(const std::u16string& fileName) override;
  void LoadFromStream(bytes::TMemoryStream& stream) override;
  void SaveToFile(const std::u16string& fileName) override;

private:
  TXMLParser* primary_ = nullptr;
};

} // namespace scv::xml
