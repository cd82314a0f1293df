// RTF reader: groups and destinations, control words and symbols, text in the fonts' code
// pages, Unicode escapes with their fallback characters.
#include "rtf/RtfReader.h"

#include "rtf/RtfKeywords.h"
#include "rtf/RtfTextOut.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace scv::rtf {
namespace {

// Group states kept on the stack. Deeper groups are counted but share the state of the
// deepest stored one, so hostile nesting costs neither recursion nor memory beyond this.
constexpr std::size_t kMaxDepth = 100000;
// Longest control word name the format allows; longer words are read but match nothing.
constexpr std::size_t kMaxWordLength = 32;
// A control word parameter has at most 10 digits; more digits are read and ignored.
constexpr int kMaxParamDigits = 10;

enum class TDest : std::uint8_t {
  kText,      // document text
  kSkip,      // text that is not output
  kFontTable, // font definitions
};

struct TGroup {
  std::int32_t font = -1; // \f of the group, -1 = the default font
  std::int32_t uc = 1;    // fallback characters after \u
  TDest dest = TDest::kText;
  TDest uprOuter = TDest::kSkip; // what \ud restores inside \upr
  bool inUpr = false;
  bool hidden = false;
  bool deleted = false;
  bool footnote = false; // text goes to the footnotes collected after the body
};

struct TFont {
  std::int32_t charset = -1; // -1 = not declared
  std::int32_t codePage = 0; // \cpg, 0 = not declared
  bool symbolFace = false;   // the face is named Symbol
};

// The character set of symbol fonts; with the Symbol face its bytes are Greek letters and
// mathematical signs rather than text of a code page.
constexpr std::int32_t kSymbolCharset = 2;
// Font names longer than this are not needed to recognise the Symbol face.
constexpr std::size_t kMaxFontName = 64;

// Bytes that continue a run of plain ASCII text.
constexpr std::array<bool, 256> BuildPlainTable() {
  std::array<bool, 256> t{};
  for (int c = 0x20; c < 0x7F; ++c) {
    t[static_cast<std::size_t>(c)] = c != '\\' && c != '{' && c != '}';
  }
  return t;
}
constexpr auto kPlain = BuildPlainTable();

constexpr bool IsLetter(unsigned char c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
constexpr bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
constexpr int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
    return (c | 0x20) - 'a' + 10;
  }
  return -1;
}

class TRtfReader {
public:
  explicit TRtfReader(std::string_view in) : in_(in) {}

  std::string Run() {
    const std::size_t n = in_.size();
    while (pos_ < n) {
      if (g_.dest == TDest::kSkip) {
        while (pos_ < n && in_[pos_] != '\\' && in_[pos_] != '{' && in_[pos_] != '}') {
          ++pos_;
        }
        if (pos_ >= n) {
          break;
        }
      }
      switch (in_[pos_]) {
      case '{':
        ++pos_;
        OpenGroup();
        break;
      case '}':
        ++pos_;
        CloseGroup();
        break;
      case '\\':
        Control();
        break;
      case '\r':
      case '\n':
        ++pos_;
        break;
      default:
        Text();
        break;
      }
    }
    std::string text = out_.Take();
    std::string notes = notes_.Take();
    if (!notes.empty()) {
      text.reserve(text.size() + notes.size() + 2);
      if (!text.empty() && text.back() != '\n') {
        text.push_back('\n');
      }
      text.push_back('\n');
      text += notes;
    }
    return text;
  }

private:
  TTextOut& Out() { return g_.footnote ? notes_ : out_; }

  bool Emitting() const { return g_.dest == TDest::kText && !g_.hidden && !g_.deleted; }

  void OpenGroup() {
    star_ = false;
    groupOpen_ = pos_;
    ucSkip_ = 0;
    if (stack_.size() >= kMaxDepth) {
      ++overflow_;
      return;
    }
    stack_.push_back(g_);
  }

  void CloseGroup() {
    star_ = false;
    ucSkip_ = 0;
    if (overflow_ > 0) {
      --overflow_;
      return;
    }
    if (stack_.empty()) {
      return; // a stray closing brace
    }
    g_ = stack_.back();
    stack_.pop_back();
  }

