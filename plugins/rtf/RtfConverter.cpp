// scvrtf: the RTF converter library behind the text-filter interface.
#include "ScvConverter.h"
#include "common/FilterLibrary.h"
#include "rtf/RtfReader.h"

#include <cstdint>
#include <string>

extern "C" SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  return scv::plugin::CreateConversion(
      host, [](const std::string& input) { return scv::rtf::RtfToUtf8(input); });
}

extern "C" SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* /*host*/, char* buffer,
                                                        int32_t capacity, int32_t* count) {
  return scv::plugin::ReadConversion(buffer, capacity, count);
}

extern "C" SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* /*host*/) {
  return scv::plugin::CloseConversion();
}
