// Fuzzes number format records, their classification, the number formatter and the date/time
// renderer. Input: 8 bytes of a double, one byte of options, then the format text.
#include "spreadsheet/KvXlsDateTime.h"
#include "spreadsheet/KvXlsStyle.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 4096;

// Locale data with long, multi-byte and nesting texts, so the renderer's limits are reached.
const scv::platform::TLocaleFormat& OddLocale() {
  static const scv::platform::TLocaleFormat locale = [] {
    scv::platform::TLocaleFormat f = scv::platform::EnUsLocaleFormat();
    f.decimalSeparator = "\xE2\x80\xA4";
    f.thousandSeparator = "\xE2\x80\xAF\xE2\x80\xAF";
    f.dateSeparator = "";
    f.amDesignator = std::string(40, 'A');
    f.longMonthNames[4] = std::string(200, 'm');
    f.shortDateFormat = "dddddd c tt yyyy/mm/dd";
    f.longDateFormat = "ddddd c \"" + std::string(300, 'x') + "\"";
    f.shortTimeFormat = "hh:nn AMPM t";
    f.longTimeFormat = "hh:nn:ss.zzz A/P tt";
    return f;
  }();
  return locale;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9 || size > kMaxInput) {
    return 0;
  }
  const std::span<const std::uint8_t> input(data, size);
  double value = 0;
  std::memcpy(&value, input.data(), sizeof value);
  const std::uint8_t options = input[8];
  const std::span<const std::uint8_t> textBytes = input.subspan(9);
  const std::string_view text(reinterpret_cast<const char*>(textBytes.data()), textBytes.size());

  // The text as a FORMAT record body, 1-byte or 2-byte characters, then rendered through an XF.
  std::vector<std::uint8_t> body = {164, 0, static_cast<std::uint8_t>(text.size()),
                                    static_cast<std::uint8_t>(text.size() >> 8),
                                    static_cast<std::uint8_t>(options & 1)};
  body.insert(body.end(), text.begin(), text.end());
  scv::spreadsheet::TStyleData style;
  style.HandleFormat(body);
  style.AppendXF(164);
  style.AppendXF(static_cast<std::uint16_t>(options >> 1));
  std::string out = style.RenderNumber(value, 0);
  out += style.RenderNumber(value, 1);

  // The formatter and the renderer on the raw text, with built-in and odd locale data.
  const auto& locale = (options & 2) != 0 ? OddLocale() : scv::platform::EnUsLocaleFormat();
  out.clear();
  scv::spreadsheet::AppendNumberFormat(out, value, text, locale);
  const std::string date = scv::spreadsheet::FormatDateTimeText(text, value, locale);
  if (date.size() > scv::spreadsheet::kMaxDateTimeBytes) {
    std::abort();
  }
  return 0;
}
