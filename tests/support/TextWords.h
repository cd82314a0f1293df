// The words of a text for comparing two conversions of one document word by word.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace scv::test {

// The words of a text, in order: runs between white space.
inline std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) {
    words.push_back(w);
  }
  return words;
}

} // namespace scv::test
