// Shared string table decoding across the SST body and its CONTINUE segments.
#include "spreadsheet/KvXlsSST.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"

namespace scv::spreadsheet {

void AppendUtf16AsUtf8(std::string& out, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) {
      platform::AppendUtf8(out, c);
      continue;
    }
    if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      platform::AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
      continue;
    }
    platform::AppendUtf8(out, 0xFFFD);
  }
}

namespace {

// XLUnicodeRichExtendedString flags.
constexpr std::uint8_t kHighByte = 0x01;
constexpr std::uint8_t kExtSt = 0x04;
constexpr std::uint8_t kRichSt = 0x08;

// Reads from the current segment and moves through the segment list. Reads never pass the end
// of the current segment: a field that is not whole there fails.
class TSegmentReader {
public:
  TSegmentReader(TKvMemoryStream first, std::span<const TKvMemoryStream> rest)
      : cur_(first), rest_(rest) {}

  std::size_t Remaining() const { return cur_.Remaining(); }

  // Makes the next segment current, positioned at 0. False when the list is used up (the
  // current segment then stays current).
  bool NextSegment() {
    if (next_ >= rest_.size()) {
      return false;
    }
    cur_ = rest_[next_++];
    cur_.position = 0;
    return true;
  }

  bool ReadU8(std::uint8_t& v) {
    if (cur_.Remaining() < 1) {
      return false;
    }
    v = cur_.bytes[cur_.position++];
    return true;
  }
  bool ReadU16(std::uint16_t& v) {
    if (cur_.Remaining() < 2) {
      return false;
    }
    v = bytes::LoadU16(cur_.bytes.subspan(cur_.position));
    cur_.position += 2;
    return true;
  }
  bool ReadU32(std::uint32_t& v) {
    if (cur_.Remaining() < 4) {
      return false;
    }
    v = bytes::LoadU32(cur_.bytes.subspan(cur_.position));
    cur_.position += 4;
    return true;
  }
  // The caller has checked that n bytes remain.
  std::span<const std::uint8_t> Take(std::size_t n) {
    const auto p = cur_.bytes.subspan(cur_.position, n);
    cur_.position += n;
    return p;
  }

private:
  TKvMemoryStream cur_;
  std::span<const TKvMemoryStream> rest_;
  std::size_t next_ = 0;
};

// Characters of one width appended as UTF-16 code units; zero characters become spaces.
void WidenChars(std::span<const std::uint8_t> p, std::size_t count, unsigned width,
                std::u16string& out) {
  if (width == 1) {
    for (std::size_t i = 0; i < count; ++i) {
      out.push_back(p[i] == 0 ? u' ' : static_cast<char16_t>(p[i]));
    }
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto unit = static_cast<char16_t>(bytes::LoadU16(p.subspan(2 * i)));
    out.push_back(unit == 0 ? u' ' : unit);
  }
}

// Skips count items of itemSize bytes, moving through segments; an item is never split, so
// the bytes of a segment that hold no whole item are left behind. False when more data is needed
// and no segment is left.
bool SkipItems(TSegmentReader& reader, std::size_t count, std::size_t itemSize) {
  while (reader.Remaining() / itemSize < count) {
    const std::size_t fit = reader.Remaining() / itemSize;
    reader.Take(fit * itemSize);
    count -= fit;
    if (!reader.NextSegment()) {
      return false;
    }
  }
  reader.Take(count * itemSize);
  return true;
}

} // namespace

bool ReadSharedStrings(TKvMemoryStream first, std::span<const TKvMemoryStream> segments,
                       TSstHeader& header, TSharedStrings& strings) {
  TSegmentReader reader(first, segments);
  header = TSstHeader{};
  if (!reader.ReadU32(header.cstTotal) || !reader.ReadU32(header.cstUnique)) {
    return false;
  }
  // Every string needs at least 3 bytes, so the data bounds the entries worth reserving.
  std::size_t totalBytes = first.Remaining();
  for (const auto& s : segments) {
    totalBytes += s.Size();
  }
  const std::size_t maxStrings = totalBytes / 3;
  strings.Reserve(totalBytes + totalBytes / 2,
                  header.cstUnique < maxStrings ? header.cstUnique : maxStrings);

  std::u16string wide;
  for (std::uint32_t i = 0; i < header.cstUnique; ++i) {
    if (reader.Remaining() == 0) {
      reader.NextSegment();
    }
    std::uint16_t cch = 0;
    std::uint8_t flags = 0;
    std::uint16_t cRun = 0;
    std::uint32_t cbExtRst = 0;
    if (!reader.ReadU16(cch) || !reader.ReadU8(flags)) {
      return false;
    }
    if ((flags & kRichSt) != 0 && !reader.ReadU16(cRun)) {
      return false;
    }
    if ((flags & kExtSt) != 0 && !reader.ReadU32(cbExtRst)) {
      return false;
    }
    if (reader.Remaining() == 0) {
      reader.NextSegment(); // a string that starts a segment has no option byte
    }

    unsigned width = (flags & kHighByte) != 0 ? 2 : 1;
    std::size_t n = cch;
    std::string& out = strings.Pending();
    if (width == 1 && reader.Remaining() >= n) {
      // Common case: 1-byte characters within one segment, straight to UTF-8; runs of ASCII
      // characters (the zero character excepted) are their own UTF-8 and go in one append.
      const auto p = reader.Take(n);
      const std::string_view chars(reinterpret_cast<const char*>(p.data()), p.size());
      for (std::size_t k = 0; k < n;) {
        std::size_t end = k;
        while (end < n && p[end] >= 0x01 && p[end] < 0x80) {
          ++end;
        }
        out.append(chars.substr(k, end - k));
        if (end < n) {
          const std::uint8_t b = p[end];
          platform::AppendUtf8(out, b == 0 ? ' ' : b);
          ++end;
        }
        k = end;
      }
    } else {
      wide.clear();
      while (reader.Remaining() / width < n) {
        const std::size_t k = reader.Remaining() / width;
        WidenChars(reader.Take(k * width), k, width, wide);
        n -= k;
        std::uint8_t option = 0;
        if (!reader.NextSegment() || !reader.ReadU8(option)) {
          strings.DropPending();
          return false;
        }
        width = option == 0 ? 1 : 2;
      }
      WidenChars(reader.Take(n * width), n, width, wide);
      AppendUtf16AsUtf8(out, wide);
    }
    strings.Commit();

    if (!SkipItems(reader, cRun, 4) || !SkipItems(reader, cbExtRst, 1)) {
      return false;
    }
  }
  return true;
}

} // namespace scv::spreadsheet
