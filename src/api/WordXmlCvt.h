// Word 2003 XML documents (one XML file whose document element is w:wordDocument), which Word
// users often saved under a .doc name: recognised by their first bytes and converted through the
// Office Open XML extractor's word-processing walker.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::api {

// How much of a file's start is read to find its document element.
inline constexpr std::size_t kWordXmlHeadSize = std::size_t{64} * 1024;

// True when the bytes are the start of a Word 2003 XML document: after an optional UTF-8
// byte-order mark and white space they begin with "<?xml", and past the processing
// instructions, comments and document type declaration (separated by white space only) the
// first element is named w:wordDocument.
bool IsWordXmlDocument(std::string_view head);

// The same for the first kWordXmlHeadSize bytes of a file; false when it cannot be read.
bool IsWordXmlFile(const std::u16string& fileName);

// Extractor entry for such a file: the walker's text with CR LF line ends, encoded as DOCX text
// is (65001: byte-order mark and UTF-8; other pages as the Office Open XML extractor encodes).
// -4 when the file cannot be read, -5 when the markup cannot be walked, -15 as for DOCX.
std::int32_t WordXmlToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t codePage);

} // namespace scv::api
