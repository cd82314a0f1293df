// Word 97-2003 binary documents to text.
#include "wordppt/KvDocCvt.h"

namespace scv::wordppt {

std::int32_t DocToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t,
                       std::int32_t, std::int32_t) {
  return kResultLibraryMissing; // not built yet
}

} // namespace scv::wordppt
