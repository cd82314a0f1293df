// The program body's pieces: flag parsing, the usage text, the conversion driver and its
// messages.
#include "frontend/CommandLine.h"

#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "platform/LocaleInfo.h"
#include "platform/OutputFile.h"
#include "platform/StrToInt.h"
#include "sandbox/DestinationWriter.h"
#include "sandbox/Sandbox.h"
#include "scv/scv.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <span>
#include <unistd.h>
#include <vector>

namespace scv::frontend {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kStdoutName = "*";
constexpr std::string_view kStdinName = "-";

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    c = AsciiUpper(c);
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  return out;
}

// The types the library offers ("PDF DOC ..."), split.
std::vector<std::string> OfferedTypes() {
  std::vector<std::string> types;
  std::string_view rest = scv_types();
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    types.emplace_back(rest.substr(0, blank));
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  }
  return types;
}

bool IsOfferedType(std::string_view typeText) {
  const std::vector<std::string> types = OfferedTypes();
  return std::find(types.begin(), types.end(), typeText) != types.end();
}

// "-" is standard input unless a file of that name exists.
bool IsStandardInput(std::string_view source) {
  return source == kStdinName && !platform::FileExists(source);
}

// The list -t looks a value up in: the offered types of one length in alphabetical order,
// separated by blanks ("DOC HLP HTM PDF PPT RTF XLS" and "DOCX PPTX XLSX").
const std::string& ForcibleTypes(std::size_t length) {
  static const std::array<std::string, 2> lists = [] {
    std::vector<std::string> types = OfferedTypes();
    std::sort(types.begin(), types.end());
    std::array<std::string, 2> out;
    for (const std::string& t : types) {
      if (t.size() == 3 || t.size() == 4) {
        std::string& list = out[t.size() - 3];
        list.append(list.empty() ? "" : " ").append(t);
      }
    }
    return out;
  }();
  return lists[length - 3];
}

std::string Quoted(std::string_view prefix, std::string_view name, std::string_view suffix) {
  std::string text;
  text.reserve(prefix.size() + name.size() + suffix.size() + 2);
  text.append(prefix).append("\"").append(name).append("\"").append(suffix);
  return text;
}

// The message a negative extractor result prints, and the run result it becomes.
std::int32_t ReportExtractorFailure(std::int32_t code, std::string_view source) {
  switch (code) {
  case kResultLibraryMissing:
    PrintMessage("Convert dll file load error");
    return kResultLibraryMissing;
  case kResultOpenError:
    PrintMessage(Quoted("Input file ", source, " open error"));
    return kResultOpenError;
  case kResultEncrypted:
    PrintMessage(Quoted("Input file ", source, " is encrypted"));
    return kResultEncrypted;
  default:
    PrintMessage(Quoted("Input file ", source, " format not correct"));
    return kResultBadFormat;
  }
}

} // namespace

