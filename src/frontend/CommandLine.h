// The program body's pieces: flag parsing, the usage text, the conversion driver and its
// messages.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::frontend {

// The run settings, written by ParseFlag and read by ConvertFile.
struct TRunSettings {
  bool OverwriteFlag = false;
  std::string ForcedType;          // upper case
  std::int32_t TargetCodePage = 0; // 0 = not given
  std::int32_t SpecialFormat = 0;
  bool AllText = false; // --all-text: every story of an Office Open XML package
  bool ArgumentsInvalid = true;
  // The program confines itself before it reads the document (the sandbox module); the
  // in-process users of ConvertFile leave it off.
  bool Confine = false;
};

void ParseFlag(std::string_view argument, TRunSettings& settings);

// The usage text (lines joined by CR LF, without the final CR LF that PrintMessage adds).
std::string UsageText(std::string_view programFileName);

// The type text of a source name: its upper-cased extension without the dot ("" or "." when
// there is none).
std::string TypeTextOf(std::string_view source);

// Converts one document; prints the result line; returns the run result. TargetCodePage 0 is
// replaced by the locale's default here.
std::int32_t ConvertFile(std::string_view source, std::string_view destination, bool overwrite,
                         std::string_view forcedType, TRunSettings& settings);

// Writes the text and CR LF to standard output.
void PrintMessage(std::string_view text);

// The program body: flags, driver, exit code (the run result). args excludes the program name.
std::int32_t RunProgram(int argc, char** argv);

} // namespace scv::frontend
