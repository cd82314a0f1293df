// WinHelp reader: |SYSTEM, phrase tables and the topic records of |TOPIC.
#include "hlp/HlpReader.h"

#include "common/Charsets.h"
#include "hlp/HlpCompressed.h"
#include "hlp/HlpDecompress.h"
#include "hlp/HlpFileSystem.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace scv::hlp {
namespace {

constexpr std::uint16_t kSystemMagic = 0x036C;
constexpr std::size_t kBlockHeaderSize = 12;
constexpr std::size_t kLinkHeaderSize = 21;
// A compressed topic block expands to at most 16 KB; topic positions count in that unit.
constexpr std::size_t kExpandedBlockSize = 0x4000;
// Bound for the expanded text of one record, far above what help compilers write.
constexpr std::size_t kMaxRecordText = 4u << 20;
// Phrase expansion of all records together may grow the topic data this many times (real
// files stay below 4); hostile phrase references cannot make the text grow beyond it.
constexpr std::size_t kMaxPhraseGrowth = 32;
constexpr std::size_t kMinPhraseBudget = 1u << 20;

// Topic record types.
constexpr std::uint8_t kTopicHeader = 0x02;
constexpr std::uint8_t kDisplay30 = 0x01;
constexpr std::uint8_t kDisplay = 0x20;
constexpr std::uint8_t kTable = 0x23;

// |SYSTEM record types used here.
constexpr std::uint16_t kSysLcid = 9;
constexpr std::uint16_t kSysCharset = 11;
constexpr std::uint16_t kSysDefFont = 12;

struct THlpSystem {
  std::uint16_t minor = 0;
  std::uint16_t flags = 0;
  std::int32_t codePage = 0;
};

std::int32_t CodePageOfCharset(std::uint32_t charset) {
  return plugin::WindowsCharsetCodePage(charset);
}

THlpSystem ReadSystem(std::span<const std::uint8_t> file) {
  bytes::TByteCursor cur(file);
  THlpSystem sys;
  const std::uint16_t magic = cur.ReadU16();
  sys.minor = cur.ReadU16();
  cur.ReadU16(); // major
  cur.ReadU32(); // generation date
  sys.flags = cur.ReadU16();
  if (!cur.Ok() || magic != kSystemMagic) {
    throw bytes::EFormatError("|SYSTEM", 0, cur.Ok() ? "wrong magic number" : cur.FailureText());
  }
  if (sys.minor <= 16) {
    return sys; // the title follows; 3.0 files name no character set
  }
  std::int32_t fromCharset = 0;
  std::int32_t fromLcid = 0;
  std::int32_t fromFont = 0;
  while (cur.Remaining() >= 4) {
    const std::uint16_t type = cur.ReadU16();
    const std::uint16_t size = cur.ReadU16();
    if (size > cur.Remaining()) {
      break;
    }
    bytes::TByteCursor rec(file.subspan(cur.Offset(), size));
    cur.Skip(size);
    switch (type) {
    case kSysCharset:
      fromCharset = CodePageOfCharset(rec.ReadU16());
      break;
    case kSysLcid:
      // The language identifier is the first non-zero 16-bit value of the record.
      while (rec.Remaining() >= 2 && fromLcid == 0) {
        if (const std::uint16_t lcid = rec.ReadU16(); lcid != 0) {
          fromLcid = CodePageOfLcid(lcid);
          break;
        }
      }
      break;
    case kSysDefFont:
      rec.ReadU8(); // height
      fromFont = CodePageOfCharset(rec.ReadU8());
      break;
    default:
      break;
    }
  }
  sys.codePage = fromCharset != 0 ? fromCharset : (fromLcid != 0 ? fromLcid : fromFont);
  return sys;
}

// The code page that the face names of |FONT imply: Windows names the national variants of
// its fonts with a suffix ("Arial CYR", "Times New Roman CE"). 0 when no name tells.
std::int32_t CodePageOfFaceNames(std::span<const std::uint8_t> file) {
  bytes::TByteCursor cur(file);
  const std::uint16_t names = cur.ReadU16();
  cur.ReadU16(); // descriptors
  const std::uint16_t namesOffset = cur.ReadU16();
  const std::uint16_t descriptorsOffset = cur.ReadU16();
  if (!cur.Ok() || names == 0 || descriptorsOffset <= namesOffset ||
      descriptorsOffset > file.size()) {
    return 0;
  }
  const std::size_t width = (descriptorsOffset - namesOffset) / names;
  struct TSuffix {
    std::string_view text;
    std::int32_t codePage;
  };
  static constexpr TSuffix kSuffixes[] = {
      {" CYR", 1251},    {" CE", 1250},      {" Greek", 1253},   {" Tur", 1254},
      {" Baltic", 1257}, {"(Hebrew)", 1255}, {"(Arabic)", 1256}, {" Thai", 874},
  };
  for (std::size_t k = 0; k < names && width > 0; ++k) {
    const std::size_t start = namesOffset + k * width;
    if (start + width > descriptorsOffset) {
      break;
    }
    std::string_view name(reinterpret_cast<const char*>(file.data() + start), width);
    name = name.substr(0, std::min(name.find('\0'), name.size()));
    for (const auto& suffix : kSuffixes) {
      if (name.size() > suffix.text.size() &&
          name.substr(name.size() - suffix.text.size()) == suffix.text) {
        return suffix.codePage;
      }
    }
  }
  return 0;
}

class TTopicWalker {
public:
  TTopicWalker(std::span<const std::uint8_t> topic, const THlpSystem& sys,
               const TPhraseTable& phrases)
      : phrases_(phrases), old_(sys.minor <= 16) {
    bool compressed = false;
    blockSize_ = 4096;
    if (old_) {
      blockSize_ = 2048;
    } else if ((sys.flags & 8) != 0) {
      blockSize_ = 2048;
      compressed = true;
    } else if ((sys.flags & 4) != 0) {
      compressed = true;
    }
    // From 3.1 on, topic positions count in 16 KB units per block, compressed or not.
    expandedSize_ = old_ ? blockSize_ - kBlockHeaderSize : kExpandedBlockSize;
    for (std::size_t start = 0; start < topic.size(); start += blockSize_) {
      const std::size_t end = std::min(topic.size(), start + blockSize_);
      blockStart_.push_back(stream_.size());
      if (end - start <= kBlockHeaderSize) {
        continue;
      }
      const auto data = topic.subspan(start + kBlockHeaderSize, end - start - kBlockHeaderSize);
      if (compressed) {
        const auto expanded = ExpandLz77(data, kExpandedBlockSize);
        stream_.insert(stream_.end(), expanded.begin(), expanded.end());
      } else {
        stream_.insert(stream_.end(), data.begin(), data.end());
      }
    }
    blockStart_.push_back(stream_.size());
    budget_ = stream_.size() * kMaxPhraseGrowth + kMinPhraseBudget;
  }

