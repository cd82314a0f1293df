// The PDF text extraction itself: poppler reads the document; every page's text goes out as
// UTF-8 in page order. Each page's text ends with a form feed, the page separator of the usual
// PDF text tools, so the page structure survives in plain text.
#include "PdfText.h"

#include "common/Ligatures.h"

#include <ScvConverter.h>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace scv::plugins::pdf {

namespace {

// Poppler reports syntax problems of damaged files through this callback; the library never
// prints, so they are dropped. Damage that stops the reading shows in the result instead.
void Silent(const std::string& /*message*/, void* /*closure*/) {}

poppler::page::text_layout_enum LayoutOf(std::int32_t s1, std::int32_t s2) {
  if (s1 != 0) {
    return poppler::page::physical_layout;
  }
  if (s2 != 0) {
    return poppler::page::raw_order_layout;
  }
  return poppler::page::non_raw_non_physical_layout;
}

// Hands one page's text on with CR LF line ends, the line ends of all of scvcmd's output
// (poppler ends lines with LF), and the typographic ligatures poppler passes through from the
// fonts written as their letters.
void Deliver(TTextOutput& out, std::string_view text, std::string& scratch) {
  scratch.clear();
  scratch.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      scratch.push_back('\r');
    } else if (c == '\xEF') {
      const std::string_view letters = scv::plugin::LigatureAt(text, i);
      if (!letters.empty()) {
        scratch.append(letters);
        i += 2;
        continue;
      }
    }
    scratch.push_back(c);
  }
  out.Write(scratch);
}

} // namespace

std::int32_t ExtractPdfText(const std::string& path, std::int32_t s1, std::int32_t s2,
                            TTextOutput& out) {
  poppler::set_debug_error_function(&Silent, nullptr);
  // Empty passwords: a document whose user password is empty opens; any other stays locked.
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path, "", ""));
  if (!doc) {
    return kUnreadable;
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
    const std::string_view text(utf8.data(), utf8.size());
    Deliver(out, text, scratch);
    if (text.empty() || text.back() != '\f') {
      Deliver(out, "\f", scratch);
    }
  }
  return SCV_PDF_OK;
}

std::int32_t ExtractPdfRequest(void* context, TTextOutput& out) {
  const TPdfRequest& request = *static_cast<const TPdfRequest*>(context);
  return ExtractPdfText(request.path, request.s1, request.s2, out);
}

} // namespace scv::plugins::pdf
