// Decompressors of help files.
#include "hlp/HlpDecompress.h"

#include "hlp/HlpCompressed.h"

#include <algorithm>

namespace scv::hlp {
namespace {

// LZ77 window: 12-bit distances, lengths 3 to 18.
constexpr std::size_t kLzWindow = 4096;
// More phrases than a 16-bit phrase reference can address are never used.
constexpr std::uint32_t kMaxPhrases = 0x10000;
// LZ77 expands at most 18 bytes per 2 input bytes plus flag bytes; phrase tables larger than
// their compressed data allows are corrupt.
constexpr std::size_t kLzMaxRatio = 9;

} // namespace

std::vector<std::uint8_t> ExpandLz77(std::span<const std::uint8_t> in, std::size_t maxOut) {
  std::vector<std::uint8_t> out;
  out.reserve(std::min(maxOut, in.size() * kLzMaxRatio + 16));
  std::size_t i = 0;
  while (i < in.size() && out.size() < maxOut) {
    const std::uint8_t flags = in[i++];
    for (int bit = 0; bit < 8 && out.size() < maxOut; ++bit) {
      if ((flags & (1u << bit)) == 0) {
        if (i >= in.size()) {
          return out;
        }
        out.push_back(in[i++]);
        continue;
      }
      if (in.size() - i < 2) {
        return out;
      }
      const unsigned word = in[i] | in[i + 1] << 8;
      i += 2;
      const std::size_t distance = (word & 0x0FFF) + 1;
      std::size_t length = (word >> 12) + 3;
      if (distance > out.size() || distance > kLzWindow) {
        return out; // reaches before the start of the output
      }
      std::size_t from = out.size() - distance;
      while (length-- > 0 && out.size() < maxOut) {
        out.push_back(out[from++]); // overlapping copies repeat the pattern on purpose
      }
    }
  }
  return out;
}

void TPhraseTable::Append(std::string& out, std::size_t index, std::size_t maxOut) const {
  if (index >= phrases_.size()) {
    return; // a reference beyond the table carries no text
  }
  const std::string& p = phrases_[index];
  out.append(p, 0, std::min(p.size(), maxOut - out.size()));
}

std::string TPhraseTable::Expand(std::span<const std::uint8_t> in, std::size_t maxOut) const {
  std::string out;
  out.reserve(std::min(maxOut, in.size() * 4));
  std::size_t i = 0;
  while (i < in.size() && out.size() < maxOut) {
    const std::uint8_t ch = in[i++];
    if (kind_ == TKind::kOld) {
      if (ch == 0 || ch > 15) {
        out.push_back(static_cast<char>(ch));
        continue;
      }
      if (i >= in.size()) {
        break;
      }
      const std::size_t n = ch * 256u - 256u + in[i++];
      Append(out, n / 2, maxOut);
      if ((n & 1) != 0 && out.size() < maxOut) {
        out.push_back(' ');
      }
      continue;
    }
    // Hall coding: the low bits of each byte tell what it stands for.
    if ((ch & 1) == 0) {
      Append(out, ch / 2u, maxOut);
    } else if ((ch & 3) == 1) {
      if (i >= in.size()) {
        break;
      }
      Append(out, (ch >> 2) * 256u + 128u + in[i++], maxOut);
    } else if ((ch & 7) == 3) {
      const std::size_t n = std::min<std::size_t>(ch / 8u + 1, in.size() - i);
      const std::size_t room = std::min(n, maxOut - out.size());
      out.append(reinterpret_cast<const char*>(in.data() + i), room);
      i += n;
    } else if ((ch & 15) == 7) {
      out.append(std::min<std::size_t>(ch / 16u + 1, maxOut - out.size()), ' ');
    } else {
      out.append(std::min<std::size_t>(ch / 16u + 1, maxOut - out.size()), '\0');
    }
  }
  return out;
}

TPhraseTable ReadOldPhrases(std::span<const std::uint8_t> file, bool compressed) {
  bytes::TByteCursor cur(file);
  std::uint16_t count = cur.ReadU16();
  if (count == 0x0800 && file.size() >= 2 + 2 + 2 + 4 + 30) {
    // A variant with a leading 0x0800 and 30 unused header bytes.
    count = cur.ReadU16();
    cur.Skip(2);
    cur.Skip(4 + 30);
    compressed = true;
  } else {
    cur.Skip(2); // 0x0100
  }
  std::uint32_t expandedSize = 0;
  if (compressed) {
    expandedSize = cur.ReadU32();
  }
  if (!cur.Ok() || count == 0 || static_cast<std::size_t>(count) + 1 > cur.Remaining() / 2) {
    return {};
  }
  std::vector<std::uint32_t> offsets(static_cast<std::size_t>(count) + 1);
  for (auto& o : offsets) {
    o = cur.ReadU16();
  }
  const auto rest = file.subspan(cur.Offset());
  std::vector<std::uint8_t> expanded;
  if (compressed) {
    expanded =
        ExpandLz77(rest, std::min<std::size_t>(expandedSize, rest.size() * kLzMaxRatio + 16));
  } else {
    expanded.assign(rest.begin(), rest.end());
  }
  // Offsets count from the start of the offset array, whose size comes first.
  const std::uint32_t base = offsets[0];
  std::vector<std::string> phrases;
  phrases.reserve(count);
  // Phrases follow one another; an offset that steps back is corrupt and gives an empty phrase,
  // so the table never holds more bytes than the expanded text.
  std::uint32_t last = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t a = offsets[k] >= base ? offsets[k] - base : 0;
    const std::uint32_t b = offsets[k + 1] >= base ? offsets[k + 1] - base : 0;
    if (a < last || a >= b || a >= expanded.size()) {
      phrases.emplace_back();
      continue;
    }
    const std::size_t end = std::min<std::size_t>(b, expanded.size());
    last = b;
    phrases.emplace_back(reinterpret_cast<const char*>(std::span(expanded).subspan(a).data()),
                         end - a);
  }
  return TPhraseTable(TPhraseTable::TKind::kOld, std::move(phrases));
}

