// Lenient XML tokenizers and the token-level rules of the XML reader.
#include "xml/XMLTokenizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bytes/MemoryStream.h"

namespace scv::xml {

namespace {

constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) {
    t[static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
  }
  return t;
}
constexpr auto kFold = MakeFoldTable();

unsigned char U(char c) { return static_cast<unsigned char>(c); }

// Searches look at the first bytes with a plain loop, which costs less than a library call
// when the byte is near (names, short texts), and hand longer rests to the vector search.
constexpr std::size_t kLongScan = 48;

inline std::size_t Find(std::string_view s, char c, std::size_t from = 0) {
  const std::size_t near = s.size() - std::min(s.size(), from) > kLongScan ? from + kLongScan
                                                                           : s.size();
  for (std::size_t i = from; i < near; ++i) {
    if (s[i] == c) {
      return i;
    }
  }
  if (near == s.size()) {
    return std::string_view::npos;
  }
  const void* hit = std::memchr(s.data() + near, c, s.size() - near);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
}

bool StartsWithFolded(std::string_view text, std::string_view upperPrefix) {
  if (text.size() < upperPrefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < upperPrefix.size(); ++i) {
    if (kFold[U(text[i])] != U(upperPrefix[i])) {
      return false;
    }
  }
  return true;
}

// The entities a decoding pass replaces, all starting with a character that occurs nowhere
// else in any of them; so occurrences never overlap and one pass replaces them all at once.
struct TEntity {
  std::string_view from;
  std::string_view to;
};
constexpr std::array<TEntity, 5> kEntities{{{"<br/>", "\r\n"},
                                            {"&lt;", "<"},
                                            {"&gt;", ">"},
                                            {"&quot;", "\""},
                                            {"&amp;", "&"}}};

// Entity starting at text[i] ('&' or '<'), or nullptr.
const TEntity* EntityAt(std::string_view text, std::size_t i) {
  const std::string_view rest = text.substr(i);
  if (rest[0] == '<') {
    return rest.starts_with(kEntities[0].from) ? &kEntities[0] : nullptr;
  }
  for (std::size_t k = 1; k < kEntities.size(); ++k) {
    if (rest.starts_with(kEntities[k].from)) {
      return &kEntities[k];
    }
  }
  return nullptr;
}

// Position of the first '&' or '<' at or after from, or npos.
std::size_t FindEntityStart(std::string_view text, std::size_t from) {
  if (text.size() - std::min(from, text.size()) >= kLongScan) {
    const std::size_t amp = Find(text, '&', from);
    const std::string_view head = text.substr(0, amp == std::string_view::npos ? text.size() : amp);
    const std::size_t lt = Find(head, '<', from);
    return lt != std::string_view::npos ? lt : amp;
  }
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '&' || text[i] == '<') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::size_t CountNonBlank(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) {
    n += U(c) > 32 ? 1 : 0;
  }
  return n;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Token-level rules

TTokenKind TagKind(std::string_view tag) {
  if (StartsWithFolded(tag, "<?XML")) {
    return TTokenKind::kDeclaration;
  }
  if (tag.starts_with("<!--")) {
    return TTokenKind::kComment;
  }
  if (tag.ends_with("/>")) {
    return TTokenKind::kEmptyTag;
  }
  if (tag.starts_with("</")) {
    return TTokenKind::kEndTag;
  }
  return TTokenKind::kStartTag;
}

namespace {
std::string ReplaceAll(std::string_view text, std::string_view from) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  for (;;) {
    const std::size_t hit = text.find(from, i);
    if (hit == std::string_view::npos) {
      out.append(text.substr(i));
      return out;
    }
    out.append(text.substr(i, hit - i));
    i = hit + from.size();
  }
}
} // namespace

bool RemoveLinePairs(std::string_view text, std::string& out) {
  // A pair needs both characters; most tokens hold neither.
  if (Find(text, '\n') == std::string_view::npos || Find(text, '\r') == std::string_view::npos) {
    return false;
  }
  std::string first = ReplaceAll(text, "\r\n");
  out = ReplaceAll(first, "\n\r");
  return out.size() != text.size();
}

