// Shared string table: the SST record and its CONTINUE records decoded into UTF-8 strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv::spreadsheet {

// Appends one UTF-16 code unit sequence as UTF-8. A surrogate pair is one character; a lone
// surrogate becomes U+FFFD.
void AppendUtf16AsUtf8(std::string& out, std::u16string_view text);

// One record body (the SST body or a CONTINUE body) with a read position starting at 0. The
// bytes are borrowed from the workbook stream.
struct TKvMemoryStream {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;

  std::size_t Size() const { return bytes.size(); }
  std::size_t Remaining() const { return bytes.size() - position; }
};

// The decoded strings, index = position in the SST. Held in one buffer with end offsets, so a
// large table costs two allocations rather than one per string.
class TSharedStrings {
public:
  std::size_t Count() const { return ends_.size(); }
  std::string_view At(std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
  }
  void Clear() {
    text_.clear();
    ends_.clear();
  }
  void Append(std::string_view s) {
    text_.append(s);
    Commit();
  }

  // The decoder writes a string's bytes to Pending() and then commits them as one entry, or
  // drops them.
  std::string& Pending() { return text_; }
  void Commit() { ends_.push_back(text_.size()); }
  void DropPending() { text_.resize(ends_.empty() ? 0 : ends_.back()); }
  void Reserve(std::size_t bytes, std::size_t count) {
    text_.reserve(bytes);
    ends_.reserve(count);
  }

private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

// SST header values.
struct TSstHeader {
  std::uint32_t cstTotal = 0;
  std::uint32_t cstUnique = 0;
};

// Decodes cstTotal, cstUnique and up to cstUnique XLUnicodeRichExtendedString entries from the
// first segment and then the segments of the list, in order. When the data runs out before
// cstUnique strings are decoded, the decoder stops and keeps the strings decoded so far (a
// string whose characters are incomplete is dropped). Returns true when all cstUnique strings
// were decoded with their formatting runs and extended blocks.
bool ReadSharedStrings(TKvMemoryStream first, std::span<const TKvMemoryStream> segments,
                       TSstHeader& header, TSharedStrings& strings);

} // namespace scv::spreadsheet
