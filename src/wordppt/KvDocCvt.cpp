// Word 97-2003 binary documents to text: the piece table's text in piece order, or the one run
// of 8-bit text of documents older than Word 97.
#include "wordppt/KvDocCvt.h"

#include <algorithm>
#include <span>

#include "platform/CodePage.h"
#include "storage/CfbReader.h"
#include "storage/TDocFile_U1.h"

namespace scv::wordppt {

namespace {

using storage::TDocFileStorage;
using storage::TDocFileStream;

constexpr std::uint32_t kMode = storage::kStgmReadShareExclusive;
constexpr std::uint16_t kFirstPieceTableFib = 193;
constexpr std::uint16_t kFlagEncrypted = 0x0100;
constexpr std::uint16_t kFlagWhichTable = 0x0200;
constexpr std::uint32_t kFcCompressed = 0x40000000;
constexpr std::size_t kPieceDescriptorSize = 8;

// FIB offsets in the "WordDocument" stream.
constexpr std::size_t kOffsetNFib = 2;
constexpr std::size_t kOffsetFlags = 10;
constexpr std::size_t kOffsetFcMin = 24;
constexpr std::size_t kOffsetFcMac = 28;
constexpr std::size_t kOffsetFcClx = 418;
constexpr std::size_t kOffsetLcbClx = 422;

// Fixed fields: bytes beyond the end of the stream read as zero.
std::uint32_t FieldAt(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size && offset < bytes.size() && i < bytes.size() - offset; ++i) {
    value |= std::uint32_t{bytes[offset + i]} << (8 * i);
  }
  return value;
}

// Variable blocks: the bytes [offset, offset + count) that exist.
std::span<const std::uint8_t> BlockAt(std::span<const std::uint8_t> bytes, std::uint64_t offset,
                                      std::uint64_t count) {
  if (offset >= bytes.size()) {
    return {};
  }
  const std::uint64_t avail = bytes.size() - offset;
  return bytes.subspan(static_cast<std::size_t>(offset),
                       static_cast<std::size_t>(std::min(count, avail)));
}

std::string_view AsChars(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The text being built: Windows-1252 bytes for target 1252, UTF-16 for every other target.
struct TIntermediate {
  bool ansi = false;
  std::string bytes;
  std::u16string wide;

  void Append8Bit(std::span<const std::uint8_t> piece, bool replaceNbsp) {
    if (ansi) {
      const std::size_t at = bytes.size();
      bytes.append(AsChars(piece));
      if (replaceNbsp) {
        std::replace(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(), '\xA0', ' ');
      }
      return;
    }
    const std::size_t at = wide.size();
    wide.append(platform::MultiByteToWide(platform::kCpWindows1252, AsChars(piece)));
    if (replaceNbsp) {
      std::replace(wide.begin() + static_cast<std::ptrdiff_t>(at), wide.end(), u'\u00A0', u' ');
    }
  }

  void AppendUtf16(std::span<const std::uint8_t> piece) {
    std::u16string units(piece.size() / 2, u'\0'); // an odd last byte is dropped
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(piece[2 * i] | piece[2 * i + 1] << 8);
    }
    if (ansi) {
      bytes.append(platform::WideToMultiByte(platform::kCpWindows1252, units));
    } else {
      wide.append(units);
    }
  }

  std::int32_t ByteCount() const {
    const std::size_t n = ansi ? bytes.size() : wide.size() * 2;
    return static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX));
  }
};

struct TWordPiece {
  std::uint32_t streamOffset = 0;
  bool utf16 = false;
  std::int32_t firstPosition = 0;
  std::int32_t limitPosition = 0;
};

