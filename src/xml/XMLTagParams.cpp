// Attributes of a tag as the XML reader keeps them: the line list, the splitting of a tag
// text into lines and the look-ups by name.
#include "xml/XMLTagParams.h"

#include "xml/XMLEntities.h"
#include "xml/XMLScan.h"

#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace scv::xml {

std::string& TParamList::Slot(std::size_t i) {
  if (i >= lines_.size()) {
    lines_.resize(i + 1);
  }
  return lines_[i];
}

void TParamList::Add(std::string_view line) {
  Slot(count_).assign(line);
  ++count_;
}

void TParamList::Delete(std::size_t i) {
  if (i >= count_) {
    return;
  }
  // Rotate the removed line's storage behind the live lines.
  std::rotate(lines_.begin() + static_cast<std::ptrdiff_t>(i),
              lines_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
              lines_.begin() + static_cast<std::ptrdiff_t>(count_));
  --count_;
}

bool TParamList::operator==(const TParamList& other) const {
  if (count_ != other.count_) {
    return false;
  }
  for (std::size_t i = 0; i < count_; ++i) {
    if (lines_[i] != other.lines_[i]) {
      return false;
    }
  }
  return true;
}

std::string_view TParamList::NameAt(std::size_t i) const {
  const std::string_view line = lines_[i];
  const std::size_t eq = Find(line, '=');
  return eq == std::string_view::npos ? std::string_view{} : line.substr(0, eq);
}

std::ptrdiff_t TParamList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const std::string_view line = lines_[i];
    if (line.size() > name.size() && line[name.size()] == '=' &&
        SameTextAscii(line.substr(0, name.size()), name) &&
        Find(line.substr(0, name.size()), '=') == std::string_view::npos) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::ptrdiff_t TParamList::IndexOf(std::string_view line) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (SameTextAscii(lines_[i], line)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::string_view TParamList::Value(std::string_view name) const {
  const std::ptrdiff_t i = IndexOfName(name);
  if (i < 0) {
    return {};
  }
  return std::string_view(lines_[static_cast<std::size_t>(i)]).substr(name.size() + 1);
}

void TParamList::SetValue(std::string_view name, std::string_view value) {
  const std::ptrdiff_t i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) {
      Delete(static_cast<std::size_t>(i));
    }
    return;
  }
  // name and value may point into the list itself: build the line aside.
  scratch_.clear();
  scratch_.append(name).append("=").append(value);
  if (i < 0) {
    Slot(count_).swap(scratch_);
    ++count_;
  } else {
    lines_[static_cast<std::size_t>(i)].swap(scratch_);
  }
}

// Line splitting in general: spaces outside double quotes turn into line breaks (the last
// character is never examined); the result splits into lines at CR, LF or CR LF, and a zero
// byte ends it.
void SplitParamLines(std::string_view text, TParamList& params) {
  std::string* line = nullptr;
  bool quoted = false;
  bool afterCr = false;
  const auto endLine = [&] {
    if (line == nullptr) {
      params.Slot(params.count_).clear();
    }
    ++params.count_;
    line = nullptr;
  };
  const auto put = [&](char v) {
    if (afterCr) {
      afterCr = false;
      if (v == '\n') {
        return;
      }
    }
    if (v == '\r') {
      endLine();
      afterCr = true;
    } else if (v == '\n') {
      endLine();
    } else {
      if (line == nullptr) {
        line = &params.Slot(params.count_);
        line->clear();
      }
      *line += v;
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') {
      break;
    }
    if (i + 1 < text.size()) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ' ' && !quoted) {
        put('\r');
        put('\n');
        continue;
      }
    }
    put(c);
  }
  if (line != nullptr) {
    ++params.count_;
  }
}

