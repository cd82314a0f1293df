// The XML document of items: the item tree (TXMLItem), the document that loads, saves and
// reports changes (TXMLParser), and its forwarder (TXMLGhost).
#include "xml/XMLParser.h"

#include "bytes/MemoryStream.h"
#include "platform/FileIo.h"
#include "xml/XMLBuild.h"
#include "xml/XMLEntities.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace scv::xml {

// ---------------------------------------------------------------------------------------------
// TXMLItem

TXMLItem::TXMLItem(TXMLItem* parent, TXMLParser* document) : parent_(parent), document_(document) {}

TXMLItem::~TXMLItem() {
  notify_ = false;
  DestroyAll(subItems_);
}

void TXMLItem::DestroyAll(std::vector<std::unique_ptr<TXMLItem>>& items) {
  std::vector<std::unique_ptr<TXMLItem>> work;
  work.swap(items);
  while (!work.empty()) {
    std::unique_ptr<TXMLItem> item = std::move(work.back());
    work.pop_back();
    item->notify_ = false;
    for (auto& sub : item->subItems_) {
      work.push_back(std::move(sub));
    }
    item->subItems_.clear();
  }
}

void TXMLItem::Changed() {
  if (notify_ && document_ != nullptr) {
    document_->ItemChanged(*this);
  }
}

void TXMLItem::SetName(std::string name) {
  name_ = std::move(name);
  Changed();
}

void TXMLItem::SetText(std::string text) {
  text_ = std::move(text);
  Changed();
}

void TXMLItem::SetParams(TParamList params) {
  params_ = std::move(params);
  Changed();
}

TXMLItem* TXMLItem::New() {
  subItems_.push_back(std::make_unique<TXMLItem>(this, document_));
  TXMLItem* item = subItems_.back().get();
  Changed();
  return item;
}

void TXMLItem::Delete(std::size_t index) {
  if (index >= subItems_.size()) {
    return;
  }
  std::vector<std::unique_ptr<TXMLItem>> gone;
  gone.push_back(std::move(subItems_[index]));
  subItems_.erase(subItems_.begin() + static_cast<std::ptrdiff_t>(index));
  DestroyAll(gone);
  Changed();
}

void TXMLItem::Clear() {
  notify_ = false;
  DestroyAll(subItems_);
  params_.Clear();
  name_.clear();
  text_.clear();
  notify_ = true;
}

void TXMLItem::Move(TXMLItem* item, std::size_t newIndex) {
  const std::ptrdiff_t from = IndexOf(item);
  if (from < 0) {
    return;
  }
  std::unique_ptr<TXMLItem> moving = std::move(subItems_[static_cast<std::size_t>(from)]);
  subItems_.erase(subItems_.begin() + from);
  newIndex = std::min(newIndex, subItems_.size());
  subItems_.insert(subItems_.begin() + static_cast<std::ptrdiff_t>(newIndex), std::move(moving));
  Changed();
}