  void Text() {
    star_ = false;
    const auto c = static_cast<unsigned char>(in_[pos_]);
    if (ucSkip_ > 0) {
      --ucSkip_;
      ++pos_;
      return;
    }
    if (!Emitting()) {
      if (g_.dest == TDest::kFontTable) {
        FontNameChar(static_cast<char>(c));
      }
      ++pos_;
      return;
    }
    if (c >= 0x80 || (kPlain[c] && CurrentCodePage() == kSymbolCodePage)) {
      Out().Byte(CurrentCodePage(), c);
      ++pos_;
      return;
    }
    if (!kPlain[c]) {
      if (c == '\t') {
        Out().Ascii('\t');
      }
      ++pos_; // other control bytes carry no text
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && kPlain[static_cast<unsigned char>(in_[pos_])]) {
      ++pos_;
    }
    Out().AsciiRun(in_.data() + start, pos_ - start);
  }

  void Control() {
    const std::size_t n = in_.size();
    if (pos_ + 1 >= n) {
      pos_ = n;
      return;
    }
    const auto c = static_cast<unsigned char>(in_[pos_ + 1]);
    if (!IsLetter(c)) {
      pos_ += 2;
      Symbol(c);
      return;
    }
    std::size_t p = pos_ + 1;
    const std::size_t nameStart = p;
    while (p < n && IsLetter(static_cast<unsigned char>(in_[p]))) {
      ++p;
    }
    std::string_view name = in_.substr(nameStart, p - nameStart);
    if (name.size() > kMaxWordLength) {
      name = {};
    }
    bool hasParam = false;
    std::int64_t param = 0;
    bool negative = false;
    if (p + 1 < n && in_[p] == '-' && IsDigit(static_cast<unsigned char>(in_[p + 1]))) {
      negative = true;
      ++p;
    }
    int digits = 0;
    while (p < n && IsDigit(static_cast<unsigned char>(in_[p]))) {
      if (digits < kMaxParamDigits) {
        param = param * 10 + (in_[p] - '0');
      }
      ++digits;
      ++p;
      hasParam = true;
    }
    if (p < n && in_[p] == ' ') {
      ++p; // the delimiting space belongs to the control word
    }
    pos_ = p;
    if (negative) {
      param = -param;
    }
    if (param > INT32_MAX) {
      param = INT32_MAX;
    } else if (param < INT32_MIN) {
      param = INT32_MIN;
    }
    Word(name, hasParam, static_cast<std::int32_t>(param));
  }

  void Symbol(unsigned char c) {
    if (c == '*') {
      // First in a group, \* marks the group as a destination to skip unless its word is one
      // we read. Anywhere else it only marks the word after it as one to ignore when unknown,
      // which every unknown word is anyway, while a known word acts as always: writers put it
      // before character styles ({\loch\f2\i0\*\cs7 text}), whose text stays.
      star_ = star_ || StarOpensGroup();
      return;
    }
    star_ = false;
    if (c == '\'') {
      int value = 0;
      const int hi = pos_ < in_.size() ? HexValue(static_cast<unsigned char>(in_[pos_])) : -1;
      if (hi < 0) {
        return; // a broken escape carries no byte
      }
      ++pos_;
      value = hi;
      const int lo = pos_ < in_.size() ? HexValue(static_cast<unsigned char>(in_[pos_])) : -1;
      if (lo >= 0) {
        value = value * 16 + lo;
        ++pos_;
      }
      if (ucSkip_ > 0) {
        --ucSkip_;
        return;
      }
      if (Emitting()) {
        Out().Byte(CurrentCodePage(), static_cast<std::uint8_t>(value));
      }
      return;
    }
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    if (!Emitting()) {
      return;
    }
    switch (c) {
    case '\\':
    case '{':
    case '}':
      Out().Ascii(static_cast<char>(c));
      break;
    case '~':
      Out().CodeUnit(0x00A0);
      break;
    case '_':
      Out().CodeUnit(0x2011);
      break;
    case '\r':
    case '\n':
      Out().Ascii('\n');
      break;
    case '\t':
      Out().Ascii('\t');
      break;
    default:
      break; // \- optional hyphen, \| and \: formula and index marks: no text
    }
  }

