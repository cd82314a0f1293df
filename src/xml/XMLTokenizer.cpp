// The XML reader's tokenizers and token-level rules: token kinds, tag names, line pairs, and
// the two tokenizers (whole memory or pieces, and the 4096-byte buffer).
#include "xml/XMLTokenizer.h"

#include "bytes/MemoryStream.h"
#include "xml/XMLScan.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

namespace scv::xml {

namespace {

bool StartsWithFolded(std::string_view text, std::string_view upperPrefix) {
  if (text.size() < upperPrefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < upperPrefix.size(); ++i) {
    if (kFold[UByte(text[i])] != UByte(upperPrefix[i])) {
      return false;
    }
  }
  return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Token-level rules

TTokenKind TagKind(std::string_view tag) {
  if (tag.starts_with("<?")) {
    return StartsWithFolded(tag, "<?XML") ? TTokenKind::kDeclaration : TTokenKind::kInstruction;
  }
  if (tag.starts_with("<!")) {
    if (tag.starts_with("<!--")) {
      return TTokenKind::kComment;
    }
    return tag.starts_with("<![CDATA[") ? TTokenKind::kCData : TTokenKind::kDocType;
  }
  return PlainTagKind(tag);
}

bool TTagEnd::Settled(std::string_view head) {
  if (head.size() >= kHeadBytes) {
    return true;
  }
  if (head.size() < 2) {
    return false;
  }
  // Only a beginning of "<!--" or "<![CDATA[" leaves the form open.
  const auto opens = [&](std::string_view form) {
    return head.size() < form.size() && form.starts_with(head);
  };
  return !opens("<!--") && !opens("<![CDATA[");
}

void TTagEnd::Start(std::string_view head) {
  *this = TTagEnd();
  kind = TagKind(head);
  switch (kind) {
  case TTokenKind::kDeclaration:
  case TTokenKind::kInstruction:
    minGt = 3; // "<?" and the "?" of "?>"
    break;
  case TTokenKind::kComment:
    minGt = 6; // "<!--" and the "--" of "-->"
    break;
  case TTokenKind::kCData:
    minGt = 11; // "<![CDATA[" and the "]]" of "]]>"
    break;
  case TTokenKind::kDocType:
    minGt = 2;
    break;
  default:
    // Plain tags: the kind comes from the whole text once it ends.
    kind = TTokenKind::kStartTag;
    break;
  }
}

std::size_t TTagEnd::Scan(std::string_view data, std::size_t start) {
  const std::size_t end = data.size();
  if (kind == TTokenKind::kDocType) {
    for (std::size_t i = start + scanned; i < end; ++i) {
      const char c = data[i];
      if (quote != 0) {
        quote = c == quote ? '\0' : quote;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']') {
        depth -= depth > 0 ? 1 : 0;
      } else if (c == '>' && depth == 0 && i - start >= minGt) {
        return i - start;
      }
    }
    scanned = end - start;
    return std::string_view::npos;
  }
  // The other forms end at a ">"; the ones with a two-byte closer check the bytes before it.
  const char closer = kind == TTokenKind::kComment    ? '-'
                      : kind == TTokenKind::kCData    ? ']'
                      : kind == TTokenKind::kStartTag ? '\0'
                                                      : '?';
  const std::size_t closerBytes = kind == TTokenKind::kStartTag ? 0 : closer == '?' ? 1 : 2;
  std::size_t from = start + std::max(scanned, minGt);
  while (from < end) {
    const std::size_t gt = FindIn(data, from, end, '>');
    if (gt == std::string_view::npos) {
      break;
    }
    if (closerBytes == 0 ||
        (data[gt - 1] == closer && (closerBytes == 1 || data[gt - 2] == closer))) {
      return gt - start;
    }
    from = gt + 1;
  }
  scanned = std::max(scanned, end - start);
  return std::string_view::npos;
}

std::size_t TTagEnd::Droppable() {
  if (kind != TTokenKind::kComment && kind != TTokenKind::kInstruction &&
      kind != TTokenKind::kDocType) {
    return 0;
  }
  if (scanned < minGt || scanned <= kKeepIgnored) {
    return 0;
  }
  const std::size_t drop = scanned - 2;
  scanned = 2;
  minGt = 2;
  return drop;
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
  // Up to the first space; without one, up to the first '/'; without either, all but the
  // closing '>'. One pass: names are short, and most tags have a space right after them.
  std::size_t slash = std::string_view::npos;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == ' ') {
      return rest.substr(0, i);
    }
    if (c == '/' && slash == std::string_view::npos) {
      slash = i;
    }
  }
  if (slash != std::string_view::npos) {
    return rest.substr(0, slash);
  }
  return rest.empty() ? rest : rest.substr(0, rest.size() - 1);
}

// ---------------------------------------------------------------------------------------------
// Byte sources

std::size_t TMemoryByteSource::Read(void* bytes, std::size_t n) {
  return stream_.Read(bytes, n);
}
std::uint64_t TMemoryByteSource::Position() const {
  return stream_.Position();
}
void TMemoryByteSource::SetPosition(std::uint64_t position) {
  stream_.SetPosition(static_cast<std::size_t>(position));
}
std::uint64_t TMemoryByteSource::Size() const {
  return stream_.Size();
}

// ---------------------------------------------------------------------------------------------
// Scanning shared by both tokenizers. Bytes 1-31 are always skipped between tokens, spaces
// only while white space is not preserved; a zero byte there or in a text ends the data.

namespace {

enum class TSkip {
  kToken,
  kZero,
  kEnd
};

TSkip SkipBlanks(std::string_view data, std::size_t& pos, bool preserveSpace, int& line) {
  while (pos < data.size()) {
    const unsigned char c = UByte(data[pos]);
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
std::size_t TextTokenEnd(std::string_view data, std::size_t from, bool preserveSpace,
                         std::size_t& stop) {
  const std::size_t end = data.size();
  stop = from;
  if (end - from >= kLongScan) {
    stop = std::min(FindIn(data, from, end, '<'), end);
    stop = std::min(FindIn(data, from, stop, '\0'), stop);
  } else {
    while (stop < end && data[stop] != '<' && data[stop] != '\0') {
      ++stop;
    }
  }
  const unsigned char least = preserveSpace ? 32 : 33;
  std::size_t last = stop;
  while (last > from && UByte(data[last - 1]) < least) {
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
  const std::span<char> own(own_.get(), static_cast<std::size_t>(rest));
  std::size_t got = 0;
  while (got < rest) {
    const std::size_t n = source.Read(own.subspan(got).data(), own.size() - got);
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
  const std::string_view raw = SliceOf(Data(), from, to - from);
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
    // The token read so far is already too long.
    throw bytes::EFormatError("token", dropped_ + keepFrom,
                              "longer than " + std::to_string(maxToken_) + " bytes");
  }
  if (!inWindow_) {
    // The piece read in place ends with the next call: what is kept moves to the window.
    window_.assign(Data().substr(keepFrom));
    dropped_ += keepFrom;
    pos_ -= keepFrom;
    end_ -= keepFrom;
    keepFrom = 0;
    data_ = window_.data();
    inWindow_ = true;
  }
  const std::string_view piece = pieces_->NextPiece();
  if (piece.empty()) {
    piecesDone_ = true;
    return false;
  }
  const std::size_t keep = end_ - keepFrom;
  if (keep <= pieces_->RoomBefore() || keep == 0) {
    // The kept bytes fit in front of the piece: read on in place, without copying the piece.
    // The source lends the room before its piece for this.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast,cppcoreguidelines-pro-bounds-pointer-arithmetic)
    char* front = const_cast<char*>(piece.data()) - keep;
    if (keep != 0) {
      std::memcpy(front, Data().substr(keepFrom).data(), keep);
    }
    dropped_ += keepFrom;
    pos_ -= keepFrom;
    keepFrom = 0;
    data_ = front;
    end_ = keep + piece.size();
    inWindow_ = false;
    window_.clear();
    return true;
  }
  // Bytes are dropped only when they are at least half the window, so a long token that
  // spans many pieces is moved a bounded number of times in all.
  if (keepFrom != 0 && keepFrom >= end_ - keepFrom) {
    window_.erase(0, keepFrom);
    dropped_ += keepFrom;
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
  TSkip skip = SkipBlanks(Data(), pos_, preserveSpace, line_);
  while (skip == TSkip::kEnd) {
    std::size_t keep = pos_;
    if (!MorePieces(keep)) {
      break;
    }
    skip = SkipBlanks(Data(), pos_, preserveSpace, line_);
  }
  if (skip != TSkip::kToken) {
    end_ = pos_; // a zero byte ends the data for good
    piecesDone_ = true;
    return;
  }
  if (Data()[pos_] == '<') {
    while (end_ - pos_ < 2) {
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        break;
      }
    }
    if (end_ - pos_ < 2 || (Data()[pos_ + 1] != '!' && Data()[pos_ + 1] != '?')) {
      // A plain tag (nearly every token): it ends at its first '>'.
      std::size_t scan = pos_ + 1;
      std::size_t gt = std::string_view::npos;
      for (;;) {
        gt = FindIn(Data(), scan, end_, '>');
        if (gt != std::string_view::npos) {
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
      const bool sawLf = FindIn(Data(), pos_, gt, '\n') != std::string_view::npos;
      const std::size_t to = gt + 1;
      SetToken(pos_, to, sawLf);
      pos_ = to;
      kind_ = PlainTagKind(token_);
      return;
    }
    // "<!" and "<?": the first bytes settle how the token ends.
    while (!TTagEnd::Settled(SliceOf(Data(), pos_, std::min(end_ - pos_, TTagEnd::kHeadBytes)))) {
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        break;
      }
    }
    TTagEnd scan;
    scan.Start(SliceOf(Data(), pos_, std::min(end_ - pos_, TTagEnd::kHeadBytes)));
    std::size_t gt = std::string_view::npos;
    bool dropped = false;
    for (;;) {
      gt = scan.Scan(Data(), pos_);
      if (gt != std::string_view::npos) {
        break;
      }
      // A long ignored token is not kept whole: only its tail stays in the window.
      const std::size_t drop = scan.Droppable();
      dropped = dropped || drop != 0;
      pos_ += drop;
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        // A tag without its end ends the document.
        end_ = pos_;
        return;
      }
    }
    const std::size_t to = pos_ + gt + 1;
    if (scan.kind == TTokenKind::kCData) {
      // The content as it stands: no line pairs removed, nothing decoded.
      token_ = SliceOf(Data(), pos_ + 9, gt - 11);
      cleanedToken_ = false;
      kind_ = TTokenKind::kCData;
    } else {
      const bool sawLf = FindIn(Data(), pos_, to, '\n') != std::string_view::npos;
      SetToken(pos_, to, sawLf);
      kind_ = dropped ? scan.kind : TagKind(token_);
    }
    pos_ = to;
    return;
  }
  std::size_t stop = 0;
  std::size_t last = TextTokenEnd(Data(), pos_, preserveSpace, stop);
  if (stop == end_ && !piecesDone_) {
    // The text may go on in the next pieces: search on from where the scan stopped, and trim
    // the blanks before its end afterwards.
    for (;;) {
      const std::size_t scanned = end_ - pos_;
      std::size_t keep = pos_;
      if (!MorePieces(keep)) {
        stop = end_; // the bytes may have moved, and the text runs to their end
        break;
      }
      TextTokenEnd(Data(), pos_ + scanned, preserveSpace, stop);
      if (stop != end_) {
        break;
      }
    }
    const unsigned char least = preserveSpace ? 32 : 33;
    last = stop;
    while (last > pos_ && UByte(Data()[last - 1]) < least) {
      --last;
    }
  }
  if (stop < end_ && Data()[stop] == 0) {
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
  const std::span<char> buffer(buffer_);
  std::memmove(buffer.data(), buffer.subspan(keepFrom).data(), keep);
  bufferOrigin_ += keepFrom;
  need -= keepFrom;
  pos_ -= std::min(pos_, keepFrom);
  tokenStart_ -= std::min(tokenStart_, keepFrom);
  filled_ = keep;
  while (filled_ < kBufferSize) {
    const std::size_t n = source_.Read(buffer.subspan(filled_).data(), kBufferSize - filled_);
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
    throw EParserError("line", bufferOrigin_ + tokenStart_,
                       "Line too long on line " + std::to_string(line_));
  }
  valid_ = lastLf;
  return true;
}

void TXMLTokenizer::SetToken(std::size_t from, std::size_t to) {
  const std::string_view raw = SliceOf(Valid(to), from, to - from);
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
    const TSkip skip = SkipBlanks(Valid(valid_), pos_, preserveSpace, line_);
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
    // The first bytes settle how the token ends (a refill keeps the token's start).
    while (!TTagEnd::Settled(
        SliceOf(Valid(valid_), tokenStart_, std::min(valid_ - tokenStart_, TTagEnd::kHeadBytes)))) {
      std::size_t need = valid_;
      if (!Refill(tokenStart_, need)) {
        break;
      }
    }
    TTagEnd scan;
    scan.Start(
        SliceOf(Valid(valid_), tokenStart_, std::min(valid_ - tokenStart_, TTagEnd::kHeadBytes)));
    for (;;) {
      const std::size_t gt = scan.Scan(Valid(valid_), tokenStart_);
      if (gt != std::string_view::npos) {
        const std::size_t to = tokenStart_ + gt + 1;
        if (scan.kind == TTokenKind::kCData) {
          cleaned_.assign(SliceOf(Valid(valid_), tokenStart_ + 9, gt - 11));
          token_ = cleaned_;
          kind_ = TTokenKind::kCData;
        } else {
          SetToken(tokenStart_, to);
          // The kind follows the form the first bytes gave, as in the large tokenizer (a line
          // pair removed from the text may join a "<" to a "!" behind it).
          kind_ = scan.kind == TTokenKind::kStartTag ? PlainTagKind(token_) : TagKind(token_);
        }
        pos_ = to;
        return;
      }
      // Search on from the first byte not searched yet, wherever the refill moves it.
      std::size_t need = valid_;
      if (!Refill(tokenStart_, need)) {
        // A tag without its end ends the document.
        ended_ = true;
        return;
      }
    }
  }
  // A text token runs to the next '<'; when the valid lines end first it continues after a
  // refill, so that it comes out whole.
  std::size_t stop = 0;
  std::size_t last = 0;
  for (;;) {
    last = TextTokenEnd(Valid(valid_), pos_, preserveSpace, stop);
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

} // namespace scv::xml
