// Excel 97-2003 workbooks to tab-separated text.
#include "spreadsheet/KvXlsCvt.h"

namespace scv::spreadsheet {

std::int32_t ExtractSpreadsheet(const std::u16string&, std::int32_t, TConversionResult&,
                                std::int32_t) {
  return kResultLibraryMissing; // not built yet
}

} // namespace scv::spreadsheet
