// The extractor table: every type text with its extractor and the options it is called with.
#include "api/ExtractorTable.h"

#include "api/WordXmlCvt.h"
#include "bridges/FilterCvt.h"
#include "bridges/MyPdfCvt.h"
#include "ooxml/OfficeXCvt.h"
#include "spreadsheet/KvXlsCvt.h"
#include "wordppt/KvDocCvt.h"
#include "wordppt/KvPptCvt.h"

namespace scv::api {
namespace {

// PDF: line-end option 1, layout from -s, the library's other options fixed.
std::int32_t PdfWithLayout(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t codePage, std::int32_t specialFormat) {
  static const char kEmpty[] = "";
  return bridges::PdfToText(fileName, 0, result, codePage, 1, 0, specialFormat, 1, 0, kEmpty,
                            kEmpty);
}

// DOC: line-end option 0, -s 1 keeps raw characters.
std::int32_t DocWithRawOption(const std::u16string& fileName, TConversionResult& result,
                              std::int32_t codePage, std::int32_t specialFormat) {
  return wordppt::DocToText(fileName, 0, result, codePage, 0, specialFormat);
}

constexpr TExtractorRow kRows[] = {
    {"PDF", nullptr, &PdfWithLayout, kOffered},
    {"DOC", nullptr, &DocWithRawOption, kOffered | kRetryAsRtf | kRetryAsWordXml},
    {"PPT", &wordppt::PptToText, nullptr, kOffered},
    {"XLS", &spreadsheet::ExtractSpreadsheet, nullptr, kOffered},
    {"DOCX", &ooxml::DocxToText, nullptr, kOffered},
    {"PPTX", &ooxml::PptxToText, nullptr, kOffered},
    {"XLSX", &ooxml::XlsxToText, nullptr, kOffered},
    {"RTF", &bridges::RtfToText, nullptr, kOffered},
    {"HTM", &bridges::HtmToText, nullptr, kOffered},
    {"HLP", &bridges::HlpToText, nullptr, kOffered},
    // The extension of most HTML files; -t names the type HTM.
    {"HTML", &bridges::HtmToText, nullptr, 0},
};

std::int32_t RunOnce(const TExtractorRow& row, const std::u16string& source, std::int32_t codePage,
                     std::int32_t specialFormat, TConversionResult& result) {
  return row.special != nullptr ? row.special(source, result, codePage, specialFormat)
                                : row.entry(source, 0, result, codePage);
}

} // namespace

std::span<const TExtractorRow> ExtractorRows() {
  return kRows;
}

const TExtractorRow* FindExtractor(std::string_view typeText) {
  for (const TExtractorRow& row : kRows) {
    if (row.typeText == typeText) {
      return &row;
    }
  }
  return nullptr;
}

std::int32_t RunExtractor(const TExtractorRow& row, const std::u16string& source,
                          std::int32_t codePage, std::int32_t specialFormat,
                          TConversionResult& result) {
  std::int32_t r = RunOnce(row, source, codePage, specialFormat, result);
  if (r != kResultBadFormat) {
    return r;
  }
  // A Word file that is really RTF text gets one more try through the RTF filter, and one that
  // is Word 2003 XML through the word-processing walker.
  if ((row.options & kRetryAsRtf) != 0 && bridges::IsRtfFile(source)) {
    r = RunOnce(*FindExtractor("RTF"), source, codePage, specialFormat, result);
  } else if ((row.options & kRetryAsWordXml) != 0 && IsWordXmlFile(source)) {
    r = WordXmlToText(source, result, codePage);
  }
  return r;
}

std::string OfferedTypes() {
  std::string types;
  for (const TExtractorRow& row : kRows) {
    if ((row.options & kOffered) != 0) {
      types.append(types.empty() ? "" : " ").append(row.typeText);
    }
  }
  return types;
}

} // namespace scv::api
