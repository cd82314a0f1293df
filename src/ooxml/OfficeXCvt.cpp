// Office Open XML packages (docx, xlsx, pptx) to text.
#include "ooxml/OfficeXCvt.h"

namespace scv::ooxml {

std::int32_t DocxToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
std::int32_t XlsxToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
std::int32_t PptxToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
void InitializeOfficeX() {}
void FinalizeOfficeX() {}

} // namespace scv::ooxml
