// The locale of the process and the Windows code pages that correspond to it.
#include "platform/LocaleInfo.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <langinfo.h>
#include <mutex>

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
  std::string name;
  std::int32_t ansi = 65001;
  std::int32_t oem = 437;
};

const TLocaleState& State() {
  static const TLocaleState state = [] {
    TLocaleState s;
    const char* name = std::setlocale(LC_ALL, "");
    if (name == nullptr) {
      name = std::setlocale(LC_ALL, nullptr);
    }
    s.name = name != nullptr ? name : "C";
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    const std::string ctypeName = ctype != nullptr ? ctype : s.name;
    s.ansi = CodeSetToCodePage(nl_langinfo(CODESET));
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
  return State().name;
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
