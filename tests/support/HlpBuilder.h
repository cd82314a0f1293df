// Builds help files in memory for the WinHelp reader tests: the file header, a B+ tree
// directory (one leaf page, or several leaves under an index page), |SYSTEM, phrase tables
// and |TOPIC in any of the block layouts, with text records written command by command.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace scv::test {

using TBytes = std::string;

inline void PutU8(TBytes& b, unsigned v) {
  b.push_back(static_cast<char>(v & 0xFF));
}
inline void PutU16(TBytes& b, unsigned v) {
  PutU8(b, v);
  PutU8(b, v >> 8);
}
inline void PutU32(TBytes& b, std::uint32_t v) {
  PutU16(b, v & 0xFFFF);
  PutU16(b, v >> 16);
}

// LZ77 with literals only: a zero flag byte before every 8 bytes.
inline TBytes Lz77Literals(const TBytes& data) {
  TBytes out;
  for (std::size_t i = 0; i < data.size(); i += 8) {
    out.push_back('\0');
    out.append(data, i, 8);
  }
  return out;
}

// One text record (types 0x01, 0x20): strings and the commands that follow them.
class TTextRecord {
public:
  explicit TTextRecord(std::uint16_t paragraphBits = 0, const TBytes& paragraphFields = {}) {
    para_.push_back('\0');   // unknown
    para_.push_back('\x80'); // biased unknown
    PutU16(para_, 0);        // id
    PutU16(para_, paragraphBits);
    para_ += paragraphFields;
  }
  // Text, then a command (bytes of LinkData1) after it.
  TTextRecord& Then(const TBytes& text, const TBytes& command) {
    text_ += text;
    text_.push_back('\0');
    commands_ += command;
    return *this;
  }
  TTextRecord& Par(const TBytes& text) { return Then(text, "\x82"); }
  TTextRecord& End(const TBytes& text = {}) { return Then(text, "\xFF"); }

  // LinkData1 for the record type, and the plain LinkData2.
  TBytes Data1(std::uint8_t type) const {
    TBytes d;
    PutU16(d, 2 * 100); // compressed topic size, even: one word
    if (type != 0x01) {
      PutU8(d, 2 * 10); // compressed topic length, even: one byte
    }
    return d + para_ + commands_;
  }
  const TBytes& Data2() const { return text_; }

private:
  TBytes para_;
  TBytes commands_;
  TBytes text_;
};

struct TLink {
  std::uint8_t type = 0x20;
  TBytes data1;
  TBytes data2;           // as stored
  std::uint32_t dataLen2; // expanded size
};

inline TLink TopicHeaderLink(const TBytes& title) {
  TLink l;
  l.type = 0x02;
  l.data1.assign(28, '\0'); // TOPICHEADER fields; the text reader does not need them
  l.data2 = title + std::string(1, '\0');
  l.dataLen2 = static_cast<std::uint32_t>(l.data2.size());
  return l;
}

inline TLink TextLink(const TTextRecord& r, std::uint8_t type = 0x20) {
  TLink l;
  l.type = type;
  l.data1 = r.Data1(type);
  l.data2 = r.Data2();
  l.dataLen2 = static_cast<std::uint32_t>(l.data2.size());
  return l;
}

enum class TTopicLayout {
  kPlain4k, // 3.1 and later, not compressed, 4 KB blocks
  kLz4k,    // 3.1 and later, LZ77, 4 KB blocks (flags 4)
  kLz2k,    // 3.1 and later, LZ77, 2 KB blocks (flags 8)
  kWin30,   // 3.0: 2 KB blocks, raw positions
};

// The |TOPIC file for links laid out one after another.
inline TBytes BuildTopic(const std::vector<TLink>& links, TTopicLayout layout) {
  const bool win30 = layout == TTopicLayout::kWin30;
  const bool lz = layout == TTopicLayout::kLz4k || layout == TTopicLayout::kLz2k;
  const std::size_t blockSize =
      (layout == TTopicLayout::kPlain4k || layout == TTopicLayout::kLz4k) ? 4096 : 2048;
  // Bytes of the expanded stream carried per block. Literal LZ77 grows data by 9/8; a block
  // that is not the last is filled exactly, as help compilers do, since padding would expand
  // into stray bytes.
  const std::size_t room = blockSize - 12;
  const std::size_t perBlock = lz ? room / 9 * 8 + (room % 9 > 1 ? room % 9 - 1 : 0) : room;
  auto position = [&](std::size_t s) -> std::int64_t {
    const std::size_t block = s / perBlock;
    const std::size_t off = s % perBlock;
    return win30 ? static_cast<std::int64_t>(block * blockSize + 12 + off)
                 : static_cast<std::int64_t>(block * 0x4000 + 12 + off);
  };
  std::vector<std::size_t> starts;
  std::size_t s = 0;
  for (const auto& l : links) {
    starts.push_back(s);
    s += 21 + l.data1.size() + l.data2.size();
  }
  TBytes stream;
  for (std::size_t i = 0; i < links.size(); ++i) {
    const auto& l = links[i];
    const std::size_t size = 21 + l.data1.size() + l.data2.size();
    std::int32_t next = -1;
    if (i + 1 < links.size()) {
      next = static_cast<std::int32_t>(win30 ? position(starts[i + 1]) - position(starts[i])
                                             : position(starts[i + 1]));
    }
    PutU32(stream, static_cast<std::uint32_t>(size));
    PutU32(stream, l.dataLen2);
    PutU32(stream, 0xFFFFFFFF); // previous
    PutU32(stream, static_cast<std::uint32_t>(next));
    PutU32(stream, static_cast<std::uint32_t>(21 + l.data1.size()));
    PutU8(stream, l.type);
    stream += l.data1 + l.data2;
  }
  TBytes topic;
  std::size_t at = 0;
  do {
    TBytes block;
    PutU32(block, 0xFFFFFFFF);
    PutU32(block, 12);
    PutU32(block, 0);
    const TBytes chunk = stream.substr(at, perBlock);
    block += lz ? Lz77Literals(chunk) : chunk;
    at += perBlock;
    if (at < stream.size()) {
      block.resize(blockSize, '\0');
    }
    topic += block;
  } while (at < stream.size());
  return topic;
}

