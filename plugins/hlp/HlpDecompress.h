// Decompressors of help files: the LZ77 variant of topic blocks and phrase tables, and the
// phrase substitution of topic text (the old phrase table and Hall-coded phrases).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scv::hlp {

// Expands LZ77 data into at most maxOut bytes. A back reference that reaches before the start
// of the output ends the expansion (the bytes so far are kept).
std::vector<std::uint8_t> ExpandLz77(std::span<const std::uint8_t> in, std::size_t maxOut);

// Phrases of a help file, indexed by phrase number.
class TPhraseTable {
public:
  enum class TKind : std::uint8_t {
    kNone, // no phrase compression
    kOld,  // the |Phrases table: bytes 1 to 15 start a two-byte phrase reference
    kHall, // |PhrIndex and |PhrImage: Hall-coded text
  };

  TPhraseTable() = default;
  TPhraseTable(TKind kind, std::vector<std::string> phrases)
      : kind_(kind), phrases_(std::move(phrases)) {}

  TKind Kind() const { return kind_; }
  std::size_t Count() const { return phrases_.size(); }

  // Expands phrase-compressed text to at most maxOut bytes.
  std::string Expand(std::span<const std::uint8_t> in, std::size_t maxOut) const;

private:
  void Append(std::string& out, std::size_t index, std::size_t maxOut) const;

  TKind kind_ = TKind::kNone;
  std::vector<std::string> phrases_;
};

// Reads the old phrase table (|Phrases). compressed: the phrase texts are LZ77 compressed and
// the header carries their expanded size (help compilers from 3.1 on).
TPhraseTable ReadOldPhrases(std::span<const std::uint8_t> file, bool compressed);

// Reads Hall-coded phrases from |PhrIndex (lengths) and |PhrImage (texts).
TPhraseTable ReadHallPhrases(std::span<const std::uint8_t> index,
                             std::span<const std::uint8_t> image);

} // namespace scv::hlp
