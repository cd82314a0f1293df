// The XML document of items: the item tree (TXMLItem), the document (TXMLParser) with its events,
// and the forwarding component (TXMLGhost). Loading builds the compact tree (XMLTree.h) and
// copies it into items.
#pragma once

#include "bytes/MemoryStream.h"
#include "xml/XMLTagParams.h"
#include "xml/XMLTree.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

class TXMLParser;

// A file the document reads or writes cannot be opened, read or written.
class EXMLFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

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