std::string_view TagName(std::string_view tag) {
  const std::string_view rest = tag.empty() ? tag : tag.substr(1);
  if (const std::size_t space = Find(rest, ' '); space != std::string_view::npos) {
    return rest.substr(0, space);
  }
  if (const std::size_t slash = Find(rest, '/'); slash != std::string_view::npos) {
    return rest.substr(0, slash);
  }
  return rest.empty() ? rest : rest.substr(0, rest.size() - 1);
}

bool DecodeEntitiesInto(std::string_view text, std::string& out) {
  std::size_t i = FindEntityStart(text, 0);
  while (i != std::string_view::npos && EntityAt(text, i) == nullptr) {
    i = FindEntityStart(text, i + 1);
  }
  if (i == std::string_view::npos) {
    return false;
  }
  out.clear();
  out.reserve(text.size());
  std::size_t copied = 0;
  while (i != std::string_view::npos) {
    if (const TEntity* e = EntityAt(text, i)) {
      out.append(text.substr(copied, i - copied));
      out.append(e->to);
      copied = i + e->from.size();
      i = FindEntityStart(text, copied);
    } else {
      i = FindEntityStart(text, i + 1);
    }
  }
  out.append(text.substr(copied));
  return true;
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  if (!DecodeEntitiesInto(text, out)) {
    return std::string(text);
  }
  return out;
}

std::string EncodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\r':
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        out += "<br/>";
        ++i;
      } else {
        out += c;
      }
      break;
    default:
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Byte sources

std::size_t TMemoryByteSource::Read(void* bytes, std::size_t n) { return stream_.Read(bytes, n); }
std::uint64_t TMemoryByteSource::Position() const { return stream_.Position(); }
void TMemoryByteSource::SetPosition(std::uint64_t position) {
  stream_.SetPosition(static_cast<std::size_t>(position));
}
std::uint64_t TMemoryByteSource::Size() const { return stream_.Size(); }

// ---------------------------------------------------------------------------------------------
// Scanning shared by both tokenizers. Bytes 1-31 are always skipped between tokens, spaces
// only while white space is not preserved; a zero byte there or in a text ends the data.

namespace {

enum class TSkip { kToken, kZero, kEnd };

TSkip SkipBlanks(const char* data, std::size_t end, std::size_t& pos, bool preserveSpace,
                 int& line) {
  while (pos < end) {
    const unsigned char c = U(data[pos]);
    if (c == 0) {
      return TSkip::kZero;
    }
    if (c < 32) {
      line += c == '\n' ? 1 : 0;
    } else if (c != 32 || preserveSpace) {
      return TSkip::kToken;
    }
    ++pos;
  }
  return TSkip::kEnd;
}

// End of the text token starting at from: just after its last significant character before
// the next '<' or the end. Sets stop to where the scan stopped ('<', a zero byte or end).
std::size_t TextTokenEnd(const char* data, std::size_t from, std::size_t end,
                         bool preserveSpace, std::size_t& stop) {
  stop = from;
  if (end - from >= kLongScan) {
    const void* lt = std::memchr(data + from, '<', end - from);
    stop = lt == nullptr ? end : static_cast<std::size_t>(static_cast<const char*>(lt) - data);
    if (const void* zero = std::memchr(data + from, 0, stop - from)) {
      stop = static_cast<std::size_t>(static_cast<const char*>(zero) - data);
    }
  } else {
    while (stop < end && data[stop] != '<' && data[stop] != '\0') {
      ++stop;
    }
  }
  const unsigned char least = preserveSpace ? 32 : 33;
  std::size_t last = stop;
  while (last > from && U(data[last - 1]) < least) {
    --last;
  }
  return last;
}

} // namespace

TXMLLargeTokenizer::TXMLLargeTokenizer(std::string_view bytes)
    : data_(bytes.data()), end_(bytes.size()) {
  NextToken(false);
}

TXMLLargeTokenizer::TXMLLargeTokenizer(TXMLByteSource& source) {
  const std::uint64_t size = source.Size();
  const std::uint64_t at = source.Position();
  const std::uint64_t rest = size > at ? size - at : 0;
  own_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(rest) + 1);
  std::size_t got = 0;
  while (got < rest) {
    const std::size_t n = source.Read(own_.get() + got, static_cast<std::size_t>(rest) - got);
    if (n == 0) {
      break;
    }
    got += n;
  }
  own_[got] = 0;
  data_ = own_.get();
  end_ = got;
  NextToken(false);
}