  std::string Run() {
    std::int64_t pos = static_cast<std::int64_t>(kBlockHeaderSize);
    std::size_t at = 0;
    if (!Locate(pos, at)) {
      return {};
    }
    // Each step moves forward through the stream, so the walk ends.
    while (true) {
      const std::span<const std::uint8_t> all(stream_);
      bytes::TByteCursor link(all.subspan(at));
      const std::uint32_t blockSize = link.ReadU32();
      const std::uint32_t dataLen2 = link.ReadU32();
      link.ReadU32(); // previous link
      const std::int32_t next = link.ReadI32();
      const std::uint32_t dataLen1 = link.ReadU32();
      const std::uint8_t type = link.ReadU8();
      if (!link.Ok() || dataLen1 < kLinkHeaderSize || blockSize < dataLen1) {
        break;
      }
      const std::size_t avail = stream_.size() - at;
      const std::size_t size = std::min<std::size_t>(blockSize, avail);
      const std::size_t len1 = std::min<std::size_t>(dataLen1, size);
      const auto data1 = all.subspan(at + kLinkHeaderSize, len1 - kLinkHeaderSize);
      const auto data2 = all.subspan(at + len1, size - len1);
      Record(type, data1, data2, dataLen2);
      if (next <= 0) {
        break;
      }
      std::int64_t nextPos = old_ ? pos + next : next;
      std::size_t nextAt = 0;
      if (!Locate(nextPos, nextAt) || nextAt <= at) {
        break;
      }
      pos = nextPos;
      at = nextAt;
    }
    return std::move(out_);
  }

private:
  // Maps a topic position to an index into the expanded stream.
  bool Locate(std::int64_t pos, std::size_t& at) const {
    std::size_t block = 0;
    std::size_t offset = 0;
    if (old_) {
      // 3.0 positions count raw bytes of |TOPIC, block headers included.
      if (pos < 0) {
        return false;
      }
      block = static_cast<std::size_t>(pos) / blockSize_;
      const std::size_t inBlock = static_cast<std::size_t>(pos) % blockSize_;
      if (inBlock < kBlockHeaderSize) {
        return false;
      }
      offset = inBlock - kBlockHeaderSize;
    } else {
      if (pos < static_cast<std::int64_t>(kBlockHeaderSize)) {
        return false;
      }
      const auto p = static_cast<std::size_t>(pos) - kBlockHeaderSize;
      block = p / expandedSize_;
      offset = p % expandedSize_;
    }
    if (block + 1 >= blockStart_.size()) {
      return false;
    }
    at = blockStart_[block] + offset;
    return at < blockStart_[block + 1] && at + kLinkHeaderSize <= stream_.size();
  }

