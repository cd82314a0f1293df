// Cell strings of every BIFF version, and the texts of boolean and error values.
#include "spreadsheet/KvXlsCellText.h"

#include "platform/CodePage.h"
#include "spreadsheet/KvXlsSST.h"

namespace scv::spreadsheet {

std::uint8_t BiffVersionOfBof(std::uint16_t id, std::span<const std::uint8_t> body) {
  switch (id) {
  case 0x0009:
    return kBiff2;
  case 0x0209:
    return kBiff3;
  case 0x0409:
    return kBiff4;
  case kIdBof:
    return bytes::LoadU16At(body, 0) == kBiff5Version ? kBiff5 : kBiff8;
  default:
    return 0;
  }
}

std::int32_t TextCodePage(std::uint16_t cv) {
  switch (cv) {
  case platform::kCpUtf16Le:
    return platform::kCpUtf16Le;
  case 367:    // US-ASCII
  case 0x8001: // Windows ANSI as written by Excel for the Macintosh
    return platform::kCpWindows1252;
  case 0x8000: // Macintosh Roman
    return platform::IsCodePageUsable(10000) ? 10000 : platform::kCpWindows1252;
  default:
    return platform::IsCodePageUsable(cv) ? cv : platform::kCpWindows1252;
  }
}

bool IsDoubleByteCodePage(std::int32_t codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

void AppendCodePageText(std::string& out, std::span<const std::uint8_t> bytes,
                        std::int32_t codePage) {
  bool ascii = true;
  for (const std::uint8_t b : bytes) {
    ascii = ascii && b >= 0x01 && b < 0x80;
  }
  if (ascii) {
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return;
  }
  if (codePage == platform::kCpUtf16Le) {
    for (const std::uint8_t b : bytes) {
      platform::AppendUtf8(out, b == 0 ? U' ' : char32_t{b});
    }
    return;
  }
  std::u16string wide = platform::MultiByteToWide(
      codePage, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  for (char16_t& c : wide) {
    if (c == 0) {
      c = u' ';
    }
  }
  AppendUtf16AsUtf8(out, wide);
}

namespace {

// Appends count characters of one width from the front of bytes, as UTF-16 code units.
void AppendUnits(std::u16string& units, std::span<const std::uint8_t> bytes, std::size_t count,
                 bool highByte) {
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t c = highByte ? static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8)
                                : static_cast<char16_t>(bytes[i]);
    units.push_back(c == 0 ? u' ' : c);
  }
}

// At most this many CONTINUE records carry one cell string: the longest string (32767
// characters of two bytes) needs eight records of 8224 bytes.
constexpr int kMaxStringContinues = 16;

} // namespace

void ReadCellString(std::span<const std::uint8_t> body, std::size_t offset, std::size_t countSize,
                    const TBiffContext& context, TBiffStream after, std::string& out) {
  if (offset > body.size()) {
    return;
  }
  TByteCursor cur(body.subspan(offset));
  const std::size_t cch = countSize == 1 ? cur.ReadU8() : cur.ReadU16();
  if (context.biff != kBiff8) {
    const std::size_t n = cch < cur.Remaining() ? cch : cur.Remaining();
    AppendCodePageText(out, cur.Take(n), context.codePage);
    return;
  }
  bool highByte = (cur.ReadU8() & 0x01) != 0;
  if (!cur.Ok()) {
    return;
  }
  std::u16string units;
  std::size_t left = cch;
  std::span<const std::uint8_t> segment = body.subspan(offset + cur.Offset());
  for (int continues = 0;; ++continues) {
    const std::size_t width = highByte ? 2 : 1;
    const std::size_t fit = segment.size() / width;
    const std::size_t n = left < fit ? left : fit;
    AppendUnits(units, segment, n, highByte);
    left -= n;
    TRecordHeader next;
    if (left == 0 || continues == kMaxStringContinues || !after.ReadHeader(next) ||
        next.id != kIdContinue) {
      break;
    }
    segment = after.Body(next);
    after.SkipBody(next);
    if (segment.empty()) {
      break;
    }
    highByte = (segment[0] & 0x01) != 0;
    segment = segment.subspan(1);
  }
  AppendUtf16AsUtf8(out, units);
}

std::string_view BooleanText(bool value) {
  return value ? "TRUE" : "FALSE";
}

std::string_view ErrorText(std::uint8_t code) {
  switch (code) {
  case 0x00:
    return "#NULL!";
  case 0x07:
    return "#DIV/0!";
  case 0x0F:
    return "#VALUE!";
  case 0x17:
    return "#REF!";
  case 0x1D:
    return "#NAME?";
  case 0x24:
    return "#NUM!";
  case 0x2A:
    return "#N/A";
  case 0x2B:
    return "#GETTING_DATA";
  default:
    return {};
  }
}

} // namespace scv::spreadsheet