// When every line has an "=" and no name repeats (ignoring case), each look-up by name finds
// the line itself, so the lines are processed in place. False (nothing changed) otherwise.
bool ProcessDistinctParams(TParamList& params) {
  constexpr std::size_t kPairwise = 16;
  const std::size_t n = params.Count();
  std::size_t smallEqs[kPairwise];
  std::vector<std::size_t> largeEqs;
  if (n > kPairwise) {
    largeEqs.resize(n);
  }
  const std::span<std::size_t> eqs =
      n > kPairwise ? std::span<std::size_t>(largeEqs) : std::span<std::size_t>(smallEqs, n);
  // Short lists compare every pair of names; long ones go through a set of case-folded names,
  // so that a tag with thousands of attributes costs time in proportion to its length.
  std::unordered_set<std::string> folded;
  for (std::size_t i = 0; i < n; ++i) {
    eqs[i] = Find(params[i], '=');
    if (eqs[i] == std::string::npos) {
      return false;
    }
    if (n > kPairwise) {
      std::string name = params[i].substr(0, eqs[i]);
      for (char& c : name) {
        c = static_cast<char>(kFold[UByte(c)]);
      }
      if (!folded.insert(std::move(name)).second) {
        return false;
      }
      continue;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (eqs[j] == eqs[i] && SameTextAscii(std::string_view(params[i]).substr(0, eqs[i]),
                                            std::string_view(params[j]).substr(0, eqs[j]))) {
        return false;
      }
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::string& line = params.Slot(i);
    const std::size_t eq = eqs[i];
    if (line.size() - eq - 1 > 2) {
      if (line[eq + 1] == '"') {
        line.erase(eq + 1, 1);
      }
      if (line.back() == '"') {
        line.pop_back();
      }
    }
    const std::string_view value = std::string_view(line).substr(eq + 1);
    if (FindEntityStart(value, 0) != std::string_view::npos) {
      if (DecodeEntitiesInto(value, params.scratch_)) {
        line.resize(eq + 1);
        line += params.scratch_;
      }
    }
    if (line.size() == eq + 1) {
      continue; // an empty value removes its line
    }
    if (kept != i) {
      params.Slot(kept).swap(line);
    }
    ++kept;
  }
  params.count_ = kept;
  return true;
}

void ParseTagParams(std::string_view tag, TParamList& params) {
  params.Clear();
  const std::size_t space = Find(tag, ' ');
  if (space == std::string_view::npos) {
    return;
  }
  std::size_t stop = Find(tag, '>', space + 1);
  if (stop == std::string_view::npos) {
    stop = tag.size();
  }
  if (stop > space + 1 && tag[stop - 1] == '/') {
    --stop;
  }
  const std::string_view text =
      stop > space + 1 ? tag.substr(space + 1, stop - space - 1) : std::string_view{};
  bool plain = true;
  for (const char c : text) {
    if (c == '\r' || c == '\n' || c == '\0') {
      plain = false;
      break;
    }
  }
  if (plain) {
    // Without line ends or zero bytes the lines are the pieces between the spaces that stand
    // outside quotes (the last character never splits).
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ' ' && !quoted) {
        params.Slot(params.count_++).assign(text.substr(start, i - start));
        start = i + 1;
      }
    }
    if (!text.empty()) {
      params.Slot(params.count_++).assign(text.substr(start));
    }
  } else {
    SplitParamLines(text, params);
  }
  if (ProcessDistinctParams(params)) {
    return;
  }
  // Every original entry is processed once, by name: its value is taken from the first line
  // with that name, processed, and stored back into that line; an empty value deletes it.
  // The line found always stands at or before the entry being processed, so entry k is
  // always original line k. Lines are found through an index of case-folded names, and
  // deleted lines are only marked until the end, so a tag with many attributes costs time
  // in proportion to its length.
  const std::size_t n = params.Count();
  struct TNameLines {
    std::vector<std::size_t> lines; // original positions of lines with this name and an "="
    std::size_t next = 0;           // first of them that may still be live
  };
  std::unordered_map<std::string, TNameLines> byName;
  std::vector<std::uint8_t> dead(n, 0);
  const auto fold = [](std::string_view name) {
    std::string key(name);
    for (char& c : key) {
      c = static_cast<char>(kFold[UByte(c)]);
    }
    return key;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t eq = Find(params[i], '=');
    if (eq != std::string::npos) {
      byName[fold(std::string_view(params[i]).substr(0, eq))].lines.push_back(i);
    }
  }
  std::string value;
  std::string decoded;
  for (std::size_t k = 0; k < n; ++k) {
    const std::string name(params.NameAt(k));
    std::size_t found = std::string::npos;
    TNameLines* entry = nullptr;
    if (const auto it = byName.find(fold(name)); it != byName.end()) {
      entry = &it->second;
      while (entry->next < entry->lines.size() && dead[entry->lines[entry->next]] != 0) {
        ++entry->next;
      }
      if (entry->next < entry->lines.size()) {
        found = entry->lines[entry->next];
      }
    }
    value.clear();
    if (found != std::string::npos) {
      value.assign(std::string_view(params[found]).substr(name.size() + 1));
    }
    if (value.size() > 2) {
      if (value.front() == '"') {
        value.erase(0, 1);
      }
      if (!value.empty() && value.back() == '"') {
        value.pop_back();
      }
    }
    if (DecodeEntitiesInto(value, decoded)) {
      value.swap(decoded);
    }
    if (found == std::string::npos) {
      continue; // nothing to store: an absent name only ever gets an empty value here
    }
    if (value.empty()) {
      dead[found] = 1;
    } else {
      std::string& line = params.Slot(found);
      line.assign(name).append("=").append(value);
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (dead[i] == 0) {
      if (kept != i) {
        params.Slot(kept).swap(params.Slot(i));
      }
      ++kept;
    }
  }
  params.count_ = kept;
}

bool PreservesSpace(const TParamList& params) {
  return params.IndexOf("xml:space=preserve") >= 0;
}

} // namespace scv::xml