void TXMLLargeTokenizer::SetToken(std::size_t from, std::size_t to, bool sawLf) {
  const std::string_view raw(data_ + from, to - from);
  cleanedToken_ = sawLf && RemoveLinePairs(raw, cleaned_);
  token_ = cleanedToken_ ? std::string_view(cleaned_) : raw;
}

TXMLLargeTokenizer::TXMLLargeTokenizer(TXMLPieceSource& pieces, std::size_t maxToken)
    : pieces_(&pieces), maxToken_(maxToken), piecesDone_(false) {
  data_ = window_.data();
  NextToken(false);
}

bool TXMLLargeTokenizer::MorePieces(std::size_t& keepFrom) {
  if (piecesDone_) {
    return false;
  }
  if (end_ - keepFrom > maxToken_) {
    throw ETokenTooLarge(); // the token read so far is already too long
  }
  const std::string_view piece = pieces_->NextPiece();
  if (piece.empty()) {
    piecesDone_ = true;
    return false;
  }
  // Bytes are dropped only when they are at least half the window, so a long token that
  // spans many pieces is moved a bounded number of times in all.
  if (keepFrom != 0 && keepFrom >= end_ - keepFrom) {
    window_.erase(0, keepFrom);
    pos_ -= keepFrom;
    end_ -= keepFrom;
    keepFrom = 0;
  }
  window_.append(piece);
  data_ = window_.data();
  end_ = window_.size();
  return true;
}

void TXMLLargeTokenizer::NextToken(bool preserveSpace) {
  token_ = {};
  kind_ = TTokenKind::kEnd;
  TSkip skip = SkipBlanks(data_, end_, pos_, preserveSpace, line_);
  while (skip == TSkip::kEnd) {
    std::size_t keep = pos_;
    if (!MorePieces(keep)) {
      break;
    }
    skip = SkipBlanks(data_, end_, pos_, preserveSpace, line_);
  }
  if (skip != TSkip::kToken) {
    end_ = pos_; // a zero byte ends the data for good
    piecesDone_ = true;
    return;
  }
  if (data_[pos_] == '<') {
    std::size_t scan = pos_ + 1;
    const void* close = nullptr;
    for (;;) {
      close = std::memchr(data_ + scan, '>', end_ - scan);
      if (close != nullptr) {
        break;
      }
      const std::size_t scanned = end_ - pos_; // bytes of the tag searched so far
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        // A tag without its '>' ends the document.
        end_ = pos_;
        return;
      }
      scan = pos_ + scanned;
    }
    const auto gt = static_cast<std::size_t>(static_cast<const char*>(close) - data_);
    const bool sawLf = std::memchr(data_ + pos_, '\n', gt - pos_) != nullptr;
    const std::size_t to = gt + 1;
    SetToken(pos_, to, sawLf);
    pos_ = to;
    kind_ = TagKind(token_);
    return;
  }
  std::size_t stop = 0;
  std::size_t last = TextTokenEnd(data_, pos_, end_, preserveSpace, stop);
  if (stop == end_ && !piecesDone_) {
    // The text may go on in the next pieces: search on from where the scan stopped, and trim
    // the blanks before its end afterwards.
    for (;;) {
      const std::size_t scanned = end_ - pos_;
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        break;
      }
      TextTokenEnd(data_, pos_ + scanned, end_, preserveSpace, stop);
      if (stop != end_) {
        break;
      }
    }
    const unsigned char least = preserveSpace ? 32 : 33;
    last = stop;
    while (last > pos_ && U(data_[last - 1]) < least) {
      --last;
    }
  }
  if (stop < end_ && data_[stop] == 0) {
    end_ = stop;
    piecesDone_ = true;
  }
  SetToken(pos_, last, true);
  pos_ = last;
  kind_ = TTokenKind::kText;
}

TXMLTokenizer::TXMLTokenizer(TXMLByteSource& source) : source_(source) {
  bufferOrigin_ = source_.Position();
  buffer_[0] = 0;
  NextToken(false);
}