std::ptrdiff_t TXMLItem::IndexOf(const TXMLItem* item) const {
  for (std::size_t i = 0; i < subItems_.size(); ++i) {
    if (subItems_[i].get() == item) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::ptrdiff_t TXMLItem::IndexOfName(std::string_view name, std::size_t startIndex) const {
  for (std::size_t i = startIndex; i < subItems_.size(); ++i) {
    if (SameTextAscii(subItems_[i]->name_, name)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

TXMLItem* TXMLItem::ItemByName(std::string_view name) {
  const std::ptrdiff_t i = IndexOfName(name, 0);
  if (i >= 0) {
    return subItems_[static_cast<std::size_t>(i)].get();
  }
  TXMLItem* item = New();
  item->SetName(std::string(name));
  return item;
}

// ---------------------------------------------------------------------------------------------
// TXMLParser

namespace {

class TFileByteSource final : public TXMLByteSource {
public:
  explicit TFileByteSource(const platform::TFile& file) : file_(file), size_(file.Size()) {}
  std::size_t Read(void* bytes, std::size_t n) override {
    if (size_ >= 0 && position_ >= static_cast<std::uint64_t>(size_)) {
      return 0;
    }
    const std::int64_t got =
        file_.ReadAt(position_, std::span<std::uint8_t>(static_cast<std::uint8_t*>(bytes), n));
    if (got < 0) {
      throw EXMLFileError("File read error");
    }
    position_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }
  std::uint64_t Position() const override { return position_; }
  void SetPosition(std::uint64_t position) override { position_ = position; }
  std::uint64_t Size() const override { return size_ < 0 ? 0 : static_cast<std::uint64_t>(size_); }

private:
  const platform::TFile& file_;
  std::int64_t size_;
  std::uint64_t position_ = 0;
};

// Turns a compact tree into items below root (iteratively).
void CopyTree(const TXMLTree& tree, TXMLItem& root) {
  std::vector<std::pair<std::uint32_t, TXMLItem*>> work;
  work.emplace_back(TXMLTree::Root(), &root);
  while (!work.empty()) {
    const auto [index, item] = work.back();
    work.pop_back();
    const TXMLTree::TNode& node = tree.Node(index);
    item->SetName(std::string(node.name));
    item->SetText(std::string(node.text));
    TParamList params;
    for (std::uint32_t k = 0; k < node.paramCount; ++k) {
      params.Add(tree.ParamLine(node, k));
    }
    item->SetParams(std::move(params));
    const std::size_t first = work.size();
    for (std::uint32_t c = node.firstChild; c != TXMLTree::kNone; c = tree.Node(c).nextSibling) {
      work.emplace_back(c, item->New());
    }
    // Children were created in order; visit them in order too.
    std::reverse(work.begin() + static_cast<std::ptrdiff_t>(first), work.end());
  }
}

} // namespace

TXMLParser::TXMLParser() : root_(std::make_unique<TXMLItem>(nullptr, this)) {}
TXMLParser::~TXMLParser() {
  XMLItemChanged = nullptr;
  root_.reset();
}

void TXMLParser::ItemChanged(TXMLItem& item) {
  if (XMLItemChanged) {
    XMLItemChanged(*this, item);
  }
}

void TXMLParser::Clear() {
  bool allow = true;
  if (BeforeClear) {
    BeforeClear(*this, allow);
  }
  if (!allow) {
    return;
  }
  root_->Clear();
  if (OnCleared) {
    OnCleared(*this);
  }
}

template <typename Tokenizer> void TXMLParser::Load(Tokenizer& tokenizer) {
  TXMLTree tree;
  LoadXMLTree(tokenizer, tree);
  root_->Clear();
  CopyTree(tree, *root_);
  if (tree.HasStyleSheet()) {
    styleSheet_ = tree.StyleSheet();
  }
}

void TXMLParser::LoadFromStream(bytes::TMemoryStream& stream) {
  bool allow = true;
  if (BeforeLoad) {
    BeforeLoad(*this, allow);
  }
  if (!allow) {
    return;
  }
  TXMLItemChanged handler = std::move(XMLItemChanged);
  XMLItemChanged = nullptr;
  try {
    TMemoryByteSource source(stream);
    TXMLLargeTokenizer tok(source);
    Load(tok);
  } catch (...) {
    XMLItemChanged = std::move(handler);
    throw;
  }
  XMLItemChanged = std::move(handler);
  if (OnLoaded) {
    OnLoaded(*this);
  }
}

void TXMLParser::LoadFromFile(const std::u16string& fileName) {
  bool allow = true;
  if (BeforeLoad) {
    BeforeLoad(*this, allow);
  }
  if (!allow) {
    return;
  }
  platform::TFile file;
  if (!file.OpenRead(fileName)) {
    throw EXMLFileError("Cannot open file");
  }
  TXMLItemChanged handler = std::move(XMLItemChanged);
  XMLItemChanged = nullptr;
  try {
    TFileByteSource source(file);
    try {
      TXMLTokenizer tok(source);
      Load(tok);
    } catch (const EParserError&) {
      source.SetPosition(0);
      TXMLLargeTokenizer tok(source);
      Load(tok);
    }
  } catch (...) {
    XMLItemChanged = std::move(handler);
    throw;
  }
  XMLItemChanged = std::move(handler);
  if (OnLoaded) {
    OnLoaded(*this);
  }
}

namespace {

// Writes one item and its subtree without recursion.
void WriteItems(TXMLItem& root, std::string& out) {
  const bool crLf = root.CrLfInAsString();
  struct TFrame {
    TXMLItem* item;
    std::size_t indent;
    std::size_t next; // next sub-item to write; SIZE_MAX before the opening tag
  };
  std::vector<TFrame> stack;
  stack.push_back({&root, 2, SIZE_MAX});
  const auto lineEnd = [&] {
    if (crLf) {
      out += "\r\n";
    }
  };
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    TXMLItem& item = *frame.item;
    if (frame.next == SIZE_MAX) {
      out.append(frame.indent, ' ');
      out += '<';
      out += item.Name();
      const TParamList& params = item.Params();
      for (std::size_t i = 0; i < params.Count(); ++i) {
        const std::string& line = params[i];
        const std::size_t eq = line.find('=');
        out += ' ';
        out += eq == std::string::npos ? std::string_view{} : std::string_view(line).substr(0, eq);
        out += "=\"";
        out += EncodeEntities(eq == std::string::npos ? std::string_view{}
                                                      : std::string_view(line).substr(eq + 1));
        out += '"';
      }
      const bool blank = IsBlankText(item.Text());
      if (blank && item.SubItemCount() == 0) {
        out += "/>";
        lineEnd();
        stack.pop_back();
        continue;
      }
      out += '>';
      lineEnd();
      const std::size_t inner = crLf ? frame.indent + 2 : frame.indent;
      if (!blank) {
        out.append(inner, ' ');
        out += EncodeEntities(item.Text());
        lineEnd();
      }
      frame.next = 0;
    }
    if (frame.next < item.SubItemCount()) {
      TXMLItem* sub = item.SubItems(frame.next++);
      sub->SetCrLfInAsString(crLf);
      const std::size_t inner = crLf ? frame.indent + 2 : frame.indent;
      stack.push_back({sub, inner, SIZE_MAX});
      continue;
    }
    out.append(frame.indent, ' ');
    out += "</";
    out += item.Name();
    out += '>';
    lineEnd();
    stack.pop_back();
  }
}

} // namespace

void TXMLParser::SaveToStream(bytes::TMemoryStream& stream, bool isStyleSheet) {
  bool allow = true;
  if (BeforeSave) {
    BeforeSave(*this, allow);
  }
  if (!allow) {
    return;
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n";
  if (!isStyleSheet && !IsBlankText(styleSheet_)) {
    out += "<?xml-stylesheet type=\"text/xsl\" href=\"";
    out += styleSheet_;
    out += "\"?>\r\n";
  }
  WriteItems(*root_, out);
  stream.Write(out.data(), out.size());
  if (OnSaved) {
    OnSaved(*this);
  }
}

void TXMLParser::SaveToFile(const std::u16string& fileName) {
  const std::size_t dot = fileName.rfind(u'.');
  bool isStyleSheet = false;
  if (dot != std::u16string::npos) {
    std::u16string ext = fileName.substr(dot);
    for (char16_t& c : ext) {
      if (c >= u'a' && c <= u'z') {
        c = static_cast<char16_t>(c - u'a' + u'A');
      }
    }
    isStyleSheet = ext == u".XSL";
  }
  bytes::TMemoryStream stream;
  SaveToStream(stream, isStyleSheet);
  platform::TOutputFile file;
  if (!file.Create(platform::WideToPath(fileName)) || !file.WriteAll(stream.Bytes()) ||
      !file.Close()) {
    throw EXMLFileError("Cannot write file");
  }
}

// ---------------------------------------------------------------------------------------------
// TXMLGhost

void TXMLGhost::Clear() {
  if (primary_ != nullptr) {
    primary_->Clear();
  }
}
void TXMLGhost::LoadFromFile(const std::u16string& fileName) {
  if (primary_ != nullptr) {
    primary_->LoadFromFile(fileName);
  }
}
void TXMLGhost::LoadFromStream(bytes::TMemoryStream& stream) {
  if (primary_ != nullptr) {
    primary_->LoadFromStream(stream);
  }
}
void TXMLGhost::SaveToFile(const std::u16string& fileName) {
  if (primary_ != nullptr) {
    primary_->SaveToFile(fileName);
  }
}

} // namespace scv::xml
