// Lenient XML tokenizers and the token-level rules of the XML reader: token kinds, whitespace
// handling, tag names, attribute splitting and entity decoding.
#pragma once

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

// The reader's own format error ("Line too long on line N", too many elements), by which a
// document read through the buffered tokenizer is read again whole.
class EParserError : public bytes::EFormatError {
public:
  using bytes::EFormatError::EFormatError;
};

enum class TTokenKind : std::uint8_t {
  kEnd = 0,
  kComment = 6,
  kDeclaration = 8,
  kText = 9,
  kStartTag = 10,
  kEndTag = 11,
  kEmptyTag = 12,
  kCData = 13,       // a CDATA section; the token is its content
  kInstruction = 14, // a processing instruction other than an XML declaration
  kDocType = 15,     // a document type (or other "<!") declaration
};

// Where a markup token ends, found a piece at a time: a plain tag at its first ">", a comment
// at its first "-->", a CDATA section at its first "]]>", a processing instruction at its first
// "?>", and a "<!" declaration at the first ">" outside brackets and quotes. Offsets count from
// the token's "<".
struct TTagEnd {
  TTokenKind kind = TTokenKind::kStartTag; // kStartTag for every plain tag
  std::size_t minGt = 1;                   // the first offset whose ">" may end the token
  std::size_t scanned = 1;                 // the first offset not looked at yet
  int depth = 0;                           // "<!" declarations: open brackets
  char quote = 0;                          // "<!" declarations: the open quote
  // Bytes at the token's start that always settle its form.
  static constexpr std::size_t kHeadBytes = 9;
  // Ignored tokens longer than this keep only their tail (see Droppable).
  static constexpr std::size_t kKeepIgnored = std::size_t{64} << 10;
  // Whether the token's first bytes settle its form (otherwise more are needed, unless the
  // data ends).
  static bool Settled(std::string_view head);
  // Sets the form from the token's first bytes (up to kHeadBytes of them).
  void Start(std::string_view head);
  // The offset of the ">" that ends the token in data[start, data.size()), or npos when the
  // data ends first; a later call with more data goes on from where this one stopped.
  std::size_t Scan(std::string_view data, std::size_t start);
  // Ignored tokens (comments, instructions, "<!" declarations) need not be kept whole: once
  // more than kKeepIgnored bytes are looked at, the bytes before the last two may be dropped;
  // returns how many, and shifts the offsets by it.
  std::size_t Droppable();
};

// Byte source the buffered tokenizer reads from: a memory stream or a file.
class TXMLByteSource {
public:
  virtual ~TXMLByteSource() = default;
  // Reads up to n bytes at the position and moves it; returns the count (0 at the end).
  virtual std::size_t Read(void* bytes, std::size_t n) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual void SetPosition(std::uint64_t position) = 0;
  virtual std::uint64_t Size() const = 0;
};

class TMemoryByteSource final : public TXMLByteSource {
public:
  explicit TMemoryByteSource(bytes::TMemoryStream& stream) : stream_(stream) {}
  std::size_t Read(void* bytes, std::size_t n) override;
  std::uint64_t Position() const override;
  void SetPosition(std::uint64_t position) override;
  std::uint64_t Size() const override;

private:
  bytes::TMemoryStream& stream_;
};

// Bytes handed out a piece at a time (a part inflated as it is read).
class TXMLPieceSource {
public:
  virtual ~TXMLPieceSource() = default;
  // The next bytes, valid until the next call; empty at the end.
  virtual std::string_view NextPiece() = 0;
  // Bytes just before the piece last handed out that its reader may overwrite (none unless a
  // source says so): a reader carrying the end of one piece over to the next can put those
  // bytes there and read on in place instead of copying the piece.
  virtual std::size_t RoomBefore() const { return 0; }
};

// Token kind of a complete tag text ("<" ... ">"), by the first matching rule: declaration
// ("<?xml", any case), instruction ("<?"), comment ("<!--"), CDATA section ("<![CDATA["),
// document type ("<!"), empty-element tag, end tag, start tag.
TTokenKind TagKind(std::string_view tag);

// Token kind of a tag text that starts with neither "<!" nor "<?": empty-element tag, end tag or
// start tag. Inline: it runs for every tag.
inline TTokenKind PlainTagKind(std::string_view tag) {
  if (tag.ends_with("/>")) {
    return TTokenKind::kEmptyTag;
  }
  return tag.starts_with("</") ? TTokenKind::kEndTag : TTokenKind::kStartTag;
}

// Removes every CR LF pair, then every LF CR pair, from text (two global replacements).
// Returns false when the text holds neither pair (out is then left untouched).
bool RemoveLinePairs(std::string_view text, std::string& out);

