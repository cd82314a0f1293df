// Text of a PDF document through poppler: every page in page order, UTF-8, CR LF line ends,
// each page ended by a form feed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::plugins::pdf {

// Results besides success (0), open error (-1) and encrypted (-3).
constexpr std::int32_t kUnreadable = -2; // not a PDF poppler can read, or its reading failed
constexpr std::int32_t kInternal = -4;   // out of memory, or no way to run the extraction

// Where extracted text goes, piece by piece, in order.
class TTextOutput {
public:
  virtual ~TTextOutput() = default;
  virtual void Write(std::string_view text) = 0;
};

// Extracts the text of the PDF file at path (a file-system path). s1 selects the physical
// layout, s2 raw content-stream order, neither the reading order. Returns 0, -3 for a document
// that no empty user password opens, or kUnreadable.
std::int32_t ExtractPdfText(const std::string& path, std::int32_t s1, std::int32_t s2,
                            TTextOutput& out);

// One extraction as the extraction child runs it: ExtractPdfRequest takes a TPdfRequest as
// its context.
struct TPdfRequest {
  std::string path;
  std::int32_t s1;
  std::int32_t s2;
};
std::int32_t ExtractPdfRequest(void* context, TTextOutput& out);

} // namespace scv::plugins::pdf
