// A tiny command language for the test converter libraries: the input file is a script that
// tells the library what to do, so one library can play every part the bridge must handle.
//
// One command per line (LF or CR LF):
//   piece <text>      deliver <text> as one piece; \r \n \t \\ and \xHH escapes
//   big <n> <c>       deliver n bytes of the character c, in pieces as large as allowed
//   fail              the next read fails
//   negative          the next read succeeds with a count of -7
//   overcount         the next read fills the buffer and reports twice its capacity
//   create-fail       CreateConverter fails
//   probe             deliver a report of every host callback's behaviour
//   capacity          deliver "cap=<capacity>"
//   kind              deliver the library's kind: htm, hlp or rtf
//   args              (PDF) deliver the arguments the library received
//   sink-empty        (PDF) call the sink with counts 0 and -5
//   result <n>        (PDF) return n
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace scv::test::fake {

struct TCommand {
  std::string verb;
  std::string text; // unescaped argument
};

inline int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

inline std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out.push_back(s[i]);
      continue;
    }
    const char e = s[++i];
    if (e == 'r') {
      out.push_back('\r');
    } else if (e == 'n') {
      out.push_back('\n');
    } else if (e == 't') {
      out.push_back('\t');
    } else if (e == 'x' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(e);
    }
  }
  return out;
}

inline std::vector<TCommand> ParseScript(std::string_view script) {
  std::vector<TCommand> commands;
  std::size_t pos = 0;
  while (pos < script.size()) {
    std::size_t end = script.find('\n', pos);
    if (end == std::string_view::npos) {
      end = script.size();
    }
    std::string_view line = script.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    const std::size_t space = line.find(' ');
    TCommand c;
    c.verb = std::string(line.substr(0, space));
    if (space != std::string_view::npos) {
      c.text = Unescape(line.substr(space + 1));
    }
    commands.push_back(std::move(c));
  }
  return commands;
}

} // namespace scv::test::fake
