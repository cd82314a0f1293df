// The locale of the process: ANSI and OEM code pages, standing in for GetACP, GetOEMCP and
// GetLocaleInfoA's default ANSI code page.
#pragma once

#include <cstdint>
#include <string>

namespace scv::platform {

// Locale identifier of the calling thread (GetThreadLocale). 0 stands for "the environment's
// locale", the only one a process has here.
using TLocaleId = std::uint32_t;
TLocaleId GetThreadLocale();

// Reads the environment's locale (LC_ALL > LC_* > LANG) once into a locale object of its own;
// later calls do nothing. The process locale (setlocale) is never changed. Every function
// below calls it first.
void InitializeLocale();

// The name of the environment's locale as setlocale(LC_ALL, "") would report it ("C",
// "en_US.UTF-8", or one name per category when they differ).
std::string LocaleName();

// GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE): the code page as decimal text.
std::string DefaultAnsiCodePageText(TLocaleId locale);

// GetACP: the locale's code set mapped to the Windows code page with the same bytes.
std::int32_t GetACP();

// GetOEMCP: 437, or 932/936/949/950 for Japanese, Chinese and Korean locales.
std::int32_t GetOEMCP();

} // namespace scv::platform
