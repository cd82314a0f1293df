// Attributes of a tag as the XML reader keeps them: an ordered list of name=value lines with
// look-ups that ignore case, and the splitting of a tag text into those lines.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

namespace detail {
constexpr std::array<bool, 256> MakePlainBytes(bool value) {
  std::array<bool, 256> t{};
  for (std::size_t i = 0; i < 256; ++i) {
    t[i] = true;
  }
  for (const unsigned char c : {'"', '&', '<', '\r', '\n', '\0'}) {
    t[c] = false;
  }
  if (!value) {
    t['='] = false;
    t[' '] = false;
  }
  return t;
}
} // namespace detail

// The plain form of attributes, which the compact tree reads straight (and a worksheet's cell
// scanner too): name="value" pairs one space apart, at most kMaxPlainParams, with no byte that
// needs decoding, no quote inside a value, no line end and no zero byte. The bytes that may
// stand in a name, and in a value:
inline constexpr std::array<bool, 256> kPlainName = detail::MakePlainBytes(false);
inline constexpr std::array<bool, 256> kPlainValue = detail::MakePlainBytes(true);
inline constexpr std::size_t kMaxPlainParams = 16;

// ASCII case-insensitive comparison (the reader's attribute and name look-ups). Inline: it
// runs for every attribute of every tag.
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const unsigned x = static_cast<unsigned char>(a[i]);
    const unsigned y = static_cast<unsigned char>(b[i]);
    // Equal, or the same letter in the other case.
    if (x != y && ((x | 0x20u) != (y | 0x20u) || (x | 0x20u) - 'a' > 'z' - 'a')) {
      return false;
    }
  }
  return true;
}

// An ordered list of text lines with name=value look-ups that ignore case: the form in which
// an element's attributes are kept. Lines removed or cleared keep their storage for reuse.
class TParamList {
public:
  TParamList() = default;
  TParamList(std::initializer_list<std::string_view> lines) {
    for (const std::string_view line : lines) {
      Add(line);
    }
  }
  std::size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  void Add(std::string_view line);
  void Delete(std::size_t i);
  void Clear() { count_ = 0; }

  // Name part of line i: before its first "=", empty when it has none.
  std::string_view NameAt(std::size_t i) const;
  // Index of the first line with an "=" whose name equals name (ignoring case), or -1.
  std::ptrdiff_t IndexOfName(std::string_view name) const;
  // Index of the first line equal to line (ignoring case), or -1.
  std::ptrdiff_t IndexOf(std::string_view line) const;
  // Value after "name=" of the first line with that name; empty when absent.
  std::string_view Value(std::string_view name) const;
  // A non-empty value replaces the named line (or adds one); an empty value deletes it.
  void SetValue(std::string_view name, std::string_view value);

  bool operator==(const TParamList& other) const;

private:
  friend void ParseTagParams(std::string_view tag, TParamList& params);
  friend void SplitParamLines(std::string_view text, TParamList& params);
  friend bool ProcessDistinctParams(TParamList& params);
  std::string& Slot(std::size_t i); // line i, growing the storage

  std::vector<std::string> lines_;
  std::size_t count_ = 0;
  std::string scratch_;
};

// Fills params from the attributes of a tag text, with every quirk of the reader: values
// split at spaces outside double quotes (the last character is never examined), one line per
// piece (empty ones included), quotes dropped from values longer than two characters, values
// decoded, empty values removing their line, and look-ups by name so that a repeated name
// processes the first line again and leaves the second as written.
void ParseTagParams(std::string_view tag, TParamList& params);

// Helpers of ParseTagParams.
void SplitParamLines(std::string_view text, TParamList& params);
bool ProcessDistinctParams(TParamList& params);

// The tag's attributes hold the line "xml:space=preserve" (ignoring case).
bool PreservesSpace(const TParamList& params);

} // namespace scv::xml
