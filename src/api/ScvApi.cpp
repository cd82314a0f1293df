// The C library interface: one conversion by file name and type, through the extractor table.
#include "api/DocumentFile.h"
#include "api/ExtractorTable.h"
#include "bridges/FilterCvt.h"
#include "bridges/MyPdfCvt.h"
#include "cvtbase/KvCvtBase.h"
#include "cvtbase/ResultCodes.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "platform/LocaleInfo.h"
#include "scv/scv.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <span>
#include <string>

namespace {

// The C names of the result codes are the shared ones.
static_assert(SCV_OK == scv::kResultOk);
static_assert(SCV_E_LIBRARY_MISSING == scv::kResultLibraryMissing);
static_assert(SCV_E_NOT_FOUND == scv::kResultNotFound);
static_assert(SCV_E_TYPE_NOT_SUPPORTED == scv::kResultTypeNotSupported);
static_assert(SCV_E_OPEN == scv::kResultOpenError);
static_assert(SCV_E_FORMAT == scv::kResultBadFormat);
static_assert(SCV_E_ENCRYPTED == scv::kResultEncrypted);
static_assert(SCV_E_ARGUMENT == scv::kResultArgument);

// One conversion at a time: the extractors keep module-wide state.
std::mutex& ConversionLock() {
  static std::mutex lock;
  return lock;
}

bool gInitialized = false;

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// A type given by the caller, matched without regard to case ("docx" is "DOCX").
std::string UpperType(const char* type) {
  std::string text(type);
  for (auto& c : text) {
    c = AsciiUpper(c);
  }
  return text;
}

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

// The flags a conversion knows.
constexpr std::uint32_t kKnownFlags = SCV_ALL_TEXT;

// Sets the Office Open XML all-text switch for one conversion and clears it again on every
// way out, exceptions included, so that no later conversion inherits it.
class TAllTextScope {
public:
  explicit TAllTextScope(bool on) { scv::ooxml::SetOfficeXAllText(on); }
  ~TAllTextScope() { scv::ooxml::SetOfficeXAllText(false); }
  TAllTextScope(const TAllTextScope&) = delete;
  TAllTextScope& operator=(const TAllTextScope&) = delete;
};

// The conversion of a file that exists, by its type text (upper case).
int32_t ConvertPath(const std::string& path, const std::string& typeText, int32_t codePage,
                    int32_t specialFormat, std::uint32_t flags, unsigned char** text,
                    size_t* length) {
  if (codePage == 0) {
    codePage = scv::DefaultCodePage();
  }
  if (!scv::platform::IsCodePageUsable(codePage)) {
    return SCV_E_ARGUMENT; // the conversion would end in an empty text
  }
  std::lock_guard lock(ConversionLock());
  InitializeLocked();
  const scv::api::TExtractorRow* row = scv::api::FindExtractor(typeText);
  if (row == nullptr) {
    return SCV_E_TYPE_NOT_SUPPORTED;
  }
  scv::TConversionResult result;
  const TAllTextScope allText((flags & SCV_ALL_TEXT) != 0);
  const std::int32_t r = scv::api::RunExtractor(*row, scv::platform::ArgumentToWide(path), codePage,
                                                specialFormat, result);
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
  const auto count = static_cast<std::size_t>(r) <= result.Capacity() ? static_cast<std::size_t>(r)
                                                                      : result.Capacity();
  *text = result.Release();
  *length = count;
  return SCV_OK;
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

int32_t scv_convert_file_ex(const char* path, const char* type, int32_t codePage,
                            int32_t specialFormat, uint32_t flags, unsigned char** text,
                            size_t* length) {
  if (text == nullptr || length == nullptr) {
    return SCV_E_ARGUMENT;
  }
  *text = nullptr;
  *length = 0;
  if ((flags & ~kKnownFlags) != 0) {
    return SCV_E_ARGUMENT;
  }
  try {
    if (path == nullptr || !scv::platform::FileExists(path)) {
      return SCV_E_NOT_FOUND;
    }
    return ConvertPath(path, type != nullptr ? UpperType(type) : TypeTextOf(path), codePage,
                       specialFormat, flags, text, length);
  } catch (...) {
    return SCV_E_FORMAT;
  }
}

int32_t scv_convert_file(const char* path, const char* type, int32_t codePage,
                         int32_t specialFormat, unsigned char** text, size_t* length) {
  return scv_convert_file_ex(path, type, codePage, specialFormat, 0, text, length);
}

int32_t scv_convert_memory_ex(const void* bytes, size_t size, const char* type, int32_t codePage,
                              int32_t specialFormat, uint32_t flags, unsigned char** text,
                              size_t* length) {
  if (text == nullptr || length == nullptr || (bytes == nullptr && size > 0)) {
    return SCV_E_ARGUMENT;
  }
  *text = nullptr;
  *length = 0;
  if ((flags & ~kKnownFlags) != 0) {
    return SCV_E_ARGUMENT;
  }
  try {
    if (type == nullptr) {
      return SCV_E_TYPE_NOT_SUPPORTED; // no name to take an extension from
    }
    const scv::api::TDocumentFile document(
        std::span(static_cast<const std::uint8_t*>(bytes), bytes != nullptr ? size : 0));
    if (document.Path().empty()) {
      return SCV_E_OPEN;
    }
    return ConvertPath(document.Path(), UpperType(type), codePage, specialFormat, flags, text,
                       length);
  } catch (...) {
    return SCV_E_FORMAT;
  }
}

int32_t scv_convert_memory(const void* bytes, size_t size, const char* type, int32_t codePage,
                           int32_t specialFormat, unsigned char** text, size_t* length) {
  return scv_convert_memory_ex(bytes, size, type, codePage, specialFormat, 0, text, length);
}

const char* scv_result_message(int32_t code) {
  // The command line's messages without their file names.
  switch (code) {
  case SCV_OK:
    return "OK";
  case scv::kResultExists:
    return "Output file already exists, convert canceled";
  case scv::kResultUsage:
    return "Command line rejected";
  case SCV_E_LIBRARY_MISSING:
    return "Convert dll file load error";
  case SCV_E_NOT_FOUND:
    return "Input file not exists";
  case SCV_E_TYPE_NOT_SUPPORTED:
    return "Input file type not support";
  case SCV_E_OPEN:
    return "Input file open error";
  case SCV_E_FORMAT:
    return "Input file format not correct";
  case scv::kResultCreateError:
    return "Output file create error";
  case scv::kResultWriteError:
    return "Output file write error";
  case SCV_E_ENCRYPTED:
    return "Input file is encrypted";
  case SCV_E_ARGUMENT:
    return "Invalid argument";
  default:
    return "Unknown result";
  }
}

void scv_free(void* text) {
  std::free(text); // NOLINT(cppcoreguidelines-owning-memory): the C caller's malloc'd buffer
}

size_t scv_type_of(const char* path, char* buffer, size_t size) {
  const std::string typeText = path != nullptr ? TypeTextOf(path) : std::string();
  if (buffer != nullptr && size > 0) {
    const std::size_t n = typeText.size() < size - 1 ? typeText.size() : size - 1;
    const std::span<char> out(buffer, size);
    std::memcpy(out.data(), typeText.data(), n);
    out[n] = '\0';
  }
  return typeText.size();
}

const char* scv_types(void) {
  static const std::string types = scv::api::OfferedTypes();
  return types.c_str();
}

const char* scv_version(void) {
  return "3.0.0";
}

} // extern "C"