// Tokenizer over bytes that stay in memory for the whole read (a memory stream's storage or
// its own copy of a stream's remaining bytes). Token texts are views into that memory unless
// line pairs had to be removed from them.
class TXMLLargeTokenizer {
public:
  // Reads from the bytes as they are; they must outlive the tokenizer.
  explicit TXMLLargeTokenizer(std::string_view bytes);
  // Copies the source's bytes from its position to its end.
  explicit TXMLLargeTokenizer(TXMLByteSource& source);
  // Reads the pieces through a window that holds the current token and what follows it in
  // the last piece, so the whole text is never held at once; tokens come out exactly as over
  // the joined pieces. Token texts are then valid only until the next token. A token longer
  // than maxToken throws bytes::EFormatError.
  explicit TXMLLargeTokenizer(TXMLPieceSource& pieces,
                              std::size_t maxToken = std::numeric_limits<std::size_t>::max());

  void NextToken(bool preserveSpace);
  TTokenKind Kind() const { return kind_; }
  std::string_view Token() const { return token_; }
  int Line() const { return line_; }
  // True when the token text is a view into the bytes given to the constructor (which outlive
  // the tokenizer), so that it may be kept instead of copied.
  bool TokenInSource() const { return own_ == nullptr && pieces_ == nullptr && !cleanedToken_; }

  // For readers that take a stretch of plain markup straight from the bytes: the bytes read
  // so far (up to where a zero byte ended them; over pieces, only the window, valid until the
  // next token), the position after the current token, and a jump past what such a reader
  // consumed (NextToken reads from there).
  std::string_view Data() const { return {data_, end_}; }
  std::size_t Position() const { return pos_; }
  void ResumeAt(std::size_t position) { pos_ = position; }
  // Offset in the whole input just after the current token.
  std::uint64_t InputOffset() const { return dropped_ + pos_; }

private:
  void SetToken(std::size_t from, std::size_t to, bool sawLf);
  // Drops the window's bytes before `keepFrom` (when that frees enough to be worth it) and
  // adds the next piece; false when there are no more pieces. Positions move with the bytes,
  // also when it gives false (a piece read in place is left for the window).
  bool MorePieces(std::size_t& keepFrom);

  TXMLPieceSource* pieces_ = nullptr;
  std::size_t maxToken_ = 0;
  std::string window_;
  bool inWindow_ = true;      // data_ is window_ (else the last piece, read in place)
  std::uint64_t dropped_ = 0; // input bytes dropped from the window's front
  bool piecesDone_ = true;
  std::unique_ptr<char[]> own_;
  const char* data_ = nullptr;
  std::size_t end_ = 0;
  std::size_t pos_ = 0;
  TTokenKind kind_ = TTokenKind::kEnd;
  std::string_view token_;
  std::string cleaned_; // text of the current token when line pairs were removed
  bool cleanedToken_ = false;
  int line_ = 1;
};

// Tokenizer that reads its source through a 4096-byte buffer. A token must fit into the
// buffer; the buffer is refilled up to the last complete line, and when it holds no complete
// line EParserError "Line too long on line N" is raised. Tokens come out exactly as the large
// tokenizer gives them (a token that spans a refill is read whole). On release the source is
// moved back to the start of the current token.
class TXMLTokenizer {
public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit TXMLTokenizer(TXMLByteSource& source);
  ~TXMLTokenizer();
  TXMLTokenizer(const TXMLTokenizer&) = delete;
  TXMLTokenizer& operator=(const TXMLTokenizer&) = delete;

  void NextToken(bool preserveSpace);
  TTokenKind Kind() const { return kind_; }
  std::string_view Token() const { return token_; }
  int Line() const { return line_; }
  bool TokenInSource() const { return false; }
  // Offset in the source just after the current token.
  std::uint64_t InputOffset() const { return bufferOrigin_ + pos_; }

private:
  // Makes more bytes valid, keeping everything from keepFrom on; afterwards at least one byte
  // beyond `need` (a buffer index) is valid, or the source is exhausted (returns false).
  bool Refill(std::size_t keepFrom, std::size_t& need);
  void SetToken(std::size_t from, std::size_t to);

  TXMLByteSource& source_;
  // The first `end` bytes of the buffer.
  std::string_view Valid(std::size_t end) const { return {buffer_.data(), end}; }

  std::array<char, kBufferSize + 1> buffer_;
  std::uint64_t bufferOrigin_ = 0; // source position of buffer_[0]
  std::size_t filled_ = 0;         // bytes read into the buffer
  std::size_t valid_ = 0;          // end of the complete lines
  bool exhausted_ = false;
  bool ended_ = false; // a zero byte in the data ended it
  std::size_t pos_ = 0;
  std::size_t tokenStart_ = 0;
  TTokenKind kind_ = TTokenKind::kEnd;
  std::string_view token_;
  std::string cleaned_;
  int line_ = 1;
};

// Name of a tag text: without the leading "<", everything before the first space; without a
// space, everything before the first "/"; otherwise everything but the closing ">".
std::string_view TagName(std::string_view tag);

} // namespace scv::xml