TXMLTokenizer::~TXMLTokenizer() {
  try {
    source_.SetPosition(bufferOrigin_ + tokenStart_);
  } catch (...) { // NOLINT(bugprone-empty-catch): releasing must not throw
  }
}

bool TXMLTokenizer::Refill(std::size_t keepFrom, std::size_t& need) {
  if (exhausted_) {
    return false;
  }
  // Move the unread rest to the start of the buffer and read more behind it.
  const std::size_t keep = filled_ - keepFrom;
  std::memmove(buffer_, buffer_ + keepFrom, keep);
  bufferOrigin_ += keepFrom;
  need -= keepFrom;
  pos_ -= std::min(pos_, keepFrom);
  tokenStart_ -= std::min(tokenStart_, keepFrom);
  filled_ = keep;
  while (filled_ < kBufferSize) {
    const std::size_t n = source_.Read(buffer_ + filled_, kBufferSize - filled_);
    if (n == 0) {
      exhausted_ = true;
      break;
    }
    filled_ += n;
  }
  buffer_[filled_] = 0;
  if (exhausted_) {
    // The end of the source ends the last line.
    valid_ = filled_;
    return valid_ > need;
  }
  std::size_t lastLf = filled_;
  while (lastLf > 0 && buffer_[lastLf - 1] != '\n') {
    --lastLf;
  }
  if (lastLf <= need) {
    throw EParserError("Line too long on line " + std::to_string(line_));
  }
  valid_ = lastLf;
  return true;
}

void TXMLTokenizer::SetToken(std::size_t from, std::size_t to) {
  const std::string_view raw(buffer_ + from, to - from);
  if (RemoveLinePairs(raw, cleaned_)) {
    token_ = cleaned_;
  } else {
    token_ = raw;
  }
}

void TXMLTokenizer::NextToken(bool preserveSpace) {
  token_ = {};
  kind_ = TTokenKind::kEnd;
  if (ended_) {
    return;
  }
  // Skip blanks, refilling whenever the end of the valid lines is reached.
  for (;;) {
    tokenStart_ = pos_;
    const TSkip skip = SkipBlanks(buffer_, valid_, pos_, preserveSpace, line_);
    if (skip == TSkip::kToken) {
      break;
    }
    if (skip == TSkip::kZero) {
      ended_ = true;
      return;
    }
    std::size_t need = pos_;
    if (!Refill(pos_, need)) {
      if (pos_ >= valid_) {
        ended_ = true;
        return;
      }
    }
  }
  tokenStart_ = pos_;
  if (buffer_[pos_] == '<') {
    std::size_t scan = pos_ + 1;
    for (;;) {
      const void* gt = std::memchr(buffer_ + scan, '>', valid_ - scan);
      if (gt != nullptr) {
        const auto to = static_cast<std::size_t>(static_cast<const char*>(gt) - buffer_) + 1;
        SetToken(pos_, to);
        pos_ = to;
        kind_ = TagKind(token_);
        return;
      }
      scan = valid_;
      std::size_t need = valid_;
      if (!Refill(tokenStart_, need)) {
        // A tag without its '>' ends the document.
        ended_ = true;
        return;
      }
      scan = need;
    }
  }
  // A text token runs to the next '<'; when the valid lines end first it continues after a
  // refill, so that it comes out whole.
  std::size_t stop = 0;
  std::size_t last = 0;
  for (;;) {
    last = TextTokenEnd(buffer_, pos_, valid_, preserveSpace, stop);
    if (stop < valid_) {
      break; // '<' or a zero byte
    }
    std::size_t need = valid_;
    if (!Refill(tokenStart_, need)) {
      break;
    }
  }
  if (stop < valid_ && buffer_[stop] == 0) {
    // The data ends at the zero byte; what stands before it may still form a token.
    valid_ = stop;
    filled_ = stop;
    exhausted_ = true;
  }
  SetToken(pos_, last);
  pos_ = last;
  kind_ = TTokenKind::kText;
}

// ---------------------------------------------------------------------------------------------
// TParamList