void PrintMessage(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append(kCrLf);
  platform::WriteAllToDescriptor(1,
                                 {reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
}

void ParseFlag(std::string_view argument, TRunSettings& settings) {
  settings.ArgumentsInvalid = true;
  // The one long option; every other "--" spelling stays a rejected command line.
  if (argument == "--all-text") {
    settings.AllText = true;
    settings.ArgumentsInvalid = false;
    return;
  }
  if (argument.size() == 2) {
    if (argument[0] == '-' && AsciiUpper(argument[1]) == 'O') {
      settings.OverwriteFlag = true;
      settings.ArgumentsInvalid = false;
    }
    return;
  }
  if (argument.size() < 2 || argument[0] != '-') {
    return;
  }
  const char letter = AsciiUpper(argument[1]);
  if (letter == 'T') {
    // A substring test on purpose: "C H" spans a blank of the list and passes here; the
    // driver then reports the type as not supported.
    if (argument.size() != 5 && argument.size() != 6) {
      return;
    }
    const std::string& list = ForcibleTypes(argument.size() - 2);
    const std::string value = AsciiUpper(argument.substr(2));
    if (list.find(value) != std::string_view::npos) {
      settings.ForcedType = value;
      settings.ArgumentsInvalid = false;
    }
  } else if (letter == 'C') {
    // A code page the conversions cannot serve is refused here, before any file is touched,
    // instead of ending in an empty text reported as success. 0 keeps the locale's default.
    std::int32_t value = 0;
    if (platform::TryStrToInt(argument.substr(2), value) &&
        (value == 0 || platform::IsCodePageUsable(value))) {
      settings.TargetCodePage = value;
      settings.ArgumentsInvalid = false;
    }
  } else if (letter == 'S') {
    // Only the third character is read: one decimal digit, the rest is ignored.
    std::int32_t value = 0;
    if (platform::TryStrToInt(argument.substr(2, 1), value)) {
      settings.SpecialFormat = value;
      settings.ArgumentsInvalid = false;
    }
  }
}

std::string UsageText(std::string_view programFileName) {
  std::string text;
  text.append("Scrivon Command Version 3.0").append(kCrLf);
  text.append(kCrLf);
  text.append("Usage: ").append(programFileName).append(" [-o] [-c99999]");
  text.append(" [-t(");
  for (const std::string& type : OfferedTypes()) {
    text.append(text.back() == '(' ? "" : "|").append(AsciiLower(type));
  }
  text.append(")] [-s9]");
  text.append(" <Source File> <Destination Text File>").append(kCrLf);
  text.append("Flag \"-o\": If output file exists then overwrite it.").append(kCrLf);
  text.append("Flag \"-c\": Specify the code page identifier for output text file. (Default is "
              "system's code page)")
      .append(kCrLf);
  text.append("Flag \"-t\": Force ")
      .append("Scrivon")
      .append(" use a particular type of extractor, without this flag, ")
      .append("Scrivon")
      .append(" is using the file extension to determine which text extractor to use.")
      .append(kCrLf);
  text.append("Flag \"-s\": Specify output text file special format.").append(kCrLf);
  text.append("    PDF: s0: Reading order; s1: Original layout(default); s2: Raw order")
      .append(kCrLf);
  text.append("    DOC: s0: Not keep raw characters(default); s1: Keep raw characters")
      .append(kCrLf);
  text.append("If <Destination Text File> is \"*\", the text output NOT to a file but instead to "
              "standard output.")
      .append(kCrLf);
  text.append(kCrLf);
  text.append("Read ").append("Scrivon").append(" help to get more details about command usage.");
  return text;
}

std::string TypeTextOf(std::string_view source) {
  const std::string path(source);
  std::string text(scv_type_of(path.c_str(), nullptr, 0) + 1, '\0');
  text.resize(scv_type_of(path.c_str(), text.data(), text.size()));
  return text;
}

std::int32_t ConvertFile(std::string_view source, std::string_view destination, bool overwrite,
                         std::string_view forcedType, TRunSettings& settings) {
  const bool fromStdin = IsStandardInput(source);
  if (!fromStdin && !platform::FileExists(source)) {
    PrintMessage(Quoted("Input file ", source, " not exists"));
    return kResultNotFound;
  }
  const bool toStdout = destination == kStdoutName;
  if (!toStdout && platform::FileExists(destination) && !overwrite) {
    PrintMessage(Quoted("Output file ", destination, " already exists, convert canceled"));
    return kResultExists;
  }
  const std::string typeText = forcedType.empty() ? TypeTextOf(source) : std::string(forcedType);
  // A target code page of 0 becomes the locale's default inside the conversion call, once.

  // From here on the process reads only the source and what the libraries need, and writes no
  // file: a file destination is placed by a writer process started first, outside the rules.
  sandbox::TDestinationWriter writer;
  if (settings.Confine) {
    const bool fileRules =
        toStdout || (sandbox::Available().landlock && writer.Start(destination, overwrite));
    sandbox::ConfineConversion(fromStdin ? std::string_view() : source, fileRules);
  }

  const std::uint32_t flags = settings.AllText ? SCV_ALL_TEXT : 0u;
  unsigned char* text = nullptr;
  std::size_t length = 0;
  std::int32_t r = SCV_E_TYPE_NOT_SUPPORTED;
  if (!fromStdin) {
    r = scv_convert_file_ex(std::string(source).c_str(), typeText.c_str(), settings.TargetCodePage,
                            settings.SpecialFormat, flags, &text, &length);
  } else if (IsOfferedType(typeText)) {
    // Standard input has no extension: only -t names its type, and nothing is read without it.
    std::vector<std::uint8_t> document;
    r = platform::ReadAllFromDescriptor(0, document)
            ? scv_convert_memory_ex(document.data(), document.size(), typeText.c_str(),
                                    settings.TargetCodePage, settings.SpecialFormat, flags, &text,
                                    &length)
            : SCV_E_OPEN;
  }
  const std::unique_ptr<unsigned char, decltype(&scv_free)> owner(text, &scv_free);
  if (r == SCV_E_TYPE_NOT_SUPPORTED) {
    PrintMessage(Quoted("Input file ", source, " type not support"));
    return kResultTypeNotSupported;
  }
  if (r == SCV_E_NOT_FOUND) { // vanished since the check above
    PrintMessage(Quoted("Input file ", source, " not exists"));
    return kResultNotFound;
  }
  if (r < 0) {
    return ReportExtractorFailure(r, source);
  }

  const std::span<const std::uint8_t> bytes(text, length);
  if (toStdout) {
    // One large write instead of a write and flush per byte: the same bytes, and a failed
    // write (a full disk, a closed pipe) is reported instead of passing as success.
    if (!platform::WriteAllToDescriptor(1, bytes)) {
      PrintMessage(Quoted("Output file ", destination, " write error"));
      return kResultWriteError;
    }
    return kResultOk;
  }
  // The text reaches the destination whole or not at all: a full disk or a file-size limit
  // leaves no truncated file that a later run would take for a finished one.
  switch (writer.Started() ? writer.Write(bytes)
                           : platform::WriteFileAtomically(destination, bytes, overwrite)) {
  case platform::TPlaceResult::kWritten:
    break;
  case platform::TPlaceResult::kExists: // appeared while the document was converted
    PrintMessage(Quoted("Output file ", destination, " already exists, convert canceled"));
    return kResultExists;
  case platform::TPlaceResult::kCreateFailed:
    PrintMessage(Quoted("Output file ", destination, " create error"));
    return kResultCreateError;
  case platform::TPlaceResult::kWriteFailed:
    PrintMessage(Quoted("Output file ", destination, " write error"));
    return kResultWriteError;
  }
  std::string ok;
  ok.append("\"").append(source).append("\" --> \"").append(destination).append("\" OK");
  PrintMessage(ok);
  return kResultOk;
}

std::int32_t RunProgram(int argc, char** argv) {
  const std::span<char*> args(argv, static_cast<std::size_t>(argc));
  if (argc == 2 && std::string_view(args[1]) == "--version") {
    PrintMessage(std::string("scvcmd ").append(scv_version()));
    // The protections a conversion gets on this system (the sandbox module).
    PrintMessage(std::string("sandbox: ")
                     .append(sandbox::Describe(sandbox::Available(), sandbox::SwitchedOff())));
    return kResultOk;
  }
  // A closed pipe on standard output and a file-size limit show as a failed write (-7), not as
  // a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Module initialisation (the locale from the environment first): the converter libraries are
  // loaded before the program body runs.
  scv_initialize();

  TRunSettings settings;
  settings.Confine = true;
  const int n = argc - 1;
  settings.ArgumentsInvalid = n != 2;
  if (n >= 3) {
    for (int i = 1; i <= n - 2; ++i) {
      ParseFlag(args[static_cast<std::size_t>(i)], settings);
      if (settings.ArgumentsInvalid) {
        break;
      }
    }
  }

  std::int32_t runResult;
  if (settings.ArgumentsInvalid) {
    std::string programPath;
    {
      std::array<char, 4096> buf{};
      const ssize_t len = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
      programPath = len > 0 ? std::string(buf.data(), static_cast<std::size_t>(len)) : "scvcmd";
    }
    const auto slash = programPath.rfind('/');
    PrintMessage(
        UsageText(slash == std::string::npos ? programPath : programPath.substr(slash + 1)));
    runResult = kResultUsage;
  } else {
    runResult =
        ConvertFile(args[static_cast<std::size_t>(n - 1)], args[static_cast<std::size_t>(n)],
                    settings.OverwriteFlag, settings.ForcedType, settings);
  }

  // Module finalisation, in the reverse order.
  scv_finalize();
  return runResult;
}

} // namespace scv::frontend
