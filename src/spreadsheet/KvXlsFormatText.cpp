// Tokens and sections of number format texts.
#include "spreadsheet/KvXlsFormatText.h"

namespace scv::spreadsheet {

namespace {

// Length of the UTF-8 sequence led by byte b (1 for bytes that lead none), cut to what is left.
std::size_t CharLength(std::string_view s, std::size_t pos) {
  const auto b = static_cast<unsigned char>(s[pos]);
  const std::size_t n = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  return n < s.size() - pos ? n : s.size() - pos;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Characters the date renderer copies as they are: everything but letters, the separators
// "/" and ":", quotes, "\\" and "[".
bool IsRendererLiteral(char c) {
  const char l = Lower(c);
  return !(l >= 'a' && l <= 'z') && c != '/' && c != ':' && c != '"' && c != '\'' && c != '\\' &&
         c != '[';
}

bool StartsWithNoCase(std::string_view s, std::size_t pos, std::string_view what) {
  if (s.size() - pos < what.size()) {
    return false;
  }
  for (std::size_t i = 0; i < what.size(); ++i) {
    if (Lower(s[pos + i]) != what[i]) {
      return false;
    }
  }
  return true;
}

} // namespace

TFormatToken NextFormatToken(std::string_view f, std::size_t& pos) {
  const char c = f[pos];
  TFormatToken token;
  switch (c) {
  case '"': {
    const std::size_t close = f.find('"', pos + 1);
    const std::size_t end = close == std::string_view::npos ? f.size() : close;
    token.kind = TFormatToken::kQuoted;
    token.text = f.substr(pos + 1, end - pos - 1);
    pos = close == std::string_view::npos ? f.size() : close + 1;
    return token;
  }
  case '\\':
  case '_':
  case '*': {
    token.kind = c == '\\'  ? TFormatToken::kEscaped
                 : c == '_' ? TFormatToken::kPad
                            : TFormatToken::kFill;
    ++pos;
    if (pos < f.size()) {
      const std::size_t n = CharLength(f, pos);
      token.text = f.substr(pos, n);
      pos += n;
    }
    return token;
  }
  case '[': {
    const std::size_t close = f.find(']', pos + 1);
    if (close == std::string_view::npos) {
      token.kind = TFormatToken::kBadBracket;
      token.text = f.substr(pos + 1);
      pos = f.size();
      return token;
    }
    token.kind = TFormatToken::kBracket;
    token.text = f.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return token;
  }
  default: {
    const std::size_t n = CharLength(f, pos);
    token.text = f.substr(pos, n);
    pos += n;
    return token;
  }
  }
}

std::vector<std::string_view> SplitFormatSections(std::string_view f) {
  std::vector<std::string_view> sections;
  std::size_t start = 0;
  std::size_t pos = 0;
  while (pos < f.size()) {
    const std::size_t at = pos;
    const TFormatToken t = NextFormatToken(f, pos);
    if (t.kind == TFormatToken::kChar && t.text == ";") {
      sections.push_back(f.substr(start, at - start));
      start = pos;
    }
  }
  sections.push_back(f.substr(start));
  return sections;
}

bool IsElapsedBracket(std::string_view content) {
  if (content.empty()) {
    return false;
  }
  const char first = Lower(content[0]);
  if (first != 'h' && first != 'm' && first != 's') {
    return false;
  }
  for (const char c : content) {
    if (Lower(c) != first) {
      return false;
    }
  }
  return true;
}

bool IsDateSection(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t at = pos;
    const TFormatToken t = NextFormatToken(s, pos);
    if (t.kind == TFormatToken::kBracket && IsElapsedBracket(t.text)) {
      return true;
    }
    if (t.kind != TFormatToken::kChar || t.text.size() != 1) {
      continue;
    }
    switch (Lower(t.text[0])) {
    case 'y':
    case 'm':
    case 'd':
    case 'h':
    case 's':
    case 'g':
      return true;
    case 'e':
      if (at + 1 >= s.size() || (s[at + 1] != '+' && s[at + 1] != '-')) {
        return true;
      }
      break;
    case 'a':
      if (StartsWithNoCase(s, at, "am/pm") || StartsWithNoCase(s, at, "a/p") ||
          StartsWithNoCase(s, at, "aaa")) {
        return true;
      }
      break;
    default:
      break;
    }
  }
  return false;
}

std::string DateSectionText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    const TFormatToken t = NextFormatToken(s, pos);
    switch (t.kind) {
    case TFormatToken::kQuoted:
      out += '"';
      out += t.text;
      out += '"';
      break;
    case TFormatToken::kEscaped:
      // Only a character the renderer would read as a token needs its escape.
      if (t.text.size() == 1 && !IsRendererLiteral(t.text[0])) {
        out += '\\';
      }
      out += t.text;
      break;
    case TFormatToken::kPad:
      out += ' ';
      break;
    case TFormatToken::kFill:
    case TFormatToken::kBadBracket:
      break;
    case TFormatToken::kBracket:
      if (IsElapsedBracket(t.text)) {
        out += '[';
        out += t.text;
        out += ']';
      } else if (!t.text.empty() && t.text[0] == '$') {
        // [$sym-lcid]: the currency symbol shows, the locale id does not.
        const std::string_view symbol = t.text.substr(1, t.text.find('-') - 1);
        for (std::size_t i = 0; i < symbol.size();) {
          const std::size_t n = CharLength(symbol, i);
          out += '\\';
          out += symbol.substr(i, n);
          i += n;
        }
      }
      break;
    case TFormatToken::kChar:
      if (t.text == "@") {
        break;
      }
      if (t.text == "'") {
        out += '\\';
      }
      out += t.text;
      break;
    }
  }
  return out;
}

} // namespace scv::spreadsheet
