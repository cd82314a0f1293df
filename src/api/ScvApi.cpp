// The C library interface: one conversion by file name and type, through the same dispatch
// the command line uses.
#include "scv/scv.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "bridges/FilterCvt.h"
#include "bridges/MyPdfCvt.h"
#include "cvtbase/KvCvtBase.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "platform/LocaleInfo.h"
#include "spreadsheet/KvXlsCvt.h"
#include "wordppt/KvDocCvt.h"
#include "wordppt/KvPptCvt.h"

namespace {

// One conversion at a time: the extractors keep module-wide state.
std::mutex& ConversionLock() {
  static std::mutex lock;
  return lock;
}

bool gInitialized = false;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string TypeTextOf(std::string_view source) {
  const auto separator = source.find_last_of("\\:/");
  const auto dot = source.rfind('.');
  std::string ext;
  if (dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator)) {
    ext = source.substr(dot);
    for (auto& c : ext) {
      c = AsciiUpper(c);
    }
  }
  if (ext.size() > 1) {
    ext.erase(0, 1);
  }
  return ext;
}

// The dispatch table: type text -> extractor with its further parameters. known is false when
// no extractor handles the type.
std::int32_t Extract(const std::string& typeText, const std::u16string& source,
                     std::int32_t codePage, std::int32_t specialFormat,
                     scv::TConversionResult& result, bool& known) {
  using namespace scv;
  known = true;
  if (typeText == "PDF") {
    static const char kEmpty[] = "";
    return bridges::PdfToText(source, 0, result, codePage, 1, 0, specialFormat, 1, 0, kEmpty,
                              kEmpty);
  }
  if (typeText == "DOC") {
    std::int32_t r = wordppt::DocToText(source, 0, result, codePage, 0, specialFormat);
    // A Word file that is really RTF text gets one more try through the RTF filter.
    if (r == kResultBadFormat && bridges::IsRtfFile(source)) {
      r = bridges::RtfToText(source, 0, result, codePage);
    }
    return r;
  }
  if (typeText == "DOCX") {
    return ooxml::DocxToText(source, 0, result, codePage);
  }
  if (typeText == "PPT") {
    return wordppt::PptToText(source, 0, result, codePage);
  }
  if (typeText == "PPTX") {
    return ooxml::PptxToText(source, 0, result, codePage);
  }
  if (typeText == "XLS") {
    return spreadsheet::ExtractSpreadsheet(source, 0, result, codePage);
  }
  if (typeText == "XLSX") {
    return ooxml::XlsxToText(source, 0, result, codePage);
  }
  if (typeText == "HLP") {
    return bridges::HlpToText(source, 0, result, codePage);
  }
  if (typeText == "HTM" || typeText == "HTML") {
    return bridges::HtmToText(source, 0, result, codePage);
  }
  if (typeText == "RTF") {
    return bridges::RtfToText(source, 0, result, codePage);
  }
  known = false;
  return 0;
}

void InitializeLocked() {
  if (!gInitialized) {
    scv::platform::InitializeLocale();
    // Module order: the PDF bridge, the Office Open XML objects, the text-filter bridge.
    scv::bridges::InitializePdfBridge();
    scv::ooxml::InitializeOfficeX();
    scv::bridges::InitializeFilterBridge();
    gInitialized = true;
  }
}

} // namespace

extern "C" {

int32_t scv_initialize(void) {
  try {
    std::lock_guard lock(ConversionLock());
    InitializeLocked();
    return SCV_OK;
  } catch (...) {
    return SCV_E_LIBRARY_MISSING;
  }
}

void scv_finalize(void) {
  try {
    std::lock_guard lock(ConversionLock());
    if (gInitialized) {
      scv::bridges::FinalizeFilterBridge(scv::platform::ProgramDirectory());
      scv::ooxml::FinalizeOfficeX();
      scv::bridges::FinalizePdfBridge();
      gInitialized = false;
    }
  } catch (...) {
  }
}

int32_t scv_convert_file(const char* path, const char* type, int32_t code_page,
                         int32_t special_format, unsigned char** text, size_t* length) {
  if (text == nullptr || length == nullptr) {
    return SCV_E_ARGUMENT;
  }
  *text = nullptr;
  *length = 0;
  try {
    if (path == nullptr || !scv::platform::FileExists(path)) {
      return SCV_E_NOT_FOUND;
    }
    std::lock_guard lock(ConversionLock());
    InitializeLocked();
    const std::string typeText = type != nullptr ? std::string(type) : TypeTextOf(path);
    if (code_page == 0) {
      code_page = scv::DefaultCodePage();
    }
    scv::TConversionResult result;
    bool known = false;
    const std::int32_t r =
        Extract(typeText, scv::platform::ArgumentToWide(path), code_page, special_format, result,
                known);
    if (!known) {
      return SCV_E_TYPE_NOT_SUPPORTED;
    }
    switch (r) {
    case scv::kResultLibraryMissing:
      return SCV_E_LIBRARY_MISSING;
    case scv::kResultOpenError:
      return SCV_E_OPEN;
    case scv::kResultEncrypted:
      return SCV_E_ENCRYPTED;
    default:
      if (r < 0) {
        return SCV_E_FORMAT;
      }
    }
    const auto count = static_cast<std::size_t>(r) <= result.Capacity()
                           ? static_cast<std::size_t>(r)
                           : result.Capacity();
    *text = result.Release();
    *length = count;
    return SCV_OK;
  } catch (...) {
    return SCV_E_FORMAT;
  }
}

void scv_free(void* text) { std::free(text); }

size_t scv_type_of(const char* path, char* buffer, size_t size) {
  const std::string typeText = path != nullptr ? TypeTextOf(path) : std::string();
  if (buffer != nullptr && size > 0) {
    const std::size_t n = typeText.size() < size - 1 ? typeText.size() : size - 1;
    std::memcpy(buffer, typeText.data(), n);
    buffer[n] = '\0';
  }
  return typeText.size();
}

const char* scv_version(void) { return "3.0.0"; }

} // extern "C"
