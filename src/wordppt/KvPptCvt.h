// PowerPoint 97-2003 binary presentations to text.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::wordppt {

// Extractor entry for PPT.
std::int32_t PptToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage);

// Worker: opens the compound file and its two streams and gathers the text (each piece followed
// by U+000D). Returns 0 or a negative result code: -5 also for a compound file without a
// "PowerPoint Document" stream or with a "PP40" stream (PowerPoint 4.0 and older).
std::int32_t PptWorker(const std::u16string& fileName, std::u16string& text);

// The bytes stored for gathered text: line ends made CR LF, then encoded for the code page
// (65001: BOM, UTF-8, one zero byte; 1200: BOM and UTF-16LE; others through ToCodePage).
std::string EncodePptText(std::u16string_view text, std::int32_t codePage);

} // namespace scv::wordppt
