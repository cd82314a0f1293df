// Excel 97-2003 workbooks to tab-separated text.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace scv::spreadsheet {

struct TWorkBookData;
class TBiffStream;

// Extractor entry for XLS.
std::int32_t ExtractSpreadsheet(const std::u16string& fileName, std::int32_t byteLimit,
                                TConversionResult& result, std::int32_t codePage);

// The sheets of a read workbook as the intermediate UTF-8 text: per worksheet its name line,
// one line per row entry (TABs up to each cell's column, CR LF) and an empty line.
std::string LayoutWorkbook(const TWorkBookData& data);

// Reads a workbook stream and appends its layout to text. Returns 0, or kResultEncrypted for a
// workbook with a FILEPASS record, or kResultBadFormat when no worksheet is found in a BIFF2-4
// stream or in a bare stream (a file that is a workbook stream itself, not a compound file);
// nothing is appended then. A compound file's BIFF5/8 workbook without worksheets gives no
// text and 0.
std::int32_t ExtractWorkbookText(std::span<const std::uint8_t> workbookStream, std::string& text,
                                 bool bareStream = false);
// The same over a stream walked from its runs (read from position 0 whatever its position).
std::int32_t ExtractWorkbookText(const TBiffStream& workbookStream, std::string& text,
                                 bool bareStream = false);

// The closing step: line ends to CR LF, encoding for the code page (65001: EF BB BF + UTF-8;
// 0: the ANSI code page; 1200: FF FE + UTF-16LE + a zero unit; others: the code page's bytes of
// the text and a zero unit), stored in the result. Returns the byte count, kResultBadUtf8 when
// the text is not well-formed UTF-8 for the targets that decode it, or kResultBadFormat when
// the encoded text is too long for a 32-bit count.
std::int32_t StoreWorkbookText(std::string_view utf8, std::int32_t codePage,
                               TConversionResult& result);

// The measured UTF-8 decoding of the closing step: every byte with its top bit set must be
// followed by the continuation bytes it asks for (three for F0..F4, otherwise one when bit 5 is
// clear and two when it is set), and four-byte sequences must stay within U+10FFFF. False,
// with out unchanged, when the text fails the measurement.
bool DecodeMeasuredUtf8(std::string_view utf8, std::u16string& out);

} // namespace scv::spreadsheet