std::string& TParamList::Slot(std::size_t i) {
  if (i >= lines_.size()) {
    lines_.resize(i + 1);
  }
  return lines_[i];
}

void TParamList::Add(std::string_view line) {
  Slot(count_).assign(line);
  ++count_;
}

void TParamList::Delete(std::size_t i) {
  if (i >= count_) {
    return;
  }
  // Rotate the removed line's storage behind the live lines.
  std::rotate(lines_.begin() + static_cast<std::ptrdiff_t>(i),
              lines_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
              lines_.begin() + static_cast<std::ptrdiff_t>(count_));
  --count_;
}

bool TParamList::operator==(const TParamList& other) const {
  if (count_ != other.count_) {
    return false;
  }
  for (std::size_t i = 0; i < count_; ++i) {
    if (lines_[i] != other.lines_[i]) {
      return false;
    }
  }
  return true;
}

std::string_view TParamList::NameAt(std::size_t i) const {
  const std::string_view line = lines_[i];
  const std::size_t eq = Find(line, '=');
  return eq == std::string_view::npos ? std::string_view{} : line.substr(0, eq);
}

std::ptrdiff_t TParamList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const std::string_view line = lines_[i];
    if (line.size() > name.size() && line[name.size()] == '=' &&
        SameTextAscii(line.substr(0, name.size()), name) &&
        Find(line.substr(0, name.size()), '=') == std::string_view::npos) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::ptrdiff_t TParamList::IndexOf(std::string_view line) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (SameTextAscii(lines_[i], line)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::string_view TParamList::Value(std::string_view name) const {
  const std::ptrdiff_t i = IndexOfName(name);
  if (i < 0) {
    return {};
  }
  return std::string_view(lines_[static_cast<std::size_t>(i)]).substr(name.size() + 1);
}

void TParamList::SetValue(std::string_view name, std::string_view value) {
  const std::ptrdiff_t i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) {
      Delete(static_cast<std::size_t>(i));
    }
    return;
  }
  // name and value may point into the list itself: build the line aside.
  scratch_.clear();
  scratch_.append(name).append("=").append(value);
  if (i < 0) {
    Slot(count_).swap(scratch_);
    ++count_;
  } else {
    lines_[static_cast<std::size_t>(i)].swap(scratch_);
  }
}

// Line splitting in general: spaces outside double quotes turn into line breaks (the last
// character is never examined); the result splits into lines at CR, LF or CR LF, and a zero
// byte ends it.
void SplitParamLines(std::string_view text, TParamList& params) {
  std::string* line = nullptr;
  bool quoted = false;
  bool afterCr = false;
  const auto endLine = [&] {
    if (line == nullptr) {
      params.Slot(params.count_).clear();
    }
    ++params.count_;
    line = nullptr;
  };
  const auto put = [&](char v) {
    if (afterCr) {
      afterCr = false;
      if (v == '\n') {
        return;
      }
    }
    if (v == '\r') {
      endLine();
      afterCr = true;
    } else if (v == '\n') {
      endLine();
    } else {
      if (line == nullptr) {
        line = &params.Slot(params.count_);
        line->clear();
      }
      *line += v;
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') {
      break;
    }
    if (i + 1 < text.size()) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ' ' && !quoted) {
        put('\r');
        put('\n');
        continue;
      }
    }
    put(c);
  }
  if (line != nullptr) {
    ++params.count_;
  }
}

