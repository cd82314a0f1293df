// Finding and decoding the character encoding of an HTML document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::htm {

enum class TEncodingKind {
  kUtf8,
  kUtf16Le,
  kUtf16Be,
  kUtf32Le,
  kUtf32Be,
  kCodePage, // a Windows code page decoded through the platform layer
};

struct TEncoding {
  TEncodingKind kind = TEncodingKind::kUtf8;
  std::int32_t codePage = 0; // with kCodePage
  std::size_t bomLength = 0; // bytes of byte-order mark to skip
  bool parserReady = false;  // the bytes are what DecodeToUtf8 would make of them
};

// The code page an encoding label names ("utf-8", "ISO-8859-1", "shift_jis", ...), compared
// without case and surrounding whitespace. 65001 for UTF-8, 1200/1201 for UTF-16LE/BE, 0 for
// a label we do not know. Legacy labels map as browsers map them (latin1 and ASCII to
// windows-1252, gb2312 to GBK, ...).
std::int32_t CodePageFromLabel(std::string_view label);

// The charset declared by a <meta charset> or <meta http-equiv="content-type"> element near
// the start of the document (first 8 KiB), or empty.
std::string PrescanMetaCharset(std::string_view bytes);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Chooses the encoding: a byte-order mark; else the zero-byte pattern of UTF-16/32 text that
// starts with ASCII; else UTF-8 when the bytes hold non-ASCII text that is well-formed UTF-8;
// else a declared charset we can decode; else UTF-8 for pure ASCII and windows-1252 for the
// rest. parserReady is set when the text is UTF-8 without a mark, well-formed and free of
// the characters DecodeToUtf8 filters, so it can go to the parser as it is.
TEncoding DetectEncoding(std::string_view bytes);

// Decodes to UTF-8 that the HTML parser accepts: ill-formed sequences become U+FFFD, NUL and
// the C0 controls other than TAB, LF, CR and FF are dropped, noncharacters U+FFFE/U+FFFF
// become U+FFFD.
std::string DecodeToUtf8(std::string_view bytes, const TEncoding& encoding);

} // namespace scv::htm