  std::string Text2(std::span<const std::uint8_t> data2, std::uint32_t dataLen2) {
    const std::size_t want = std::min<std::size_t>(dataLen2, kMaxRecordText);
    if (want > data2.size() && phrases_.Kind() != TPhraseTable::TKind::kNone) {
      std::string text = phrases_.Expand(data2, std::min(want, budget_));
      budget_ -= text.size();
      return text;
    }
    const std::size_t n = std::min(want, data2.size());
    return std::string(reinterpret_cast<const char*>(data2.data()), n);
  }

  void Record(std::uint8_t type, std::span<const std::uint8_t> data1,
              std::span<const std::uint8_t> data2, std::uint32_t dataLen2) {
    if (type == kTopicHeader) {
      const std::string text = Text2(data2, dataLen2);
      const std::string_view title(text.data(), std::min(text.find('\0'), text.size()));
      if (!out_.empty()) {
        if (out_.back() != '\n') {
          out_.push_back('\n');
        }
        out_.push_back('\n');
      }
      if (!title.empty()) {
        out_.append(title);
        out_.push_back('\n');
      }
      return;
    }
    if (type == kDisplay30 || type == kDisplay || type == kTable) {
      TextRecord(type, data1, Text2(data2, dataLen2));
    }
  }

  void TextRecord(std::uint8_t type, std::span<const std::uint8_t> data1, const std::string& text) {
    bytes::TByteCursor c(data1);
    std::size_t q = 0;    // position in the record's text
    ReadCompressedU32(c); // topic size
    if (type == kDisplay || type == kTable) {
      ReadCompressedU16(c); // topic length
    }
    if (type == kTable) {
      const std::uint8_t columns = c.ReadU8();
      const std::uint8_t tableType = c.ReadU8();
      if (tableType == 0 || tableType == 2) {
        c.Skip(2);
      }
      c.Skip(std::size_t{4} * columns);
    }
    std::int32_t lastColumn = -1;
    while (c.Ok()) {
      if (type == kTable) {
        const std::int16_t column = c.ReadI16();
        if (!c.Ok() || column == -1) {
          break;
        }
        c.Skip(3);
        // A cell to the right of the previous one continues its row.
        if (column > lastColumn && lastColumn >= 0 && !out_.empty() && out_.back() == '\n') {
          out_.back() = '\t';
        }
        lastColumn = column;
      }
      if (!ParagraphInfo(c)) {
        return;
      }
      bool more = true;
      while (more) {
        const std::size_t end = std::min(text.find('\0', q), text.size());
        out_.append(text, q, end - q);
        q = end < text.size() ? end + 1 : end;
        const std::uint8_t cmd = c.ReadU8();
        if (!c.Ok()) {
          return;
        }
        more = Command(cmd, c);
        if (!c.Ok()) {
          return;
        }
      }
      if (type != kTable) {
        return;
      }
    }
    if (type == kTable && !out_.empty() && out_.back() != '\n') {
      out_.push_back('\n');
    }
  }

  static bool ParagraphInfo(bytes::TByteCursor& c) {
    c.Skip(1); // unknown
    c.Skip(1); // biased unknown
    c.Skip(2); // id
    const std::uint16_t bits = c.ReadU16();
    if ((bits & 0x0001) != 0) {
      ReadCompressedI32(c);
    }
    for (const unsigned bit : {0x0002u, 0x0004u, 0x0008u, 0x0010u, 0x0020u, 0x0040u}) {
      if ((bits & bit) != 0) {
        ReadCompressedI16(c); // spacing and indents
      }
    }
    if ((bits & 0x0100) != 0) {
      c.Skip(1); // border flags
      c.Skip(2); // border width
    }
    if ((bits & 0x0200) != 0) {
      const std::int32_t stops = ReadCompressedI16(c);
      for (std::int32_t k = 0; k < stops && c.Ok(); ++k) {
        const std::uint32_t stop = ReadCompressedU16(c);
        if ((stop & 0x4000) != 0) {
          ReadCompressedU16(c); // tab type
        }
      }
    }
    return c.Ok();
  }

