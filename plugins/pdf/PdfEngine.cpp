// The PDF text back end: the export scvpdf.so forwards to. Poppler reads the document in a
// child process under memory and time ceilings scaled to the file's size (ExtractionChild);
// the text comes back in page order and goes to the host's sink unchanged.
#include "ExtractionChild.h"
#include "PdfText.h"
#include "platform/FileIo.h"

#include <ScvConverter.h>
#include <string>
#include <string_view>

namespace {

using namespace scv::plugins::pdf;

std::int32_t ConvertPdf(const std::u16string_view name, PdfTextSink sink, std::int32_t s1,
                        std::int32_t s2) {
  // Open the file once ourselves: a file that cannot be opened is reported as such, not as
  // a damaged document; its size sets the ceilings.
  scv::platform::TFile probe;
  if (!probe.OpenRead(name)) {
    return SCV_PDF_OPEN_ERROR;
  }
  const std::int64_t size = probe.Size();
  probe.Close();

  TPdfRequest request{scv::platform::WideToPath(name), s1, s2};
  const TChildLimits limits = LimitsForInput(size > 0 ? static_cast<std::uint64_t>(size) : 0);
  return RunInChild(limits, &ExtractPdfRequest, &request, sink).result;
}

} // namespace

extern "C" SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName, int32_t fileNameBytes,
                                                 PdfTextSink sink, int32_t /*option4*/,
                                                 int32_t /*option5*/, int32_t s1,
                                                 int32_t /*option7*/, int32_t s2, int32_t /*mode9*/,
                                                 const char* /*text10*/, const char* /*text11*/) {
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
