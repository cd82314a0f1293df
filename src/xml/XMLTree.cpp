// The compact tree the extractors read parts into: every element as a node in one array, built
// by the reader's tree-building rules.
#include "xml/XMLTree.h"

#include "xml/XMLBuild.h"
#include "xml/XMLEntities.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace scv::xml {

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

} // namespace

bool IsBlankText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

// The style-sheet reference of an "<?xml-stylesheet ...?>" declaration: the characters after
// the first HREF=" up to the next double quote. False when the declaration names none.
bool StyleSheetOf(std::string_view token, std::string& out) {
  const std::string upper = Upper(token);
  if (upper.find("XML-STYLESHEET") == std::string::npos) {
    return false;
  }
  const std::size_t href = upper.find("HREF=\"");
  out.clear();
  if (href != std::string::npos) {
    const std::string_view rest = token.substr(href + 6);
    const std::size_t quote = rest.find('"');
    if (quote != std::string_view::npos) {
      out.assign(rest.substr(0, quote));
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// TXMLTree

TXMLTree::TXMLTree() = default;
TXMLTree::~TXMLTree() = default;

void TXMLTree::Clear() {
  nodes_.clear();
  params_.clear();
  // Standard chunks stay for the next document (their pages are already mapped); blocks of
  // large texts go.
  std::erase_if(chunks_, [](const TChunk& c) { return !c.standard; });
  spare_ = 0;
  chunkRest_ = {};
  styleSheet_.clear();
  hasStyleSheet_ = false;
}

std::string_view TXMLTree::Store(std::string_view bytes) {
  if (bytes.empty()) {
    return std::string_view(""); // empty, but a value (its data is not null)
  }
  if (bytes.size() > chunkRest_.size()) {
    if (bytes.size() >= kChunkSize / 4) {
      // Large texts get a block of their own; the current chunk stays in use.
      auto block = std::make_unique_for_overwrite<char[]>(bytes.size());
      std::memcpy(block.get(), bytes.data(), bytes.size());
      const std::string_view view(block.get(), bytes.size());
      chunks_.push_back({std::move(block), false});
      return view;
    }
    // Next standard chunk: a kept one, or a new one.
    while (spare_ < chunks_.size() && !chunks_[spare_].standard) {
      ++spare_;
    }
    if (spare_ == chunks_.size()) {
      chunks_.push_back({std::make_unique_for_overwrite<char[]>(kChunkSize), true});
    }
    chunkRest_ = std::span(chunks_[spare_++].bytes.get(), kChunkSize);
  }
  std::memcpy(chunkRest_.data(), bytes.data(), bytes.size());
  const std::string_view view(chunkRest_.data(), bytes.size());
  chunkRest_ = chunkRest_.subspan(bytes.size());
  return view;
}

std::uint32_t TXMLTree::AddNode(std::uint32_t parent, std::uint32_t lastChild) {
  if (nodes_.size() >= kNone - 1) {
    throw EParserError("element", nodes_.size(), "Too many elements");
  }
  const auto index = static_cast<std::uint32_t>(nodes_.size());
  nodes_.emplace_back();
  if (parent != kNone) {
    if (lastChild == kNone) {
      nodes_[parent].firstChild = index;
    } else {
      nodes_[lastChild].nextSibling = index;
    }
  }
  return index;
}

void TXMLTree::SetName(std::uint32_t node, std::string_view name, bool stable) {
  nodes_[node].name = stable ? name : Store(name);
}

void TXMLTree::SetText(std::uint32_t node, std::string_view text, bool stable) {
  nodes_[node].text = stable ? text : Store(text);
}

void TXMLTree::SetParams(std::uint32_t node, const TParamList& params) {
  if (params.Count() > kNone - params_.size()) {
    throw EParserError("attribute", params_.size(), "Too many attributes");
  }
  nodes_[node].paramBegin = static_cast<std::uint32_t>(params_.size());
  nodes_[node].paramCount = static_cast<std::uint32_t>(params.Count());
  for (std::size_t i = 0; i < params.Count(); ++i) {
    const std::string_view line = Store(params[i]);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      params_.push_back({line, std::string_view()});
    } else {
      params_.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
  }
}

namespace {

// Byte classes for reading attributes in one pass.
enum : unsigned char {
  kPlain = 0,
  kQuote,
  kSpace,
  kEquals,
  kEntity,
  kLineEnd
};
constexpr std::array<unsigned char, 256> MakeAttrClasses() {
  std::array<unsigned char, 256> t{};
  t['"'] = kQuote;
  t[' '] = kSpace;
  t['='] = kEquals;
  t['&'] = kEntity;
  t['<'] = kEntity;
  t['\r'] = kLineEnd;
  t['\n'] = kLineEnd;
  t[0] = kLineEnd;
  return t;
}
constexpr auto kAttrClass = MakeAttrClasses();

} // namespace

bool TXMLTree::SetPlainParams(std::uint32_t node, std::string_view text, bool stable) {
  constexpr std::size_t kMax = kMaxPlainParams;
  // Offsets, not views: arrays of views would be cleared on every call.
  struct TSpan {
    std::size_t at;
    std::size_t size;
  };
  TSpan names[kMax];
  TSpan values[kMax];
  std::size_t count = 0;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    const std::size_t nameStart = i;
    while (i < n && kPlainName[static_cast<unsigned char>(text[i])]) {
      ++i;
    }
    if (count == kMax || i == nameStart || i + 1 >= n || text[i] != '=' || text[i + 1] != '"') {
      return false;
    }
    const TSpan name{nameStart, i - nameStart};
    i += 2;
    const std::size_t valueStart = i;
    while (i < n && kPlainValue[static_cast<unsigned char>(text[i])]) {
      ++i;
    }
    if (i >= n || text[i] != '"') {
      return false;
    }
    // Quotes come off values longer than two characters, so "" stays as written.
    values[count] = i == valueStart ? TSpan{valueStart - 1, 2} : TSpan{valueStart, i - valueStart};
    ++i;
    const unsigned first = static_cast<unsigned char>(text[name.at]) | 0x20u;
    for (std::size_t j = 0; j < count; ++j) {
      if (names[j].size == name.size &&
          (static_cast<unsigned char>(text[names[j].at]) | 0x20u) == first &&
          SameTextAscii(text.substr(names[j].at, name.size), text.substr(name.at, name.size))) {
        return false;
      }
    }
    names[count] = name;
    ++count;
    if (i == n) {
      break;
    }
    if (text[i] != ' ' || i + 1 >= n) {
      return false;
    }
    ++i;
  }
  const std::size_t base = params_.size();
  params_.resize(base + count);
  for (std::size_t k = 0; k < count; ++k) {
    // Field by field: a whole pair built on the stack and copied costs a stalled load.
    const std::string_view name = text.substr(names[k].at, names[k].size);
    const std::string_view value = text.substr(values[k].at, values[k].size);
    params_[base + k].name = stable ? name : Store(name);
    params_[base + k].value = stable ? value : Store(value);
  }
  nodes_[node].paramCount = static_cast<std::uint32_t>(count);
  return true;
}

bool TXMLTree::SetTagParams(std::uint32_t node, std::string_view tag, bool stable) {
  std::size_t space = 0;
  while (space < tag.size() && tag[space] != ' ') {
    ++space;
  }
  nodes_[node].paramBegin = static_cast<std::uint32_t>(params_.size());
  nodes_[node].paramCount = 0;
  if (space == tag.size()) {
    return true;
  }
  // A tag token ends at its first '>'.
  std::size_t stop = tag.back() == '>' ? tag.size() - 1 : tag.size();
  if (stop > space + 1 && tag[stop - 1] == '/') {
    --stop;
  }
  if (stop <= space + 1) {
    return true;
  }
  const std::string_view text = tag.substr(space + 1, stop - space - 1);
  if (SetPlainParams(node, text, stable)) {
    return true;
  }
  // One pass: pieces split at spaces outside quotes (the last character never splits or
  // toggles), the first "=" of each piece, and whether its value holds '&' or '<'.
  constexpr std::size_t kMaxPieces = 16;
  constexpr std::size_t kNoEq = static_cast<std::size_t>(-1);
  std::size_t starts[kMaxPieces + 1];
  std::size_t eqs[kMaxPieces];
  bool entity[kMaxPieces];
  std::size_t count = 0;
  starts[0] = 0;
  eqs[0] = kNoEq;
  entity[0] = false;
  bool quoted = false;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char cls = kAttrClass[static_cast<unsigned char>(text[i])];
    if (cls == kPlain) {
      continue;
    }
    switch (cls) {
    case kLineEnd:
      return false;
    case kQuote:
      quoted = !quoted;
      break;
    case kSpace:
      if (!quoted && i + 1 < n) {
        if (++count == kMaxPieces) {
          return false;
        }
        starts[count] = i + 1;
        eqs[count] = kNoEq;
        entity[count] = false;
      }
      break;
    case kEquals:
      if (eqs[count] == kNoEq) {
        eqs[count] = i - starts[count];
      }
      break;
    default: // kEntity
      entity[count] = entity[count] || eqs[count] != kNoEq;
      break;
    }
  }
  ++count;
  starts[count] = n + 1;
  for (std::size_t k = 0; k < count; ++k) {
    if (eqs[k] == kNoEq) {
      return false;
    }
    const unsigned first = static_cast<unsigned char>(text[starts[k]]) | 0x20u;
    for (std::size_t j = 0; j < k; ++j) {
      // Names of different lengths or initials differ; only the rest compares in full.
      if (eqs[j] == eqs[k] && (static_cast<unsigned char>(text[starts[j]]) | 0x20u) == first &&
          SameTextAscii(std::string_view(text.data() + starts[j], eqs[k]),
                        std::string_view(text.data() + starts[k], eqs[k]))) {
        return false;
      }
    }
  }
  std::string decoded;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view piece = text.substr(starts[k], starts[k + 1] - 1 - starts[k]);
    std::string_view value = piece.substr(eqs[k] + 1);
    if (value.size() > 2) {
      if (value.front() == '"') {
        value.remove_prefix(1);
      }
      if (value.back() == '"') {
        value.remove_suffix(1);
      }
    }
    if (value.empty()) {
      continue; // an empty value removes its line
    }
    bool own = !stable;
    if (entity[k] && DecodeEntitiesInto(value, decoded)) {
      value = decoded;
      own = true;
    }
    const std::string_view name = stable ? piece.substr(0, eqs[k]) : Store(piece.substr(0, eqs[k]));
    params_.push_back({name, own ? Store(value) : value});
    ++nodes_[node].paramCount;
  }
  return true;
}