// When every line has an "=" and no name repeats (ignoring case), each look-up by name finds
// the line itself, so the lines are processed in place. False (nothing changed) otherwise.
bool ProcessDistinctParams(TParamList& params) {
  constexpr std::size_t kPairwise = 16;
  const std::size_t n = params.Count();
  std::size_t smallEqs[kPairwise];
  std::vector<std::size_t> largeEqs;
  if (n > kPairwise) {
    largeEqs.resize(n);
  }
  const std::span<std::size_t> eqs =
      n > kPairwise ? std::span<std::size_t>(largeEqs) : std::span<std::size_t>(smallEqs, n);
  // Short lists compare every pair of names; long ones go through a set of case-folded names,
  // so that a tag with thousands of attributes costs time in proportion to its length.
  std::unordered_set<std::string> folded;
  for (std::size_t i = 0; i < n; ++i) {
    eqs[i] = Find(params[i], '=');
    if (eqs[i] == std::string::npos) {
      return false;
    }
    if (n > kPairwise) {
      std::string name = params[i].substr(0, eqs[i]);
      for (char& c : name) {
        c = static_cast<char>(kFold[U(c)]);
      }
      if (!folded.insert(std::move(name)).second) {
        return false;
      }
      continue;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (eqs[j] == eqs[i] &&
          SameTextAscii(std::string_view(params[i]).substr(0, eqs[i]),
                        std::string_view(params[j]).substr(0, eqs[j]))) {
        return false;
      }
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::string& line = params.Slot(i);
    const std::size_t eq = eqs[i];
    if (line.size() - eq - 1 > 2) {
      if (line[eq + 1] == '"') {
        line.erase(eq + 1, 1);
      }
      if (line.back() == '"') {
        line.pop_back();
      }
    }
    const std::string_view value = std::string_view(line).substr(eq + 1);
    if (FindEntityStart(value, 0) != std::string_view::npos) {
      if (DecodeEntitiesInto(value, params.scratch_)) {
        line.resize(eq + 1);
        line += params.scratch_;
      }
    }
    if (line.size() == eq + 1) {
      continue; // an empty value removes its line
    }
    if (kept != i) {
      params.Slot(kept).swap(line);
    }
    ++kept;
  }
  params.count_ = kept;
  return true;
}

void ParseTagParams(std::string_view tag, TParamList& params) {
  params.Clear();
  const std::size_t space = Find(tag, ' ');
  if (space == std::string_view::npos) {
    return;
  }
  std::size_t stop = Find(tag, '>', space + 1);
  if (stop == std::string_view::npos) {
    stop = tag.size();
  }
  if (stop > space + 1 && tag[stop - 1] == '/') {
    --stop;
  }
  const std::string_view text = stop > space + 1 ? tag.substr(space + 1, stop - space - 1)
                                                 : std::string_view{};
  bool plain = true;
  for (const char c : text) {
    if (c == '\r' || c == '\n' || c == '\0') {
      plain = false;
      break;
    }
  }
  if (plain) {
    // Without line ends or zero bytes the lines are the pieces between the spaces that stand
    // outside quotes (the last character never splits).
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ' ' && !quoted) {
        params.Slot(params.count_++).assign(text.substr(start, i - start));
        start = i + 1;
      }
    }
    if (!text.empty()) {
      params.Slot(params.count_++).assign(text.substr(start));
    }
  } else {
    SplitParamLines(text, params);
  }
  if (ProcessDistinctParams(params)) {
    return;
  }
  // Every original entry is processed once, by name: its value is taken from the first line
  // with that name, processed, and stored back into that line; an empty value deletes it.
  // The line found always stands at or before the entry being processed, so entry k is
  // always original line k. Lines are found through an index of case-folded names, and
  // deleted lines are only marked until the end, so a tag with many attributes costs time
  // in proportion to its length.
  const std::size_t n = params.Count();
  struct TNameLines {
    std::vector<std::size_t> lines; // original positions of lines with this name and an "="
    std::size_t next = 0;           // first of them that may still be live
  };
  std::unordered_map<std::string, TNameLines> byName;
  std::vector<std::uint8_t> dead(n, 0);
  const auto fold = [](std::string_view text) {
    std::string key(text);
    for (char& c : key) {
      c = static_cast<char>(kFold[U(c)]);
    }
    return key;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t eq = Find(params[i], '=');
    if (eq != std::string::npos) {
      byName[fold(std::string_view(params[i]).substr(0, eq))].lines.push_back(i);
    }
  }
  std::string value;
  std::string decoded;
  for (std::size_t k = 0; k < n; ++k) {
    const std::string name(params.NameAt(k));
    std::size_t found = std::string::npos;
    TNameLines* entry = nullptr;
    if (const auto it = byName.find(fold(name)); it != byName.end()) {
      entry = &it->second;
      while (entry->next < entry->lines.size() && dead[entry->lines[entry->next]] != 0) {
        ++entry->next;
      }
      if (entry->next < entry->lines.size()) {
        found = entry->lines[entry->next];
      }
    }
    value.clear();
    if (found != std::string::npos) {
      value.assign(std::string_view(params[found]).substr(name.size() + 1));
    }
    if (value.size() > 2) {
      if (value.front() == '"') {
        value.erase(0, 1);
      }
      if (!value.empty() && value.back() == '"') {
        value.pop_back();
      }
    }
    if (DecodeEntitiesInto(value, decoded)) {
      value.swap(decoded);
    }
    if (found == std::string::npos) {
      continue; // nothing to store: an absent name only ever gets an empty value here
    }
    if (value.empty()) {
      dead[found] = 1;
    } else {
      std::string& line = params.Slot(found);
      line.assign(name).append("=").append(value);
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (dead[i] == 0) {
      if (kept != i) {
        params.Slot(kept).swap(params.Slot(i));
      }
      ++kept;
    }
  }
  params.count_ = kept;
}

