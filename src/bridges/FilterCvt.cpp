// The text-filter bridge: HTML, Windows help and RTF through converter libraries.
#include "bridges/FilterCvt.h"

namespace scv::bridges {

void InitializeFilterBridge() {}
void FinalizeFilterBridge(const std::string&) {}

std::int32_t HlpToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
std::int32_t HtmToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
std::int32_t RtfToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}
bool IsRtfFile(const std::u16string&) { return false; }

} // namespace scv::bridges