// |SYSTEM of a 3.1 or later file with optional extra records (type, data).
inline TBytes BuildSystem(std::uint16_t minor, std::uint16_t flags,
                          const std::vector<std::pair<std::uint16_t, TBytes>>& records = {}) {
  TBytes b;
  PutU16(b, 0x036C);
  PutU16(b, minor);
  PutU16(b, 1);
  PutU32(b, 0);
  PutU16(b, flags);
  if (minor <= 16) {
    b += "Old title";
    b.push_back('\0');
  }
  for (const auto& [type, data] : records) {
    PutU16(b, type);
    PutU16(b, static_cast<unsigned>(data.size()));
    b += data;
  }
  return b;
}

inline std::uint16_t FlagsFor(TTopicLayout layout) {
  return layout == TTopicLayout::kLz4k ? 4 : layout == TTopicLayout::kLz2k ? 8 : 0;
}

// The help file: internal files (name -> contents) and the directory. leafEntries > 0 spreads
// the directory over several leaf pages under one index page.
inline TBytes BuildHelpFile(const std::map<std::string, TBytes>& files, int leafEntries = 0) {
  TBytes out(16, '\0');
  std::map<std::string, std::uint32_t> offsets;
  for (const auto& [name, data] : files) {
    offsets[name] = static_cast<std::uint32_t>(out.size());
    PutU32(out, static_cast<std::uint32_t>(data.size() + 9));
    PutU32(out, static_cast<std::uint32_t>(data.size()));
    PutU8(out, 0);
    out += data;
  }
  const std::uint16_t pageSize = 1024;
  std::vector<TBytes> leaves;
  std::vector<std::string> firstNames;
  const int perLeaf = leafEntries > 0 ? leafEntries : 1000;
  int count = 0;
  for (const auto& [name, off] : offsets) {
    if (count % perLeaf == 0) {
      leaves.emplace_back();
      firstNames.push_back(name);
    }
    leaves.back() += name + std::string(1, '\0');
    PutU32(leaves.back(), off);
    ++count;
  }
  if (leaves.empty()) {
    leaves.emplace_back();
    firstNames.emplace_back();
  }
  const bool indexed = leaves.size() > 1;
  const int firstLeaf = indexed ? 1 : 0;
  std::vector<TBytes> pages;
  if (indexed) {
    TBytes index;
    PutU16(index, 0);
    PutU16(index, static_cast<unsigned>(leaves.size() - 1));
    PutU16(index, 1); // previous page: the first leaf
    for (std::size_t k = 1; k < leaves.size(); ++k) {
      index += firstNames[k] + std::string(1, '\0');
      PutU16(index, static_cast<unsigned>(k + 1));
    }
    index.resize(pageSize, '\0');
    pages.push_back(index);
  }
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    TBytes page;
    PutU16(page, 0);
    const int entries = static_cast<int>(
        k + 1 < leaves.size() ? perLeaf : (offsets.size() - k * static_cast<std::size_t>(perLeaf)));
    PutU16(page, static_cast<unsigned>(offsets.empty() ? 0 : entries));
    PutU16(page, k == 0 ? 0xFFFF : static_cast<unsigned>(firstLeaf + k - 1));
    PutU16(page, k + 1 < leaves.size() ? static_cast<unsigned>(firstLeaf + k + 1) : 0xFFFF);
    page += leaves[k];
    page.resize(pageSize, '\0');
    pages.push_back(page);
  }
  TBytes dir;
  PutU16(dir, 0x293B);
  PutU16(dir, 0x0402);
  PutU16(dir, pageSize);
  dir += std::string("z4") + std::string(14, '\0');
  PutU16(dir, 0);
  PutU16(dir, 0);
  PutU16(dir, 0); // root page
  PutU16(dir, 0xFFFF);
  PutU16(dir, static_cast<unsigned>(pages.size()));
  PutU16(dir, indexed ? 2 : 1);
  PutU32(dir, static_cast<std::uint32_t>(offsets.size()));
  for (const auto& p : pages) {
    dir += p;
  }
  const auto dirStart = static_cast<std::uint32_t>(out.size());
  PutU32(out, static_cast<std::uint32_t>(dir.size() + 9));
  PutU32(out, static_cast<std::uint32_t>(dir.size()));
  PutU8(out, 4);
  out += dir;
  TBytes header;
  PutU32(header, 0x00035F3F);
  PutU32(header, dirStart);
  PutU32(header, 0xFFFFFFFF);
  PutU32(header, static_cast<std::uint32_t>(out.size()));
  out.replace(0, 16, header);
  return out;
}

} // namespace scv::test