bool TXMLTree::PreservesSpace(std::uint32_t node) const {
  const TNode& n = nodes_[node];
  for (std::uint32_t k = 0; k < n.paramCount; ++k) {
    const TParam& p = params_[n.paramBegin + k];
    if (p.value.data() != nullptr && SameTextAscii(p.name, "xml:space") &&
        SameTextAscii(p.value, "preserve")) {
      return true;
    }
  }
  return false;
}

std::string TXMLTree::ParamLine(const TNode& node, std::uint32_t k) const {
  const TParam& p = params_[node.paramBegin + k];
  std::string line(p.name);
  if (p.value.data() != nullptr) {
    line += '=';
    line += p.value;
  }
  return line;
}

bool TXMLTree::HasParam(const TNode& node, std::string_view name) const {
  for (std::uint32_t k = 0; k < node.paramCount; ++k) {
    const TParam& p = params_[node.paramBegin + k];
    if (p.value.data() != nullptr && SameTextAscii(p.name, name)) {
      return true;
    }
  }
  return false;
}

std::string_view TXMLTree::ParamValue(const TNode& node, std::string_view name) const {
  for (std::uint32_t k = 0; k < node.paramCount; ++k) {
    const TParam& p = params_[node.paramBegin + k];
    if (p.value.data() != nullptr && SameTextAscii(p.name, name)) {
      return p.value;
    }
  }
  return {};
}

