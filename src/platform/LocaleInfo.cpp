// The locale of the process and the Windows code pages that correspond to it.
#include "platform/LocaleInfo.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <utility>

namespace scv::platform {
namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  text.erase(std::remove(text.begin(), text.end(), '_'), text.end());
  text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
  return text;
}

// The Windows code page whose bytes are those of a C library code set.
std::int32_t CodeSetToCodePage(const std::string& codeSet) {
  const std::string cs = Upper(codeSet);
  if (cs == "UTF8") {
    return 65001;
  }
  if (cs == "ANSIX3.41968" || cs == "ASCII" || cs == "USASCII" || cs.empty()) {
    return 65001; // the C/POSIX locale: UTF-8 serves ASCII text and everything beyond it
  }
  if (cs == "CP1252" || cs == "WINDOWS1252") {
    return 1252;
  }
  if (cs.rfind("CP125", 0) == 0 && cs.size() == 6) {
    return 1250 + (cs[5] - '0');
  }
  if (cs.rfind("ISO8859", 0) == 0) {
    const std::string n = cs.substr(7);
    if (!n.empty() && n.size() <= 2 && std::all_of(n.begin(), n.end(), ::isdigit)) {
      return 28590 + std::stoi(n);
    }
  }
  if (cs == "SHIFTJIS" || cs == "SJIS" || cs == "CP932" || cs == "WINDOWS31J") {
    return 932;
  }
  if (cs == "EUCJP") {
    return 20932;
  }
  if (cs == "GBK" || cs == "GB2312" || cs == "CP936" || cs == "EUCCN") {
    return 936;
  }
  if (cs == "GB18030") {
    return 54936;
  }
  if (cs == "BIG5" || cs == "CP950" || cs == "BIG5HKSCS") {
    return 950;
  }
  if (cs == "EUCKR" || cs == "CP949" || cs == "UHC") {
    return 949;
  }
  if (cs == "KOI8R") {
    return 20866;
  }
  if (cs == "KOI8U") {
    return 21866;
  }
  if (cs == "TIS620") {
    return 874;
  }
  return 65001;
}

struct TLocaleState {
  std::int32_t ansi = 65001;
  std::int32_t oem = 437;
};

// "LC_CTYPE=<name>" of one category of a locale object.
std::string CategoryName(locale_t loc, int category, const char* label) {
  const char* name = nl_langinfo_l(_NL_LOCALE_NAME(category), loc);
  return std::string(label) + "=" + (name != nullptr && *name != '\0' ? name : "C");
}

// The name setlocale gives a locale: one name when every category has it, else the categories
// one by one, in the C library's order.
std::string CompositeName(locale_t loc) {
  const std::pair<int, const char*> categories[] = {{LC_CTYPE, "LC_CTYPE"},
                                                    {LC_NUMERIC, "LC_NUMERIC"},
                                                    {LC_TIME, "LC_TIME"},
                                                    {LC_COLLATE, "LC_COLLATE"},
                                                    {LC_MONETARY, "LC_MONETARY"},
                                                    {LC_MESSAGES, "LC_MESSAGES"},
                                                    {LC_PAPER, "LC_PAPER"},
                                                    {LC_NAME, "LC_NAME"},
                                                    {LC_ADDRESS, "LC_ADDRESS"},
                                                    {LC_TELEPHONE, "LC_TELEPHONE"},
                                                    {LC_MEASUREMENT, "LC_MEASUREMENT"},
                                                    {LC_IDENTIFICATION, "LC_IDENTIFICATION"}};
  std::string composite;
  std::string first;
  bool same = true;
  for (const auto& [category, label] : categories) {
    const std::string entry = CategoryName(loc, category, label);
    const std::string value = entry.substr(entry.find('=') + 1);
    if (first.empty()) {
      first = value;
    }
    same = same && value == first;
    composite.append(composite.empty() ? "" : ";").append(entry);
  }
  return same ? first : composite;
}

// The environment's locale (LC_ALL > LC_* > LANG, as setlocale(LC_ALL, "") reads it), read
// into a locale object of our own: the process locale of a program that embeds the library is
// left as it is. A locale the C library cannot load counts as "C", as setlocale leaves it.
const TLocaleState& State() {
  static const TLocaleState state = [] {
    TLocaleState s;
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) {
      loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    }
    if (loc == static_cast<locale_t>(nullptr)) {
      return s;
    }
    const std::string ctypeName = CategoryName(loc, LC_CTYPE, "LC_CTYPE").substr(9);
    const char* codeSet = nl_langinfo_l(CODESET, loc);
    s.ansi = CodeSetToCodePage(codeSet != nullptr ? codeSet : "");
    freelocale(loc);
    const std::string lang = ctypeName.substr(0, 2);
    if (lang == "ja") {
      s.oem = 932;
    } else if (lang == "zh") {
      s.oem = ctypeName.find("TW") != std::string::npos || ctypeName.find("HK") != std::string::npos
                  ? 950
                  : 936;
    } else if (lang == "ko") {
      s.oem = 949;
    }
    return s;
  }();
  return state;
}

} // namespace

void InitializeLocale() {
  (void)State();
}

TLocaleId GetThreadLocale() {
  return 0;
}

std::string LocaleName() {
  // Read again when asked: no conversion needs the name, so start-up does not pay for it.
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) {
    return "C";
  }
  std::string name = CompositeName(loc);
  freelocale(loc);
  return name;
}

std::string DefaultAnsiCodePageText(TLocaleId) {
  return std::to_string(State().ansi);
}

std::int32_t GetACP() {
  return State().ansi;
}

std::int32_t GetOEMCP() {
  return State().oem;
}

} // namespace scv::platform