  void Word(std::string_view name, bool hasParam, std::int32_t param) {
    const TKeyword* kw = name.empty() ? nullptr : FindKeyword(name);
    if (star_) {
      // \* marks a destination that is skipped unless it is one we read.
      star_ = false;
      if (kw == nullptr || (kw->kind != TKeywordKind::kKeepDest && kw->kind != TKeywordKind::kUd &&
                            kw->kind != TKeywordKind::kFootnote)) {
        g_.dest = TDest::kSkip;
        return;
      }
    }
    if (kw == nullptr) {
      if (ucSkip_ > 0) {
        --ucSkip_;
      }
      return;
    }
    if (g_.dest == TDest::kSkip) {
      if (kw->kind == TKeywordKind::kBinary) {
        SkipBinary(hasParam, param);
      } else if (kw->kind == TKeywordKind::kUd && g_.inUpr) {
        g_.dest = g_.uprOuter;
      }
      return;
    }
    if (ucSkip_ > 0 && kw->kind != TKeywordKind::kBinary) {
      --ucSkip_;
      return;
    }
    switch (kw->kind) {
    case TKeywordKind::kSkipDest:
      g_.dest = TDest::kSkip;
      break;
    case TKeywordKind::kKeepDest:
    case TKeywordKind::kUd:
      break;
    case TKeywordKind::kFootnote:
      // Footnotes follow the body, one per line, instead of splitting its sentences.
      if (!g_.footnote) {
        g_.footnote = true;
        if (notes_.Size() > 0 && !notes_.EndsWithBreak()) {
          notes_.Ascii('\n');
        }
      }
      break;
    case TKeywordKind::kFontTable:
      g_.dest = TDest::kFontTable;
      break;
    case TKeywordKind::kUpr:
      g_.uprOuter = g_.dest;
      g_.inUpr = true;
      g_.dest = TDest::kSkip;
      break;
    case TKeywordKind::kChar:
      if (Emitting()) {
        Out().CodeUnit(kw->value);
      }
      break;
    case TKeywordKind::kBreak:
      if (Emitting()) {
        Out().Ascii('\n');
        Out().MarkBreakEnd();
      }
      break;
    case TKeywordKind::kTab:
      if (Emitting()) {
        Out().Ascii('\t');
      }
      break;
    case TKeywordKind::kCell:
      if (Emitting()) {
        if (Out().EndsWithBreakMark()) {
          Out().DropLast();
        }
        Out().Ascii('\t');
        Out().MarkCellEnd();
      }
      break;
    case TKeywordKind::kRow:
      if (Emitting()) {
        if (Out().EndsWithCell()) {
          Out().DropLast();
        }
        Out().Ascii('\n');
      }
      break;
    case TKeywordKind::kFont:
      if (g_.dest == TDest::kFontTable) {
        definingFont_ = param;
        fontName_.clear();
      } else {
        g_.font = param;
      }
      break;
    case TKeywordKind::kFontCharset:
      if (g_.dest == TDest::kFontTable) {
        fonts_[definingFont_].charset = param;
        cacheValid_ = false;
      }
      break;
    case TKeywordKind::kFontCodePage:
      if (g_.dest == TDest::kFontTable) {
        fonts_[definingFont_].codePage = param;
        cacheValid_ = false;
      }
      break;
    case TKeywordKind::kAnsiCodePage:
      if (hasParam && param > 0) {
        ansiCodePage_ = param;
        ansiExplicit_ = true;
        cacheValid_ = false;
      }
      break;
    case TKeywordKind::kDefaultFont:
      defaultFont_ = param;
      cacheValid_ = false;
      break;
    case TKeywordKind::kUnicodeSkip:
      g_.uc = param < 0 ? 0 : (param > 0xFFFF ? 0xFFFF : param);
      break;
    case TKeywordKind::kUnicode:
      if (hasParam) {
        // Writers differ: most store values above 32767 as negative numbers, some as they are.
        std::int64_t value = param;
        if (value < 0) {
          value += 0x10000;
        }
        if (Emitting() && value >= 0) {
          Out().CodeUnit(static_cast<std::uint32_t>(value));
        }
        ucSkip_ = g_.uc;
      }
      break;
    case TKeywordKind::kBinary:
      SkipBinary(hasParam, param);
      if (ucSkip_ > 0) {
        --ucSkip_;
      }
      break;
    case TKeywordKind::kHidden:
      g_.hidden = !hasParam || param != 0;
      break;
    case TKeywordKind::kDeleted:
      g_.deleted = !hasParam || param != 0;
      break;
    case TKeywordKind::kPlain:
      g_.hidden = false;
      g_.deleted = false;
      g_.font = -1;
      break;
    case TKeywordKind::kCharsetMac:
      SetCharsetCodePage(10000);
      break;
    case TKeywordKind::kCharsetPc:
      SetCharsetCodePage(437);
      break;
    case TKeywordKind::kCharsetPca:
      SetCharsetCodePage(850);
      break;
    }
  }

