// Output helpers shared by every extractor.
#include "cvtbase/KvCvtBase.h"

#include "cvtbase/ResultCodes.h"
#include "platform/CodePage.h"
#include "platform/Memory.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <span>

namespace scv {
namespace {

// Control-character maps for text taken from word-processing documents. The two differ only
// at code 30 (a non-breaking hyphen in wide text).
constexpr std::array<std::uint8_t, 32> MakeControlMap(bool wide) {
  std::array<std::uint8_t, 32> map{};
  for (std::size_t i = 0; i < 32; ++i) {
    map[i] = 32;
  }
  map[7] = 9;
  map[9] = 9;
  map[10] = 10;
  map[11] = 13;
  map[13] = 13;
  if (wide) {
    map[30] = 45;
  }
  return map;
}
constexpr auto kControlMap8 = MakeControlMap(false);
constexpr auto kControlMapW = MakeControlMap(true);

// Finds the line breaks of a text in order. Bytes: two memchr searches (CR and LF), each result
// kept until the walk passes it, so long lines cost a vector scan instead of a test per byte.
// UTF-16 units: a loop, which also takes U+2028 LINE SEPARATOR for a break.
template <typename TChar> class TBreakFinder;

template <> class TBreakFinder<char> {
public:
  explicit TBreakFinder(std::string_view text) : text_(text) {}
  // The first break at or after i, or the text's size.
  std::size_t Next(std::size_t i) {
    if (cr_ == kUnknown || cr_ < i) {
      cr_ = Find('\r', i);
    }
    if (lf_ == kUnknown || lf_ < i) {
      lf_ = Find('\n', i);
    }
    return cr_ < lf_ ? cr_ : lf_;
  }

private:
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t Find(char c, std::size_t from) const {
    if (from >= text_.size()) {
      return text_.size();
    }
    const void* p = std::memchr(text_.data() + from, c, text_.size() - from);
    return p == nullptr ? text_.size()
                        : static_cast<std::size_t>(static_cast<const char*>(p) - text_.data());
  }
  std::string_view text_;
  std::size_t cr_ = kUnknown;
  std::size_t lf_ = kUnknown;
};

template <> class TBreakFinder<char16_t> {
public:
  explicit TBreakFinder(std::u16string_view text) : text_(text) {}
  std::size_t Next(std::size_t i) const {
    while (i < text_.size() && text_[i] != u'\r' && text_[i] != u'\n' && text_[i] != u'\u2028') {
      ++i;
    }
    return i;
  }

private:
  std::u16string_view text_;
};

// What adjusting a text's line ends to a style gives: its length, and whether it is the text
// itself (every break already the style's line end).
struct TAdjusted {
  std::size_t length = 0;
  bool unchanged = true;
};

// Walks the text as its line ends adjusted to the style would read: put(pointer, count) gets the
// text between breaks and the style's line end for every break (CR LF, a lone CR or LF, and in
// UTF-16 text U+2028), a line at a time.
template <typename TChar, typename TPut>
TAdjusted WalkAdjusted(std::basic_string_view<TChar> text, TLineEndStyle style, TPut put) {
  static constexpr std::array<TChar, 2> kCrLf = {TChar('\r'), TChar('\n')};
  const std::size_t n = text.size();
  // The style's line end: CR, LF (the second of CR LF) or CR LF.
  const TChar* lineEnd = style == kLineEndLf ? kCrLf.data() + 1 : kCrLf.data();
  const std::size_t lineEndLength = style == kLineEndCrLf ? 2 : 1;
  TAdjusted adjusted;
  TBreakFinder<TChar> finder(text);
  for (std::size_t i = 0;;) {
    const std::size_t b = finder.Next(i);
    put(text.data() + i, b - i);
    adjusted.length += b - i;
    if (b >= n) {
      return adjusted;
    }
    put(lineEnd, lineEndLength);
    adjusted.length += lineEndLength;
    const std::size_t breakLength =
        text[b] == TChar('\r') && b + 1 < n && text[b + 1] == TChar('\n') ? 2 : 1;
    if (breakLength != lineEndLength || text[b] != *lineEnd) {
      adjusted.unchanged = false;
    }
    i = b + breakLength;
  }
}

// The first pass of an adjustment: its length, and whether anything changes.
template <typename TChar>
TAdjusted MeasureAdjusted(std::basic_string_view<TChar> text, TLineEndStyle style) {
  return WalkAdjusted(text, style, [](const TChar*, std::size_t) {});
}

template <typename TChar>
std::basic_string<TChar> AdjustLineEndsT(std::basic_string_view<TChar> text, TLineEndStyle style) {
  const TAdjusted measured = MeasureAdjusted(text, style);
  if (measured.unchanged) {
    return std::basic_string<TChar>(text);
  }
  std::basic_string<TChar> out;
  out.reserve(measured.length); // allocated once
  WalkAdjusted(text, style, [&out](const TChar* p, std::size_t count) { out.append(p, count); });
  return out;
}

} // namespace

void TConversionResult::Resize(std::size_t n) {
  const std::size_t old = size_;
  ResizeForOverwrite(n);
  if (n > old) {
    std::memset(std::span(data_, n).subspan(old).data(), 0, n - old);
  }
}

void TConversionResult::ResizeForOverwrite(std::size_t n) {
  // realloc(p, 0) may free and return null; keep one byte so a stored empty text stays non-null.
  // A first large buffer starts on a huge-page boundary. Either way the memory is malloc's,
  // for C callers who free() it.
  void* p = data_ == nullptr
                ? platform::AllocateLargeBuffer(n)
                : std::realloc(data_, n == 0 ? 1 : n); // NOLINT(cppcoreguidelines-owning-memory)
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  data_ = static_cast<std::uint8_t*>(p);
  if (n > size_) {
    platform::AdviseLargeBuffer(data_, n);
  }
  size_ = n;
}

void TConversionResult::Free() {
  std::free(data_); // NOLINT(cppcoreguidelines-owning-memory): malloc'd, see Resize
  data_ = nullptr;
  size_ = 0;
}

TLineEndStyle LineEndStyleFromOption(std::int32_t option) {
  switch (option) {
  case 1:
    return kLineEndCr;
  case 2:
    return kLineEndLf;
  default:
    return kLineEndCrLf;
  }
}

std::int32_t LocaleCodePage(platform::TLocaleId locale) {
  // The locale answers with decimal text in a 7-character buffer.
  std::string text = platform::DefaultAnsiCodePageText(locale).substr(0, 7);
  const auto zero = text.find('\0');
  if (zero != std::string::npos) {
    text.resize(zero);
  }
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end == nullptr || *end != '\0' || errno != 0 || value < INT32_MIN ||
      value > INT32_MAX) {
    return platform::GetACP();
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t DefaultCodePage() {
  return LocaleCodePage(platform::GetThreadLocale());
}

std::string ToCodePage(std::int32_t codePage, std::u16string_view text) {
  std::string out = platform::WideToMultiByte(codePage, text);
  out.push_back('\0');
  return out;
}

std::int32_t AppendToResult(std::string_view text, TConversionResult& result) {
  // The text always lands at the start of the buffer, which ends one byte past it (the same
  // bytes a chunk-by-chunk store leaves). Every byte of it is written here.
  result.ResizeForOverwrite(text.size() + 1);
  if (!text.empty()) {
    std::memcpy(result.Data(), text.data(), text.size());
  }
  std::span(result.Data(), text.size() + 1)[text.size()] = 0;
  return static_cast<std::int32_t>(text.size());
}

std::int32_t AppendAdjustedToResult(std::string_view prefix, std::string_view text,
                                    TLineEndStyle style, TConversionResult& result) {
  const TAdjusted measured = MeasureAdjusted(text, style);
  const std::size_t length = prefix.size() + measured.length;
  if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - 1) {
    return kResultBadFormat;
  }
  // As AppendToResult: the text at the start of the buffer, which ends one zero byte past it.
  result.ResizeForOverwrite(length + 1);
  const std::span<std::uint8_t> out(result.Data(), length + 1);
  std::size_t o = 0;
  const auto put = [&](const char* p, std::size_t count) {
    if (count != 0) {
      std::memcpy(out.subspan(o).data(), p, count);
      o += count;
    }
  };
  put(prefix.data(), prefix.size());
  if (measured.unchanged) {
    put(text.data(), text.size());
  } else {
    WalkAdjusted(text, style, put);
  }
  out[length] = 0;
  return static_cast<std::int32_t>(length);
}

namespace {
constexpr std::size_t kMaxText = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
} // namespace

void TAdjustedResultWriter::Put(std::string_view bytes) {
  std::memcpy(std::span(result_.Data(), result_.Capacity()).subspan(length_).data(), bytes.data(),
              bytes.size());
  length_ += bytes.size();
}

void TAdjustedResultWriter::Append(std::string_view piece) {
  if (piece.empty() || tooLong_) {
    return;
  }
  // Room for the worst case: every byte a line end that becomes CR LF, and the zero byte after
  // them. Pieces are far smaller than the counts involved, so the sums cannot wrap.
  const std::size_t need = length_ + (started_ ? 0 : prefix_.size()) + 2 * piece.size() + 1;
  if (!started_ || need > result_.Capacity()) {
    const std::size_t grown =
        started_ ? result_.Capacity() + result_.Capacity() / 2 : std::min(sizeHint_, kMaxText);
    result_.ResizeForOverwrite(std::max(need, grown));
  }
  if (!started_) {
    started_ = true;
    Put(prefix_);
  }
  static constexpr std::array<char, 2> kCrLf = {'\r', '\n'};
  const std::string_view lineEnd = style_ == kLineEndCrLf ? std::string_view(kCrLf.data(), 2)
                                   : style_ == kLineEndLf ? std::string_view(&kCrLf[1], 1)
                                                          : std::string_view(kCrLf.data(), 1);
  std::size_t i = 0;
  if (afterCr_ && piece.front() == '\n') {
    i = 1; // the second half of a CR LF already written
  }
  afterCr_ = false;
  TBreakFinder<char> finder(piece);
  const std::size_t n = piece.size();
  while (i < n) {
    const std::size_t b = finder.Next(i);
    Put(piece.substr(i, b - i));
    if (b >= n) {
      break;
    }
    Put(lineEnd);
    if (piece[b] == '\r') {
      if (b + 1 < n) {
        i = piece[b + 1] == '\n' ? b + 2 : b + 1;
      } else {
        afterCr_ = true;
        i = n;
      }
    } else {
      i = b + 1;
    }
  }
  tooLong_ = length_ > kMaxText - 1; // the count is 32-bit; nothing more is worth storing
}

std::int32_t TAdjustedResultWriter::Finish() {
  if (tooLong_) {
    return kResultBadFormat;
  }
  if (!started_) {
    return 0;
  }
  // As AppendToResult: the text at the start of the buffer, which ends one zero byte past it.
  result_.ResizeForOverwrite(length_ + 1);
  std::span(result_.Data(), length_ + 1)[length_] = 0;
  return static_cast<std::int32_t>(length_);
}

std::string AdjustLineEnds(std::string_view text, TLineEndStyle style) {
  return AdjustLineEndsT<char>(text, style);
}

std::u16string AdjustLineEndsW(std::u16string_view text, TLineEndStyle style) {
  return AdjustLineEndsT<char16_t>(text, style);
}

void CleanControlChars(std::string& text) {
  for (auto& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32) {
      c = static_cast<char>(kControlMap8[b]);
    }
  }
}

void CleanControlCharsW(std::u16string& text) {
  for (auto& c : text) {
    if (c < 32) {
      c = kControlMapW[c];
    }
  }
}

std::string EncodeUtf8ForCodePage(std::string_view utf8, std::int32_t codePage,
                                  bool withTerminator) {
  std::string out;
  if (codePage == platform::kCpUtf8) {
    out.reserve(utf8.size() + 3);
    out.append("\xEF\xBB\xBF");
    out.append(utf8);
    return out;
  }
  std::u16string wide = platform::Utf8ToWide(utf8);
  if (withTerminator) {
    wide.push_back(u'\0');
  }
  if (codePage == platform::kCpUtf16Le) {
    out.reserve(2 + wide.size() * 2);
    out.append("\xFF\xFE");
    out.append(platform::WideToMultiByte(platform::kCpUtf16Le, wide));
    return out;
  }
  return ToCodePage(codePage, wide);
}

} // namespace scv