  // Applies one formatting command; false at the end of the paragraph group.
  bool Command(std::uint8_t cmd, bytes::TByteCursor& c) {
    switch (cmd) {
    case 0xFF:
      return false;
    case 0x20:
      c.Skip(4);
      break;
    case 0x21:
    case 0x80: // font number
      c.Skip(2);
      break;
    case 0x81:
    case 0x82:
      out_.push_back('\n');
      break;
    case 0x83:
      out_.push_back('\t');
      break;
    case 0x86:
    case 0x87:
    case 0x88: {
      const std::uint8_t kind = c.ReadU8();
      const std::int32_t size = ReadCompressedI32(c);
      if (kind == 0x22) {
        ReadCompressedU16(c); // hotspot count
      }
      c.Skip(size > 0 ? static_cast<std::size_t>(size) : 0u);
      break;
    }
    case 0x89:
    case 0x8C:
      break;
    case 0x8B:
      out_.push_back(' '); // non-breaking space, not stored in the text
      break;
    case 0xC8:
    case 0xCC: {
      c.Skip(c.ReadU16()); // the macro text with its terminator
      break;
    }
    case 0xE0:
    case 0xE1:
    case 0xE2:
    case 0xE3:
    case 0xE6:
    case 0xE7:
      c.Skip(4);
      break;
    case 0xEA:
    case 0xEB:
    case 0xEE:
    case 0xEF:
      c.Skip(c.ReadU16());
      break;
    default:
      c.SeekTo(c.Size() + 1); // an unknown command: the rest cannot be parsed
      break;
    }
    return true;
  }

  const TPhraseTable& phrases_;
  bool old_;
  std::size_t blockSize_ = 4096;
  std::size_t expandedSize_ = 4084;
  std::vector<std::uint8_t> stream_;
  std::vector<std::size_t> blockStart_;
  std::size_t budget_ = 0; // bytes phrase expansion may still produce
  std::string out_;
};

} // namespace

std::int32_t CodePageOfLcid(std::uint32_t lcid) {
  const std::uint32_t primary = lcid & 0x3FF;
  switch (primary) {
  case 0x04: // Chinese: Taiwan, Hong Kong and Macau write traditional characters
    return (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404) ? 950 : 936;
  case 0x11:
    return 932;
  case 0x12:
    return 949;
  case 0x1E:
    return 874;
  case 0x2A:
    return 1258;
  case 0x02: // Bulgarian
  case 0x19: // Russian
  case 0x22: // Ukrainian
  case 0x23: // Belarusian
  case 0x2F: // Macedonian
  case 0x3F: // Kazakh
  case 0x40: // Kyrgyz
  case 0x44: // Tatar
  case 0x50: // Mongolian
    return 1251;
  case 0x1A: // Croatian, Serbian (Latin), Bosnian; Serbian Cyrillic is 0x0C1A
    return lcid == 0x0C1A ? 1251 : 1250;
  case 0x05: // Czech
  case 0x0E: // Hungarian
  case 0x15: // Polish
  case 0x18: // Romanian
  case 0x1B: // Slovak
  case 0x1C: // Albanian
  case 0x24: // Slovenian
    return 1250;
  case 0x08:
    return 1253;
  case 0x1F: // Turkish
  case 0x2C: // Azeri (Latin)
    return 1254;
  case 0x0D:
    return 1255;
  case 0x01: // Arabic
  case 0x20: // Urdu
  case 0x29: // Farsi
    return 1256;
  case 0x25: // Estonian
  case 0x26: // Latvian
  case 0x27: // Lithuanian
    return 1257;
  default:
    return 0;
  }
}

std::string HlpToUtf8(std::span<const std::uint8_t> file) {
  const THlpFileSystem fs(file);
  const auto system = fs.Find("|SYSTEM");
  const auto topic = fs.Find("|TOPIC");
  if (!fs.Has("|SYSTEM") || !fs.Has("|TOPIC")) {
    throw bytes::EFormatError("directory", 0, "no |SYSTEM or no |TOPIC file");
  }
  const THlpSystem sys = ReadSystem(system);
  TPhraseTable phrases;
  if (fs.Has("|Phrases")) {
    phrases = ReadOldPhrases(fs.Find("|Phrases"), sys.minor > 16);
  } else if (fs.Has("|PhrIndex") && fs.Has("|PhrImage")) {
    phrases = ReadHallPhrases(fs.Find("|PhrIndex"), fs.Find("|PhrImage"));
  }
  TTopicWalker walker(topic, sys, phrases);
  std::string bytes = walker.Run();
  std::erase(bytes, '\0');
  std::int32_t codePage = sys.codePage;
  if (codePage == 0) {
    codePage = CodePageOfFaceNames(fs.Find("|FONT"));
  }
  if (codePage == 0) {
    codePage = 1252;
  }
  if (!platform::IsCodePageUsable(codePage)) {
    codePage = 1252;
  }
  return platform::WideToUtf8(platform::MultiByteToWide(codePage, bytes));
}

} // namespace scv::hlp