bool PreservesSpace(const TParamList& params) {
  return params.IndexOf("xml:space=preserve") >= 0;
}

// ---------------------------------------------------------------------------------------------
// TJoinedText

// A piece whose decoding has not settled: its characters as a doubly linked list, so that a
// pass touches only the entities formed around the previous pass's output. Node 0 is never
// removed (a replacement keeps its first node).
struct TJoinedText::TCascade {
  std::string chars;
  std::vector<std::int32_t> next; // -1 at the end
  std::vector<std::int32_t> prev; // -1 at the start
  std::vector<std::int32_t> candidates;
  std::vector<std::uint32_t> seen;
  std::uint32_t stamp = 0;
  std::size_t size = 0;

  explicit TCascade(std::string_view text) : chars(text), size(text.size()) {
    const auto n = static_cast<std::int32_t>(text.size());
    next.resize(text.size());
    prev.resize(text.size());
    for (std::int32_t i = 0; i < n; ++i) {
      next[static_cast<std::size_t>(i)] = i + 1 < n ? i + 1 : -1;
      prev[static_cast<std::size_t>(i)] = i - 1;
    }
    seen.assign(text.size(), 0);
    for (std::size_t i = FindEntityStart(text, 0); i != std::string_view::npos;
         i = FindEntityStart(text, i + 1)) {
      candidates.push_back(static_cast<std::int32_t>(i));
    }
  }

  char At(std::int32_t node) const { return chars[static_cast<std::size_t>(node)]; }

  const TEntity* EntityAtNode(std::int32_t node) const {
    for (const TEntity& e : kEntities) {
      std::int32_t p = node;
      bool ok = true;
      for (const char c : e.from) {
        if (p < 0 || At(p) != c) {
          ok = false;
          break;
        }
        p = next[static_cast<std::size_t>(p)];
      }
      if (ok) {
        return &e;
      }
    }
    return nullptr;
  }

  // One decoding pass. Returns the change of the count of characters above 32; sets done
  // when no later pass can change anything. Every entity present after a pass contains a
  // character that pass produced ('&' or '<' at its start, '>' at the end of "<br/>"), so
  // the produced characters are the only places to look.
  std::ptrdiff_t Pass(bool& done) {
    ++stamp;
    std::vector<std::pair<std::int32_t, const TEntity*>> found;
    for (std::int32_t c : candidates) {
      if (At(c) == '>') {
        for (int k = 0; k < 4 && c >= 0; ++k) {
          c = prev[static_cast<std::size_t>(c)];
        }
        if (c < 0) {
          continue;
        }
      }
      if ((At(c) != '&' && At(c) != '<') || seen[static_cast<std::size_t>(c)] == stamp) {
        continue;
      }
      if (const TEntity* e = EntityAtNode(c)) {
        seen[static_cast<std::size_t>(c)] = stamp;
        found.emplace_back(c, e);
      }
    }
    std::ptrdiff_t delta = 0;
    std::vector<std::int32_t> produced;
    for (const auto& [start, e] : found) {
      std::int32_t keep = start;
      for (std::size_t k = 0; k < e->to.size(); ++k) {
        if (k != 0) {
          keep = next[static_cast<std::size_t>(keep)];
        }
        chars[static_cast<std::size_t>(keep)] = e->to[k];
      }
      std::int32_t drop = next[static_cast<std::size_t>(keep)];
      for (std::size_t k = e->to.size(); k < e->from.size(); ++k) {
        drop = next[static_cast<std::size_t>(drop)];
      }
      next[static_cast<std::size_t>(keep)] = drop;
      if (drop >= 0) {
        prev[static_cast<std::size_t>(drop)] = keep;
      }
      size -= e->from.size() - e->to.size();
      delta -= static_cast<std::ptrdiff_t>(e->from.size()) -
               static_cast<std::ptrdiff_t>(CountNonBlank(e->to));
      const char out = e->to[0];
      if (out == '&' || out == '<' || out == '>') {
        produced.push_back(start);
      }
    }
    candidates.swap(produced);
    done = candidates.empty();
    return delta;
  }

