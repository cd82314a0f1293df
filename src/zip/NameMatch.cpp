// Case folding and wildcard matching of entry names.
#include "zip/NameMatch.h"

#include "platform/CodePage.h"

#include <cstdint>
#include <vector>

namespace scv::zip {
namespace {

// Decodes one UTF-8 character at `at`; a malformed byte stands for itself (as 0xDC00 + byte,
// so it can never equal a real character). Returns the character and advances `at`.
char32_t NextChar(std::string_view s, std::size_t& at) {
  const auto b0 = static_cast<unsigned char>(s[at]);
  if (b0 < 0x80) {
    ++at;
    return b0;
  }
  std::size_t need = 0;
  char32_t c = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    c = b0 & 0x07;
  } else {
    ++at;
    return 0xDC00 + b0;
  }
  if (need > s.size() - at - 1) {
    ++at;
    return 0xDC00 + b0;
  }
  for (std::size_t i = 1; i <= need; ++i) {
    const auto b = static_cast<unsigned char>(s[at + i]);
    if ((b & 0xC0) != 0x80) {
      ++at;
      return 0xDC00 + b0;
    }
    c = c << 6 | (b & 0x3F);
  }
  at += need + 1;
  return c;
}

char32_t FoldChar(char32_t c) {
  if (c >= 'A' && c <= 'Z') {
    return c + 0x20;
  }
  if (c == '/') {
    return '\\';
  }
  if (c < 0x80) {
    return c;
  }
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) {
    return c + 0x50;
  }
  // Latin Extended-A pairs capitals and small letters as even/odd, shifted by one in the two
  // runs 0x139-0x148 and 0x179-0x17E; 0x130, 0x131, 0x138 and 0x149 have no simple pair.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c & 1) == 0 ? c + 1 : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) == 1 ? c + 1 : c;
  }
  if (c == 0x178) {
    return 0xFF;
  }
  return c;
}

// A malformed byte (decoded as U+DC80 + byte) is written back as it was.
void AppendNameChar(std::string& out, char32_t c) {
  if (c >= 0xDC80 && c <= 0xDCFF) {
    out.push_back(static_cast<char>(c - 0xDC00));
  } else {
    platform::AppendUtf8(out, c);
  }
}

std::u32string Decode(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t at = 0; at < s.size();) {
    out.push_back(NextChar(s, at));
  }
  return out;
}

// One pattern element: a literal, "?", "*" or a set (index into the set list).
struct TElement {
  enum class TKind {
    kLiteral,
    kAny,
    kStar,
    kSet
  } kind = TKind::kLiteral;
  char32_t c = 0;
  std::size_t set = 0;
};

struct TCharSet {
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
  bool Contains(char32_t c) const {
    bool in = false;
    for (const auto& [lo, hi] : ranges) {
      in = in || (c >= lo && c <= hi);
    }
    return in != negated;
  }
};

} // namespace

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto b = static_cast<unsigned char>(name[at]);
    if (b < 0x80) { // the common case, without decoding
      out.push_back(static_cast<char>(FoldChar(b)));
      ++at;
      continue;
    }
    AppendNameChar(out, FoldChar(NextChar(name, at)));
  }
  return out;
}

bool HasWildcards(std::string_view pattern) {
  return pattern.find_first_of("*?<") != std::string_view::npos;
}

bool IsMatch(std::string_view pattern, std::string_view name) {
  const std::u32string p = Decode(pattern);
  const std::u32string n = Decode(name);
  std::vector<TElement> elements;
  std::vector<TCharSet> sets;
  for (std::size_t i = 0; i < p.size(); ++i) {
    TElement e;
    if (p[i] == U'*') {
      e.kind = TElement::TKind::kStar;
    } else if (p[i] == U'?') {
      e.kind = TElement::TKind::kAny;
    } else if (p[i] == U'<' && p.find(U'>', i + 1) != std::u32string::npos) {
      const std::size_t close = p.find(U'>', i + 1);
      TCharSet set;
      std::size_t k = i + 1;
      if (k < close && (p[k] == U'!' || p[k] == U'^')) {
        set.negated = true;
        ++k;
      }
      while (k < close) {
        if (k + 2 < close && p[k + 1] == U'-') {
          set.ranges.emplace_back(p[k], p[k + 2]);
          k += 3;
        } else {
          set.ranges.emplace_back(p[k], p[k]);
          ++k;
        }
      }
      e.kind = TElement::TKind::kSet;
      e.set = sets.size();
      sets.push_back(std::move(set));
      i = close;
    } else {
      e.c = p[i];
    }
    elements.push_back(e);
  }
  // Greedy match with one back-track point: the last "*" seen. Sound because every other
  // element matches exactly one character.
  std::size_t pi = 0;
  std::size_t ni = 0;
  std::size_t starP = std::u32string::npos;
  std::size_t starN = 0;
  while (ni < n.size()) {
    if (pi < elements.size()) {
      const TElement& e = elements[pi];
      if (e.kind == TElement::TKind::kStar) {
        starP = pi++;
        starN = ni;
        continue;
      }
      const bool one = e.kind == TElement::TKind::kAny ||
                       (e.kind == TElement::TKind::kLiteral && e.c == n[ni]) ||
                       (e.kind == TElement::TKind::kSet && sets[e.set].Contains(n[ni]));
      if (one) {
        ++pi;
        ++ni;
        continue;
      }
    }
    if (starP == std::u32string::npos) {
      return false;
    }
    pi = starP + 1;
    ni = ++starN;
  }
  while (pi < elements.size() && elements[pi].kind == TElement::TKind::kStar) {
    ++pi;
  }
  return pi == elements.size();
}

} // namespace scv::zip
