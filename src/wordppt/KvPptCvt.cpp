// PowerPoint 97-2003 binary presentations to text.
#include "wordppt/KvPptCvt.h"

namespace scv::wordppt {

std::int32_t PptToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}

} // namespace scv::wordppt
