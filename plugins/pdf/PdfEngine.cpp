// The PDF text back end: poppler reads the document; every page's text goes to the host's
// sink as UTF-8 in page order. Each page's text ends with a form feed, the page separator
// of the usual PDF text tools, so the page structure survives in plain text.
#include <ScvConverter.h>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/FileIo.h"

namespace {

// Results besides success, open error and encrypted.
constexpr int32_t kDamaged = -2;
constexpr int32_t kInternal = -4;

// Poppler reports syntax problems of damaged files through this callback; the library never
// prints, so they are dropped. Damage that stops the reading shows in the result instead.
void Silent(const std::string& /*message*/, void* /*closure*/) {}

poppler::page::text_layout_enum LayoutOf(int32_t s1, int32_t s2) {
  if (s1 != 0) {
    return poppler::page::physical_layout;
  }
  if (s2 != 0) {
    return poppler::page::raw_order_layout;
  }
  return poppler::page::non_raw_non_physical_layout;
}

// Hands one page's text to the sink with CR LF line ends, the line ends of all of scvcmd's
// output (poppler ends lines with LF).
void Deliver(PdfTextSink sink, std::string_view text, std::string& scratch) {
  scratch.clear();
  scratch.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') {
      scratch.push_back('\r');
    }
    scratch.push_back(c);
  }
  // The sink takes 32-bit counts; a page's text is far below that, but stay exact anyway.
  constexpr std::size_t kMaxPiece = 1u << 30;
  std::string_view rest(scratch);
  while (!rest.empty()) {
    const std::size_t n = rest.size() < kMaxPiece ? rest.size() : kMaxPiece;
    sink(rest.data(), static_cast<int32_t>(n));
    rest.remove_prefix(n);
  }
}

int32_t ConvertPdf(const std::u16string_view name, PdfTextSink sink, int32_t s1, int32_t s2) {
  // Open the file once ourselves: a file that cannot be opened is reported as such, not as
  // a damaged document.
  scv::platform::TFile probe;
  if (!probe.OpenRead(name)) {
    return SCV_PDF_OPEN_ERROR;
  }
  probe.Close();

  poppler::set_debug_error_function(&Silent, nullptr);
  const std::string path = scv::platform::WideToPath(name);
  // Empty passwords: a document whose user password is empty opens; any other stays locked.
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path, "", ""));
  if (!doc) {
    return kDamaged;
  }
  if (doc->is_locked()) {
    return SCV_PDF_ENCRYPTED;
  }
  const poppler::page::text_layout_enum layout = LayoutOf(s1, s2);
  const int pages = doc->pages();
  std::string scratch;
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) {
      continue; // a page object too damaged to build has no text, and no separator either
    }
    const poppler::byte_array utf8 = page->text(poppler::rectf(), layout).to_utf8();
    std::string_view text(utf8.data(), utf8.size());
    Deliver(sink, text, scratch);
    if (text.empty() || text.back() != '\f') {
      Deliver(sink, "\f", scratch);
    }
  }
  return SCV_PDF_OK;
}

} // namespace

extern "C" SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName,
                                                 int32_t fileNameBytes, PdfTextSink sink,
                                                 int32_t /*option4*/, int32_t /*option5*/,
                                                 int32_t s1, int32_t /*option7*/, int32_t s2,
                                                 int32_t /*mode9*/, const char* /*text10*/,
                                                 const char* /*text11*/) {
  if (fileName == nullptr || sink == nullptr || fileNameBytes < 0) {
    return SCV_PDF_OPEN_ERROR;
  }
  try {
    const std::u16string_view name(reinterpret_cast<const char16_t*>(fileName),
                                   static_cast<std::size_t>(fileNameBytes) / 2);
    return ConvertPdf(name, sink, s1, s2);
  } catch (...) {
    return kInternal;
  }
}
