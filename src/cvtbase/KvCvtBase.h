// Output helpers shared by every extractor: code pages, line ends, control characters and the
// ConversionResult buffer.
#pragma once

#include "cvtbase/ResultCodes.h"
#include "platform/LocaleInfo.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv {

// The converted text of one run: a byte buffer that is null until an extractor stores text.
// The buffer may be one byte longer than the count the extractor returns; only counted bytes
// are output. The memory comes from malloc, so Release can hand it to a C caller, who frees it
// with free().
class TConversionResult {
public:
  TConversionResult() = default;
  ~TConversionResult() { Free(); }
  TConversionResult(const TConversionResult&) = delete;
  TConversionResult& operator=(const TConversionResult&) = delete;

  bool IsNull() const { return data_ == nullptr; }
  // Resizes the buffer to n bytes, keeping its contents (a null buffer is allocated afresh);
  // new bytes are zero. Throws std::bad_alloc when memory runs out.
  void Resize(std::size_t n);
  // Resizes the buffer to n bytes, keeping its contents, but leaves new bytes as they are: for
  // callers that write every one of them next, where zeroing first would touch the buffer twice.
  void ResizeForOverwrite(std::size_t n);
  std::uint8_t* Data() { return data_; }
  const std::uint8_t* Data() const { return data_; }
  std::size_t Capacity() const { return size_; }
  // The first count bytes (clamped to the buffer).
  std::span<const std::uint8_t> Bytes(std::size_t count) const {
    return {data_, count < size_ ? count : size_};
  }
  void Free();
  // Gives up ownership of the malloc'd buffer (null when none) and leaves this result null.
  std::uint8_t* Release() {
    std::uint8_t* p = data_;
    data_ = nullptr;
    size_ = 0;
    return p;
  }

private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// The common extractor entry: file name, byte limit (0 = none), output, target code page.
// Extractors with type-specific options take them after these four. The result is the byte
// count stored, or a negative code of ResultCodes.h.
using TExtractorEntry = std::int32_t (*)(const std::u16string& fileName, std::int32_t byteLimit,
                                         TConversionResult& result, std::int32_t codePage);

// LineEndStyle: 0 = LF, 1 = CR LF, 2 = CR.
enum TLineEndStyle : std::int32_t {
  kLineEndLf = 0,
  kLineEndCrLf = 1,
  kLineEndCr = 2,
};

// The mapping every extractor applies to its line-end option: 1 -> CR, 2 -> LF, else CR LF.
TLineEndStyle LineEndStyleFromOption(std::int32_t option);

// Default ANSI code page of a locale (text read as an integer; the system's on failure).
std::int32_t LocaleCodePage(platform::TLocaleId locale);
// LocaleCodePage of the calling thread's locale.
std::int32_t DefaultCodePage();

// Converts wide text to a code page; the result ends with one zero byte that counts.
std::string ToCodePage(std::int32_t codePage, std::u16string_view text);

// Stores text at the start of the ConversionResult in 65,536-byte chunks; returns its length.
std::int32_t AppendToResult(std::string_view text, TConversionResult& result);

std::string AdjustLineEnds(std::string_view text, TLineEndStyle style);
// Stores prefix (a byte-order mark, or nothing) and the text with its line ends adjusted, as
// AppendToResult(prefix + AdjustLineEnds(text, style)) does, but written straight into the
// result: no adjusted or prefixed copy is made. A text that would not fit the 32-bit count
// gives -5 and stores nothing.
std::int32_t AppendAdjustedToResult(std::string_view prefix, std::string_view text,
                                    TLineEndStyle style, TConversionResult& result);
std::u16string AdjustLineEndsW(std::u16string_view text, TLineEndStyle style);

// Stores a text that arrives in pieces as AppendAdjustedToResult stores it whole: the prefix,
// the pieces with their line ends adjusted to the style (a CR LF split between two pieces is
// one line end), one zero byte after them. The result is untouched until the first non-empty
// piece; sizeHint sizes it then, so a text no longer than the hint is never moved (room that
// is never written costs nothing).
class TAdjustedResultWriter {
public:
  TAdjustedResultWriter(std::string_view prefix, TLineEndStyle style, std::size_t sizeHint,
                        TConversionResult& result)
      : prefix_(prefix), style_(style), sizeHint_(sizeHint), result_(result) {}
  // Throws std::bad_alloc when memory runs out.
  void Append(std::string_view piece);
  // Ends the text and returns its length: 0 when no piece held a byte, -5 when the text would
  // not fit the 32-bit count. Throws std::bad_alloc when memory runs out.
  std::int32_t Finish();

private:
  void Put(std::string_view bytes);
  std::string_view prefix_;
  TLineEndStyle style_;
  std::size_t sizeHint_;
  TConversionResult& result_;
  std::size_t length_ = 0;
  bool started_ = false;
  bool afterCr_ = false; // the last piece ended with CR: an LF starting the next one is its pair
  bool tooLong_ = false;
};

void CleanControlChars(std::string& text);
void CleanControlCharsW(std::u16string& text);

// The closing encoding step for UTF-8 intermediate text shared by several extractors:
// 65001 -> EF BB BF + the bytes; 1200 -> FF FE + UTF-16LE + 00 00; other pages -> ToCodePage of
// the UTF-16 text plus one terminating zero unit. withTerminator = false leaves out the zero
// unit (the text-filter variant). Invalid UTF-8 decodes to U+FFFD.
std::string EncodeUtf8ForCodePage(std::string_view utf8, std::int32_t codePage,
                                  bool withTerminator);

} // namespace scv