bool TXMLTree::HasParamLine(const TNode& node, std::string_view line) const {
  const std::size_t eq = line.find('=');
  for (std::uint32_t k = 0; k < node.paramCount; ++k) {
    const TParam& p = params_[node.paramBegin + k];
    if (p.value.data() == nullptr) {
      if (SameTextAscii(p.name, line)) {
        return true;
      }
    } else if (eq != std::string_view::npos && SameTextAscii(p.name, line.substr(0, eq)) &&
               SameTextAscii(p.value, line.substr(eq + 1))) {
      return true;
    }
  }
  return false;
}

std::uint32_t TXMLTree::ChildByName(std::uint32_t node, std::string_view name) const {
  for (std::uint32_t c = nodes_[node].firstChild; c != kNone; c = nodes_[c].nextSibling) {
    if (SameTextAscii(nodes_[c].name, name)) {
      return c;
    }
  }
  return kNone;
}

void LoadXMLTree(std::string_view bytes, TXMLTree& tree, std::size_t maxDepth,
                 std::string_view preserving) {
  TXMLLargeTokenizer tok(bytes);
  TTreeSink sink{tree, preserving};
  BuildTree(tok, sink, maxDepth);
}

void LoadXMLTree(TXMLLargeTokenizer& tokenizer, TXMLTree& tree) {
  // The tokenizer's own memory dies with it; texts are copied into the tree.
  struct TCopying {
    TXMLLargeTokenizer& tok;
    TTokenKind Kind() const { return tok.Kind(); }
    bool TokenInSource() const { return false; }
    std::string_view Token() const { return tok.Token(); }
    void NextToken(bool preserve) { tok.NextToken(preserve); }
    std::uint64_t InputOffset() const { return tok.InputOffset(); }
  } copying{tokenizer};
  TTreeSink sink{tree};
  BuildTree(copying, sink);
}

void LoadXMLTree(TXMLTokenizer& tokenizer, TXMLTree& tree) {
  TTreeSink sink{tree};
  BuildTree(tokenizer, sink);
}

} // namespace scv::xml