TPhraseTable ReadHallPhrases(std::span<const std::uint8_t> index,
                             std::span<const std::uint8_t> image) {
  bytes::TByteCursor cur(index);
  cur.ReadU32(); // magic 1
  const std::uint32_t entries = cur.ReadU32();
  cur.ReadU32(); // compressed size
  const std::uint32_t imageSize = cur.ReadU32();
  const std::uint32_t imageCompressedSize = cur.ReadU32();
  cur.ReadU32(); // 0
  const std::uint16_t bits = cur.ReadU16();
  cur.ReadU16();
  if (!cur.Ok() || entries == 0 || entries > kMaxPhrases) {
    return {};
  }
  const unsigned bitCount = bits & 0x0F;
  // Phrase lengths follow as a bit stream, least significant bit first in 32-bit words.
  const std::size_t bitBase = cur.Offset();
  const std::size_t totalBits = (index.size() - bitBase) / 4 * 32;
  std::size_t bitPos = 0;
  bool exhausted = false;
  auto getBit = [&]() -> bool {
    if (bitPos >= totalBits) {
      exhausted = true;
      return false;
    }
    const std::size_t word = bitBase + bitPos / 32 * 4;
    const std::uint32_t w = std::uint32_t{index[word]} | std::uint32_t{index[word + 1]} << 8 |
                            std::uint32_t{index[word + 2]} << 16 |
                            std::uint32_t{index[word + 3]} << 24;
    const bool b = ((w >> (bitPos % 32)) & 1u) != 0;
    ++bitPos;
    return b;
  };
  std::vector<std::size_t> offsets;
  offsets.reserve(entries + 1);
  offsets.push_back(0);
  for (std::uint32_t k = 0; k < entries && !exhausted; ++k) {
    std::size_t n = 1;
    while (getBit() && !exhausted) {
      n += std::size_t{1} << bitCount;
    }
    if (getBit()) {
      n += 1;
    }
    if (bitCount > 1 && getBit()) {
      n += 2;
    }
    if (bitCount > 2 && getBit()) {
      n += 4;
    }
    if (bitCount > 3 && getBit()) {
      n += 8;
    }
    if (bitCount > 4 && getBit()) {
      n += 16;
    }
    offsets.push_back(offsets.back() + n);
  }
  std::vector<std::uint8_t> text;
  if (imageCompressedSize != imageSize) {
    text = ExpandLz77(image, std::min<std::size_t>(imageSize, image.size() * kLzMaxRatio + 16));
  } else {
    text.assign(image.begin(), image.end());
  }
  std::vector<std::string> phrases;
  phrases.reserve(offsets.size() - 1);
  for (std::size_t k = 0; k + 1 < offsets.size(); ++k) {
    const std::size_t a = offsets[k];
    const std::size_t b = std::min(offsets[k + 1], text.size());
    if (a >= b) {
      phrases.emplace_back();
      continue;
    }
    phrases.emplace_back(reinterpret_cast<const char*>(std::span(text).subspan(a).data()), b - a);
  }
  return TPhraseTable(TPhraseTable::TKind::kHall, std::move(phrases));
}

} // namespace scv::hlp