  void AppendTo(std::string& out) const {
    if (chars.empty()) {
      return;
    }
    out.reserve(out.size() + size);
    for (std::int32_t i = 0; i >= 0; i = next[static_cast<std::size_t>(i)]) {
      out += chars[static_cast<std::size_t>(i)];
    }
  }
};

TJoinedText::TJoinedText() = default;
TJoinedText::~TJoinedText() = default;
TJoinedText::TJoinedText(TJoinedText&&) noexcept = default;
TJoinedText& TJoinedText::operator=(TJoinedText&&) noexcept = default;

void TJoinedText::Clear() {
  pieces_.clear();
  unstable_.clear();
  nonBlank_ = 0;
}

void TJoinedText::AdvanceCascades() {
  std::size_t kept = 0;
  for (const std::size_t index : unstable_) {
    TPiece& piece = pieces_[index];
    bool done = false;
    const std::ptrdiff_t delta = piece.cascade->Pass(done);
    nonBlank_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(nonBlank_) + delta);
    if (done) {
      piece.own.clear();
      piece.cascade->AppendTo(piece.own);
      piece.view = {};
      piece.cascade.reset();
    } else {
      unstable_[kept++] = index;
    }
  }
  unstable_.resize(kept);
}

void TJoinedText::Join(std::string_view token, bool stableToken) {
  if (nonBlank_ == 0) {
    Clear();
  } else {
    // The whole joined text is decoded once more: settled pieces decode to themselves.
    AdvanceCascades();
  }
  TPiece piece;
  std::string decoded;
  if (DecodeEntitiesInto(token, decoded)) {
    // Does the result still hold an entity? Then later passes may change it.
    bool more = false;
    for (std::size_t i = FindEntityStart(decoded, 0); i != std::string::npos;
         i = FindEntityStart(decoded, i + 1)) {
      if (EntityAt(decoded, i) != nullptr) {
        more = true;
        break;
      }
    }
    nonBlank_ += CountNonBlank(decoded);
    if (more) {
      piece.cascade = std::make_unique<TCascade>(decoded);
      unstable_.push_back(pieces_.size());
    } else {
      piece.own = std::move(decoded);
    }
  } else {
    nonBlank_ += CountNonBlank(token);
    if (stableToken) {
      piece.view = token;
    } else {
      piece.own.assign(token);
    }
  }
  pieces_.push_back(std::move(piece));
}

bool TJoinedText::SingleView(std::string_view& view) const {
  if (pieces_.size() == 1 && !pieces_[0].cascade && pieces_[0].view.data() != nullptr) {
    view = pieces_[0].view;
    return true;
  }
  return false;
}

void TJoinedText::AppendTo(std::string& out) const {
  bool first = true;
  for (const TPiece& piece : pieces_) {
    if (!first) {
      out += "\r\n";
    }
    first = false;
    if (piece.cascade) {
      piece.cascade->AppendTo(out);
    } else if (piece.view.data() != nullptr) {
      out.append(piece.view);
    } else {
      out.append(piece.own);
    }
  }
}

std::size_t TJoinedText::Size() const {
  std::size_t n = pieces_.empty() ? 0 : 2 * (pieces_.size() - 1);
  for (const TPiece& piece : pieces_) {
    n += piece.cascade ? piece.cascade->size
                       : (piece.view.data() != nullptr ? piece.view.size() : piece.own.size());
  }
  return n;
}

} // namespace scv::xml