// Walks the CLX: property modifier blocks are skipped, the first piece table is read, anything
// else ends the walk. A piece whose positions or descriptor lie beyond the CLX ends the walk;
// earlier pieces stay.
std::vector<TWordPiece> ReadPieces(std::span<const std::uint8_t> clx) {
  std::vector<TWordPiece> pieces;
  std::size_t pos = 0;
  while (pos < clx.size()) {
    const std::uint8_t type = clx[pos];
    if (type == 1) {
      if (clx.size() - pos < 3) {
        break;
      }
      const auto size = static_cast<std::int16_t>(FieldAt(clx, pos + 1, 2));
      // A block of size -3 or less would not move the walk forward.
      if (size <= -3) {
        break;
      }
      pos += static_cast<std::size_t>(3 + size);
      continue;
    }
    if (type != 2 || clx.size() - pos < 5) {
      break;
    }
    const auto lcb = static_cast<std::int32_t>(FieldAt(clx, pos + 1, 4));
    const std::int64_t n = (std::int64_t{lcb} - 4) / 12;
    const std::size_t plc = pos + 5;
    const std::size_t avail = clx.size() - plc;
    for (std::int64_t i = 0; i < n; ++i) {
      const auto k = static_cast<std::uint64_t>(i);
      const std::uint64_t descriptor = (static_cast<std::uint64_t>(n) + 1) * 4 + k * kPieceDescriptorSize;
      if ((k + 2) * 4 > avail || descriptor + kPieceDescriptorSize > avail) {
        break;
      }
      const auto cp = clx.subspan(plc);
      TWordPiece piece;
      piece.firstPosition = static_cast<std::int32_t>(FieldAt(cp, static_cast<std::size_t>(k * 4), 4));
      piece.limitPosition = static_cast<std::int32_t>(FieldAt(cp, static_cast<std::size_t>(k * 4 + 4), 4));
      const std::uint32_t fc = FieldAt(cp, static_cast<std::size_t>(descriptor + 2), 4);
      piece.utf16 = (fc & kFcCompressed) == 0;
      piece.streamOffset = piece.utf16 ? fc : (fc & ~kFcCompressed) >> 1;
      pieces.push_back(piece);
    }
    break;
  }
  return pieces;
}

// Legacy documents: one run of 8-bit text from fcMin to fcMac.
std::int32_t ReadLegacyText(std::span<const std::uint8_t> doc, TIntermediate& text) {
  const std::uint32_t fcMin = FieldAt(doc, kOffsetFcMin, 4);
  const std::uint32_t fcMac = FieldAt(doc, kOffsetFcMac, 4);
  if (fcMac > fcMin) {
    text.Append8Bit(BlockAt(doc, fcMin, fcMac - fcMin), false);
  }
  return text.ByteCount();
}

std::int32_t ReadPieceText(TDocFileStorage& storage, std::span<const std::uint8_t> doc,
                           std::uint16_t flags, TIntermediate& text) {
  const auto table = storage.OpenStream((flags & kFlagWhichTable) ? u"1Table" : u"0Table", kMode);
  if (!table) {
    return 0;
  }
  const std::uint32_t fcClx = FieldAt(doc, kOffsetFcClx, 4);
  const std::uint32_t lcbClx = FieldAt(doc, kOffsetLcbClx, 4);
  const std::vector<TWordPiece> pieces = ReadPieces(BlockAt(table->Data(), fcClx, lcbClx));
  // Pieces of a sound document never share text, so all of them together draw at most the
  // stream's bytes. A hostile table can name the same bytes over and over; the budget keeps the
  // text within a small multiple of the file.
  std::uint64_t budget = std::uint64_t{doc.size()} * 2 + (1u << 20);
  for (const TWordPiece& piece : pieces) {
    const std::int64_t chars = std::int64_t{piece.limitPosition} - piece.firstPosition;
    if (chars <= 0) {
      continue;
    }
    std::uint64_t count = static_cast<std::uint64_t>(chars) * (piece.utf16 ? 2 : 1);
    const auto bytes = BlockAt(doc, piece.streamOffset, std::min(count, budget));
    budget -= bytes.size();
    if (piece.utf16) {
      text.AppendUtf16(bytes);
    } else {
      text.Append8Bit(bytes, true);
    }
    if (budget == 0) {
      break;
    }
  }
  return text.ByteCount();
}