  // True when the \* just read is the first thing in its group: only line ends, which carry
  // nothing, lie between the group's opening brace and it. Each byte is looked at once per
  // group at most, since the answer closes the question for the rest of the group.
  [[gnu::noinline, gnu::cold]] bool StarOpensGroup() {
    const std::size_t star = pos_ - 2;
    const std::size_t open = groupOpen_;
    groupOpen_ = kNoGroupOpen;
    if (open == kNoGroupOpen || open > star) {
      return false;
    }
    for (std::size_t i = open; i < star; ++i) {
      if (in_[i] != '\r' && in_[i] != '\n') {
        return false;
      }
    }
    return true;
  }

  // Collects a font table entry's name up to its semicolon.
  void FontNameChar(char c) {
    if (c == ';') {
      if (fontName_.find("Symbol") != std::string::npos) {
        fonts_[definingFont_].symbolFace = true;
        cacheValid_ = false;
      }
      fontName_.clear();
    } else if (fontName_.size() < kMaxFontName) {
      fontName_.push_back(c);
    }
  }

  void SetCharsetCodePage(std::int32_t codePage) {
    if (!ansiExplicit_) {
      ansiCodePage_ = codePage;
      cacheValid_ = false;
    }
  }

  void SkipBinary(bool hasParam, std::int32_t count) {
    if (hasParam && count > 0) {
      const std::size_t left = in_.size() - pos_;
      pos_ += static_cast<std::size_t>(count) < left ? static_cast<std::size_t>(count) : left;
    }
  }

  // The code page of the current font: its \cpg or \fcharset, else the document's \ansicpg,
  // else 1252. A font that declares the ANSI character set while the document's code page is
  // a double-byte one holds Western text, as the ANSI set means on such systems.
  std::int32_t CurrentCodePage() {
    const std::int32_t font = g_.font >= 0 ? g_.font : defaultFont_;
    if (cacheValid_ && font == cacheFont_) {
      return cacheCodePage_;
    }
    std::int32_t declared = 0;
    bool ansiCharset = false;
    if (const auto it = fonts_.find(font); it != fonts_.end()) {
      // The Symbol face with the symbol character set, or with none declared.
      if (it->second.symbolFace &&
          (it->second.charset == kSymbolCharset || it->second.charset < 0)) {
        cacheFont_ = font;
        cacheCodePage_ = kSymbolCodePage;
        cacheValid_ = true;
        return cacheCodePage_;
      }
      declared =
          it->second.codePage > 0 ? it->second.codePage : CodePageOfCharset(it->second.charset);
      ansiCharset = it->second.charset == 0;
    }
    if (declared == 0) {
      declared = ansiCodePage_ > 0 ? ansiCodePage_ : 1252;
      if (ansiCharset && IsMultiByteCodePage(UsableCodePage(declared))) {
        declared = 1252;
      }
    }
    cacheFont_ = font;
    cacheCodePage_ = UsableCodePage(declared);
    cacheValid_ = true;
    return cacheCodePage_;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  TGroup g_;
  std::vector<TGroup> stack_;
  std::size_t overflow_ = 0;
  std::int32_t ucSkip_ = 0;
  bool star_ = false;
  static constexpr std::size_t kNoGroupOpen = static_cast<std::size_t>(-1);
  std::size_t groupOpen_ = kNoGroupOpen; // just past the last opening brace, until a \* there

  std::unordered_map<std::int32_t, TFont> fonts_;
  std::int32_t definingFont_ = 0;
  std::string fontName_;
  std::int32_t defaultFont_ = 0;
  std::int32_t ansiCodePage_ = 0;
  bool ansiExplicit_ = false;
  bool cacheValid_ = false;
  std::int32_t cacheFont_ = 0;
  std::int32_t cacheCodePage_ = 1252;

  TTextOut out_;
  TTextOut notes_;
};

} // namespace

std::string RtfToUtf8(std::string_view rtf) {
  TRtfReader reader(rtf);
  return reader.Run();
}

} // namespace scv::rtf
