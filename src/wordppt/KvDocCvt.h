// Word binary documents to text: Word 97-2003, Word 6/95 and Word for Windows 1.x/2.x.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <span>
#include <string>

namespace scv::wordppt {

// Extractor entry for DOC: the four common parameters, the line-end option and the special
// format (1 keeps raw characters).
std::int32_t DocToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage, std::int32_t lineEndOption,
                       std::int32_t specialFormat);

// The same for a document already in memory (fuzzing): -5 when it is neither a compound file
// nor a Word for Windows 1.x/2.x file.
std::int32_t DocBytesToText(std::span<const std::uint8_t> bytes, TConversionResult& result,
                            std::int32_t codePage, std::int32_t lineEndOption,
                            std::int32_t specialFormat);

} // namespace scv::wordppt