std::int32_t DocWorker(TDocFileStorage& storage, TIntermediate& text) {
  const auto wordDocument = storage.OpenStream(u"WordDocument", kMode);
  if (!wordDocument) {
    return 0;
  }
  const auto doc = wordDocument->Data();
  const auto flags = static_cast<std::uint16_t>(FieldAt(doc, kOffsetFlags, 2));
  if (flags & kFlagEncrypted) {
    return kResultEncrypted;
  }
  const auto nFib = static_cast<std::uint16_t>(FieldAt(doc, kOffsetNFib, 2));
  if (nFib < kFirstPieceTableFib) {
    return ReadLegacyText(doc, text);
  }
  return ReadPieceText(storage, doc, flags, text);
}

// Cleans, normalises and encodes the worker's text and stores it.
std::int32_t StoreText(TIntermediate& text, TConversionResult& result, std::int32_t codePage,
                       std::int32_t lineEndOption, std::int32_t specialFormat) {
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  const bool keepRaw = specialFormat == 1;
  if (text.ansi) {
    if (!keepRaw) {
      CleanControlChars(text.bytes);
    }
    const std::string out = AdjustLineEnds(text.bytes, style);
    std::string().swap(text.bytes);
    return AppendToResult(out, result);
  }
  if (!keepRaw) {
    CleanControlCharsW(text.wide);
  }
  std::u16string wide = AdjustLineEndsW(text.wide, style);
  std::u16string().swap(text.wide);
  std::string out;
  if (codePage == platform::kCpUtf16Le) {
    out.reserve(2 + wide.size() * 2);
    out.append("\xFF\xFE");
    out.append(platform::WideToMultiByte(platform::kCpUtf16Le, wide));
  } else if (codePage == platform::kCpUtf8) {
    out.reserve(4 + wide.size() * 3);
    out.append("\xEF\xBB\xBF");
    out.append(platform::WideToUtf8(wide));
    out.push_back('\0');
  } else {
    out = ToCodePage(codePage, wide);
  }
  return AppendToResult(out, result);
}

std::int32_t ConvertStorage(TDocFileStorage& storage, TConversionResult& result,
                            std::int32_t codePage, std::int32_t lineEndOption,
                            std::int32_t specialFormat) {
  TIntermediate text;
  text.ansi = codePage == platform::kCpWindows1252;
  const std::int32_t r = DocWorker(storage, text);
  if (r < 0) {
    return r;
  }
  return StoreText(text, result, codePage, lineEndOption, specialFormat);
}

} // namespace

std::int32_t DocToText(const std::u16string& fileName, std::int32_t, TConversionResult& result,
                       std::int32_t codePage, std::int32_t lineEndOption,
                       std::int32_t specialFormat) {
  if (codePage == 0) {
    codePage = platform::kCpWindows1252;
  }
  try {
    const std::int32_t check = storage::CheckStorageFile(fileName);
    if (check != 0) {
      return check;
    }
    const auto stg = storage::OpenStorageFile(fileName, kMode);
    if (!stg || !stg->LastError().empty()) {
      return kResultOpenError;
    }
    return ConvertStorage(*stg, result, codePage, lineEndOption, specialFormat);
  } catch (...) {
    return kResultBadFormat;
  }
}

std::int32_t DocBytesToText(std::span<const std::uint8_t> bytes, TConversionResult& result,
                            std::int32_t codePage, std::int32_t lineEndOption,
                            std::int32_t specialFormat) {
  if (codePage == 0) {
    codePage = platform::kCpWindows1252;
  }
  try {
    if (!storage::HasCfbSignature(bytes)) {
      return kResultBadFormat;
    }
    const auto stg = storage::OpenStorageBytes({bytes.begin(), bytes.end()});
    if (!stg) {
      return kResultOpenError;
    }
    return ConvertStorage(*stg, result, codePage, lineEndOption, specialFormat);
  } catch (...) {
    return kResultBadFormat;
  }
}

} // namespace scv::wordppt
