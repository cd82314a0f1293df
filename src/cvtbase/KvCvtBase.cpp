// Output helpers shared by every extractor.
#include "cvtbase/KvCvtBase.h"

#include "platform/CodePage.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

template <typename TChar>
std::basic_string<TChar> AdjustLineEndsT(std::basic_string_view<TChar> text, TLineEndStyle style,
                                         bool lineSeparator) {
  const auto isBreak = [lineSeparator](TChar c) {
    return c == TChar('\r') || c == TChar('\n') ||
           (lineSeparator && static_cast<char32_t>(c) == 0x2028);
  };
  const std::size_t breakLen = style == kLineEndCrLf ? 2 : 1;
  // First pass: the exact length of the new text.
  std::size_t length = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (isBreak(text[i])) {
      if (text[i] == TChar('\r') && i + 1 < n && text[i + 1] == TChar('\n')) {
        ++i;
      }
      length += breakLen;
    } else {
      ++length;
    }
  }
  std::basic_string<TChar> out(length, TChar(0));
  std::size_t o = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (isBreak(text[i])) {
      if (text[i] == TChar('\r') && i + 1 < n && text[i + 1] == TChar('\n')) {
        ++i;
      }
      if (style == kLineEndLf) {
        out[o++] = TChar('\n');
      } else if (style == kLineEndCr) {
        out[o++] = TChar('\r');
      } else {
        out[o++] = TChar('\r');
        out[o++] = TChar('\n');
      }
    } else {
      out[o++] = text[i];
    }
  }
  return out;
}

} // namespace

void TConversionResult::Resize(std::size_t n) {
  // realloc(p, 0) may free and return null; keep one byte so a stored empty text stays non-null.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): malloc's, for C callers who free() it
  void* p = std::realloc(data_, n == 0 ? 1 : n);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  data_ = static_cast<std::uint8_t*>(p);
  if (n > size_) {
    std::memset(std::span(data_, n).subspan(size_).data(), 0, n - size_);
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
  // bytes a chunk-by-chunk store leaves).
  result.Resize(text.size() + 1);
  if (!text.empty()) {
    std::memcpy(result.Data(), text.data(), text.size());
  }
  std::span(result.Data(), text.size() + 1)[text.size()] = 0;
  return static_cast<std::int32_t>(text.size());
}

std::string AdjustLineEnds(std::string_view text, TLineEndStyle style) {
  return AdjustLineEndsT<char>(text, style, false);
}

std::u16string AdjustLineEndsW(std::u16string_view text, TLineEndStyle style) {
  return AdjustLineEndsT<char16_t>(text, style, true);
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
