// Which extractor runs for which type: the one table the library dispatches by and the
// command line's type lists are derived from.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace scv::api {

// An extractor that also takes the -s value (PDF layout, DOC raw characters).
using TSpecialEntry = std::int32_t (*)(const std::u16string& fileName, TConversionResult& result,
                                       std::int32_t codePage, std::int32_t specialFormat);

// Row options.
inline constexpr unsigned kOffered = 1;    // -t accepts it and the usage text lists it
inline constexpr unsigned kRetryAsRtf = 2; // "format not correct" and RTF text: the RTF row runs
// "format not correct" and a Word 2003 XML document: converted by the word-processing walker.
inline constexpr unsigned kRetryAsWordXml = 4;

struct TExtractorRow {
  std::string_view typeText; // upper case, as an extension or -t gives it
  TExtractorEntry entry;     // the common entry, called with byte limit 0, or null when
  TSpecialEntry special;     // this entry takes the -s value too
  unsigned options;
};

// Every row, in the order the usage text lists the offered types.
std::span<const TExtractorRow> ExtractorRows();

// The row of a type text (compared exactly), or null when no extractor handles it.
const TExtractorRow* FindExtractor(std::string_view typeText);

// Runs the row's extractor (and its retries) on one file.
std::int32_t RunExtractor(const TExtractorRow& row, const std::u16string& source,
                          std::int32_t codePage, std::int32_t specialFormat,
                          TConversionResult& result);

// The offered type texts in table order, separated by blanks.
std::string OfferedTypes();

} // namespace scv::api
