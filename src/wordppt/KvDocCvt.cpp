// Word binary documents to text: the piece table's text in piece order; for documents older
// than Word 97 the 8-bit text of the main stream (one run, or the pieces of a fast-saved
// Word 6/95 file) in the code page of the document's language.
#include "wordppt/KvDocCvt.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"
#include "storage/CfbReader.h"
#include "storage/MappedFile.h"
#include "storage/TDocFile_U1.h"
#include "wordppt/KvDocLegacy.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>

namespace scv::wordppt {

namespace {

using storage::TDocFileStorage;
using storage::TDocFileStream;

constexpr std::uint32_t kMode = storage::kStgmReadShareExclusive;
constexpr std::uint16_t kFirstPieceTableFib = 193;
constexpr std::uint16_t kFlagWhichTable = 0x0200;
constexpr std::uint32_t kFcCompressed = 0x40000000;
constexpr std::size_t kPieceDescriptorSize = 8;
// Piece text drawn beyond twice the "WordDocument" stream's size is not taken (see
// CollectPieceText); a little slack keeps tiny documents whole.
constexpr std::uint64_t kBudgetSlack = std::uint64_t{64} * 1024;

// FIB offsets in the "WordDocument" stream (the header fields shared with older versions are
// in KvDocLegacy.h).
constexpr std::size_t kOffsetNFib = 2;
constexpr std::size_t kOffsetFcClx = 418;
constexpr std::size_t kOffsetLcbClx = 422;

std::string_view AsChars(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct TWordPiece {
  std::uint32_t streamOffset = 0;
  bool utf16 = false;
  std::int32_t firstPosition = 0;
  std::int32_t limitPosition = 0;
};

// One run of text in the "WordDocument" stream, in the order it is output.
struct TSegment {
  std::span<const std::uint8_t> bytes;
  bool utf16 = false;         // UTF-16LE; otherwise Windows-1252 bytes
  bool replaceNbsp = false;   // byte 0xA0 becomes a space (8-bit pieces of the piece table)
  bool joinsPrevious = false; // the same piece as the run before (it crosses sectors)
};

// Walks the CLX: property modifier blocks are skipped, the first piece table is read, anything
// else ends the walk. A piece whose positions or descriptor lie beyond the CLX ends the walk;
// earlier pieces stay. Word 6/95 pieces (plainFc) are all 8-bit and fc is their stream offset.
std::vector<TWordPiece> ReadPieces(std::span<const std::uint8_t> clx, bool plainFc) {
  std::vector<TWordPiece> pieces;
  std::size_t pos = 0;
  while (pos < clx.size()) {
    const std::uint8_t type = clx[pos];
    if (type == 1) {
      if (clx.size() - pos < 3) {
        break;
      }
      const auto size = static_cast<std::int16_t>(bytes::LoadU16At(clx, pos + 1));
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
    const auto lcb = static_cast<std::int32_t>(bytes::LoadU32At(clx, pos + 1));
    const std::int64_t n = (std::int64_t{lcb} - 4) / 12;
    const auto plc = clx.subspan(pos + 5);
    for (std::int64_t i = 0; i < n; ++i) {
      const auto k = static_cast<std::uint64_t>(i);
      const std::uint64_t descriptor =
          (static_cast<std::uint64_t>(n) + 1) * 4 + k * kPieceDescriptorSize;
      if ((k + 2) * 4 > plc.size() || descriptor + kPieceDescriptorSize > plc.size()) {
        break;
      }
      TWordPiece piece;
      piece.firstPosition = static_cast<std::int32_t>(bytes::LoadU32At(plc, k * 4));
      piece.limitPosition = static_cast<std::int32_t>(bytes::LoadU32At(plc, k * 4 + 4));
      const std::uint32_t fc = bytes::LoadU32At(plc, static_cast<std::size_t>(descriptor + 2));
      piece.utf16 = !plainFc && (fc & kFcCompressed) == 0;
      piece.streamOffset = plainFc || piece.utf16 ? fc : (fc & ~kFcCompressed) >> 1;
      pieces.push_back(piece);
    }
    break;
  }
  return pieces;
}

// The text runs of a document and the buffers of the few runs that are not consecutive in the
// file. Runs point into the "WordDocument" stream, which the collection keeps open.
struct TTextRuns {
  std::unique_ptr<TDocFileStream> wordDocument;
  std::vector<TSegment> segments;
  std::vector<std::vector<std::uint8_t>> scratch;

  // The stream's bytes [offset, offset + count) that exist.
  std::span<const std::uint8_t> Block(const TDocFileStream& stream, std::uint64_t offset,
                                      std::uint64_t count) {
    scratch.emplace_back();
    const auto bytes = stream.View(offset, count, scratch.back());
    if (scratch.back().empty()) {
      scratch.pop_back();
    }
    return bytes;
  }
};

// Legacy documents: one run of 8-bit text from fcMin to fcMac, none when fcMac is below fcMin.
void CollectLegacyText(std::span<const std::uint8_t> fib, TTextRuns& runs) {
  const std::uint32_t fcMin = bytes::LoadU32At(fib, kOffsetFcMin);
  const std::uint32_t fcMac = bytes::LoadU32At(fib, kOffsetFcMac);
  if (fcMac > fcMin) {
    runs.segments.push_back({runs.Block(*runs.wordDocument, fcMin, fcMac - fcMin), false, false});
  }
}

// The text runs of the pieces, in piece order. replaceNbsp: 8-bit pieces turn 0xA0 into a space
// (the Word 97 piece table; Word 6/95 text keeps it).
void CollectPieces(const std::vector<TWordPiece>& pieces, bool replaceNbsp, TTextRuns& runs) {
  // Pieces of a sound document never share text, so together they draw at most the stream's
  // bytes. A hostile table can name the same bytes over and over; the budget keeps the text
  // within a small multiple of the file.
  const TDocFileStream& doc = *runs.wordDocument;
  std::uint64_t budget = doc.StreamSize() * 2 + kBudgetSlack;
  runs.segments.reserve(pieces.size());
  for (const TWordPiece& piece : pieces) {
    const std::int64_t chars = std::int64_t{piece.limitPosition} - piece.firstPosition;
    if (chars <= 0) {
      continue; // a limit below the start: an empty piece
    }
    const std::uint64_t count =
        std::min(static_cast<std::uint64_t>(chars) * (piece.utf16 ? 2 : 1), budget);
    // A piece is taken as the runs of consecutive sectors it crosses, without copying, unless a
    // run boundary would split a UTF-16 code unit.
    const auto parts = doc.Spans(piece.streamOffset, count);
    bool splitsUnit = false;
    for (std::size_t i = 0; piece.utf16 && i + 1 < parts.size(); ++i) {
      splitsUnit = splitsUnit || parts[i].size() % 2 != 0;
    }
    if (splitsUnit) {
      const auto bytes = runs.Block(doc, piece.streamOffset, count);
      budget -= bytes.size();
      runs.segments.push_back({bytes, true, false});
    } else {
      for (std::size_t i = 0; i < parts.size(); ++i) {
        budget -= parts[i].size();
        runs.segments.push_back({parts[i], piece.utf16, replaceNbsp && !piece.utf16, i > 0});
      }
    }
    if (budget == 0) {
      break;
    }
  }
}

void CollectPieceText(TDocFileStorage& storage, std::span<const std::uint8_t> fib,
                      std::uint16_t flags, TTextRuns& runs) {
  const auto table = storage.OpenStream((flags & kFlagWhichTable) ? u"1Table" : u"0Table", kMode);
  if (!table) {
    return;
  }
  const std::uint32_t fcClx = bytes::LoadU32At(fib, kOffsetFcClx);
  const std::uint32_t lcbClx = bytes::LoadU32At(fib, kOffsetLcbClx);
  std::vector<std::uint8_t> clxScratch;
  CollectPieces(ReadPieces(table->View(fcClx, lcbClx, clxScratch), false), true, runs);
}

// A fast-saved Word 6/95 document: the pieces its CLX (in the "WordDocument" stream) lists;
// false when the CLX holds none, and the document is read as one run instead.
bool CollectFastSavedText(std::span<const std::uint8_t> fib, TTextRuns& runs) {
  const std::uint32_t fcClx = bytes::LoadU32At(fib, kOffsetFcClx6);
  const std::uint32_t lcbClx = bytes::LoadU32At(fib, kOffsetLcbClx6);
  std::vector<std::uint8_t> clxScratch;
  const std::vector<TWordPiece> pieces =
      ReadPieces(runs.wordDocument->View(fcClx, lcbClx, clxScratch), true);
  if (pieces.empty()) {
    return false;
  }
  CollectPieces(pieces, false, runs);
  return true;
}

// The 8-bit runs of a document older than Word 97 in its language's code page: unless that is
// Windows-1252 (whose runs the output steps decode as they go), they are decoded once, as one
// text, since a double-byte character may straddle two pieces, and kept as one UTF-16 run.
void DecodeLegacyRuns(std::uint16_t lid, TTextRuns& runs) {
  const std::int32_t codePage = LegacyCodePage(lid);
  if (codePage == platform::kCpWindows1252 || !platform::IsCodePageUsable(codePage) ||
      runs.segments.empty()) {
    return;
  }
  std::string bytes;
  std::size_t total = 0;
  for (const TSegment& seg : runs.segments) {
    total += seg.bytes.size();
  }
  bytes.reserve(total);
  for (const TSegment& seg : runs.segments) {
    bytes.append(AsChars(seg.bytes));
  }
  const std::u16string wide = platform::MultiByteToWide(codePage, bytes);
  std::string().swap(bytes);
  std::vector<std::uint8_t> units(wide.size() * 2);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    units[2 * i] = static_cast<std::uint8_t>(wide[i] & 0xFF);
    units[2 * i + 1] = static_cast<std::uint8_t>(wide[i] >> 8);
  }
  runs.scratch.push_back(std::move(units));
  runs.segments.assign(1, {runs.scratch.back(), true, false, false});
}

// The worker: finds the text runs of the document, in output order. Returns 0, or a negative
// result code.
std::int32_t DocWorker(TDocFileStorage& storage, TTextRuns& runs) {
  runs.wordDocument = storage.OpenStream(u"WordDocument", kMode);
  if (!runs.wordDocument) {
    return 0;
  }
  // The FIB fields read, from the start of the stream; missing bytes read as zero.
  std::vector<std::uint8_t> fibScratch;
  const auto fib = runs.wordDocument->View(0, kOffsetLcbClx + 4, fibScratch);
  const auto flags = static_cast<std::uint16_t>(bytes::LoadU16At(fib, kOffsetFibFlags));
  if (flags & kFibEncrypted) {
    return kResultEncrypted;
  }
  const auto nFib = static_cast<std::uint16_t>(bytes::LoadU16At(fib, kOffsetNFib));
  if (nFib < kFirstPieceTableFib) {
    if ((flags & kFibComplex) == 0 || !CollectFastSavedText(fib, runs)) {
      CollectLegacyText(fib, runs);
    }
    DecodeLegacyRuns(static_cast<std::uint16_t>(bytes::LoadU16At(fib, kOffsetLid)), runs);
  } else {
    CollectPieceText(storage, fib, flags, runs);
  }
  return 0;
}

// Windows-1252 to UTF-16 for every byte, with or without the 0xA0 substitution.
struct TAnsiMap {
  std::array<char16_t, 256> plain{};
  std::array<char16_t, 256> nbspAsSpace{};

  TAnsiMap() {
    std::string all(256, '\0');
    for (std::size_t b = 0; b < 256; ++b) {
      all[b] = static_cast<char>(b);
    }
    const std::u16string wide = platform::MultiByteToWide(platform::kCpWindows1252, all);
    for (std::size_t b = 0; b < 256 && b < wide.size(); ++b) {
      plain[b] = wide[b];
    }
    nbspAsSpace = plain;
    nbspAsSpace[0xA0] = u' ';
  }
};

std::u16string DecodeUtf16(std::span<const std::uint8_t> bytes) {
  std::u16string units(bytes.size() / 2, u'\0'); // an odd last byte is dropped
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return units;
}

// Target 1252: the runs as Windows-1252 bytes, cleaned and with normalised line ends.
std::string BuildAnsiText(const std::vector<TSegment>& segments, bool keepRaw,
                          TLineEndStyle style) {
  std::string text;
  // Each UTF-16 piece is converted as a whole, so a surrogate pair that a sector boundary
  // splits is still one character.
  std::u16string piece;
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const TSegment& seg = segments[k];
    if (seg.utf16) {
      piece.append(DecodeUtf16(seg.bytes));
      if (k + 1 == segments.size() || !segments[k + 1].joinsPrevious) {
        text.append(platform::WideToMultiByte(platform::kCpWindows1252, piece));
        piece.clear();
      }
    } else {
      const std::size_t at = text.size();
      text.append(AsChars(seg.bytes));
      if (seg.replaceNbsp) {
        std::replace(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), '\xA0', ' ');
      }
    }
  }
  if (!keepRaw) {
    CleanControlChars(text);
  }
  return AdjustLineEnds(text, style);
}

// Other targets: the runs as UTF-16, cleaned and with normalised line ends.
std::u16string BuildWideText(const std::vector<TSegment>& segments, bool keepRaw,
                             TLineEndStyle style) {
  const TAnsiMap map;
  std::size_t total = 0;
  for (const TSegment& seg : segments) {
    total += seg.utf16 ? seg.bytes.size() / 2 : seg.bytes.size();
  }
  std::u16string text;
  text.reserve(total);
  for (const TSegment& seg : segments) {
    if (seg.utf16) {
      for (std::size_t i = 0; i + 1 < seg.bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(seg.bytes[i] | seg.bytes[i + 1] << 8));
      }
    } else {
      const auto& table = seg.replaceNbsp ? map.nbspAsSpace : map.plain;
      for (const std::uint8_t b : seg.bytes) {
        text.push_back(table[b]);
      }
    }
  }
  if (!keepRaw) {
    CleanControlCharsW(text);
  }
  return AdjustLineEndsW(text, style);
}

// UTF-8 and UTF-16 targets in one pass: each code unit goes through the control-character
// cleanup, the line-end normalisation (a CR LF pair, a lone CR, a lone LF and U+2028 are each
// one break) and the encoding, straight into the output buffer. The bytes are the same as
// cleaning, normalising and encoding the whole text one step after another.
class TUnicodeWriter {
public:
  TUnicodeWriter(bool utf8, bool keepRaw, TLineEndStyle style, std::size_t maxUnits)
      : utf8_(utf8), keepRaw_(keepRaw), style_(style) {
    // Bytes per unit at most: UTF-8 3 (a surrogate pair is 4 bytes for 2 units, a CR LF break 2
    // bytes for one CR); UTF-16 4 (a lone CR becoming CR LF). Plus the byte-order mark and the
    // closing zero.
    capacity_ = maxUnits * (utf8 ? 3 : 4) + 8;
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    if (utf8_) {
      PutByte(0xEF);
      PutByte(0xBB);
      PutByte(0xBF);
    } else {
      PutByte(0xFF);
      PutByte(0xFE);
    }
  }

  void PutUtf16(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size() / 2;
    for (std::size_t i = 0; i < n;) {
      if (utf8_ && pendingHigh_ == 0) {
        i = PutPlainRun(n, i, [&](std::size_t k) {
          return static_cast<char16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
        });
        if (i == n) {
          break;
        }
      }
      Put(static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
      ++i;
    }
  }

  void Put8Bit(std::span<const std::uint8_t> bytes, const std::array<char16_t, 256>& table) {
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
      if (utf8_ && pendingHigh_ == 0) {
        i = PutPlainRun(n, i, [&](std::size_t k) { return table[bytes[k]]; });
        if (i == n) {
          break;
        }
      }
      Put(table[bytes[i]]);
      ++i;
    }
  }

  // The finished bytes: a pending high surrogate is flushed and UTF-8 gets its zero byte.
  std::string_view Finish() {
    FlushHigh();
    if (utf8_) {
      PutByte(0);
    }
    return {buffer_.get(), size_};
  }

private:
  // UTF-8 output of units that need no cleanup, no line-end handling and no pairing (neither
  // controls, CR, LF, U+2028 nor surrogates), written in a tight loop; most text is such units.
  // Returns the index of the first unit it did not take.
  template <typename TUnitAt>
  std::size_t PutPlainRun(std::size_t n, std::size_t i, TUnitAt unitAt) {
    const std::size_t end = i + std::min(n - i, (capacity_ - size_) / 3);
    const std::size_t start = i;
    for (; i < end; ++i) {
      const char16_t c = unitAt(i);
      if (c < 0x80) {
        if (c < 0x20) {
          break;
        }
        buffer_[size_++] = static_cast<char>(c);
      } else if (c < 0x800) {
        buffer_[size_++] = static_cast<char>(0xC0 | c >> 6);
        buffer_[size_++] = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        if ((c >= 0xD800 && c < 0xE000) || c == 0x2028) {
          break;
        }
        buffer_[size_++] = static_cast<char>(0xE0 | c >> 12);
        buffer_[size_++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        buffer_[size_++] = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    if (i != start) {
      pendingCr_ = false;
    }
    return i;
  }

  void Put(char16_t c) {
    if (c >= 0x20 && c < 0x80 && pendingHigh_ == 0) {
      pendingCr_ = false;
      if (utf8_) {
        PutByte(static_cast<std::uint8_t>(c));
      } else {
        PutUnit(c);
      }
      return;
    }
    if (c < 0x20 && !keepRaw_) {
      c = kControlMap[c];
    }
    if (c == u'\n' && pendingCr_) {
      pendingCr_ = false; // the LF of a CR LF pair: the break is already written
      return;
    }
    pendingCr_ = false;
    if (c == u'\r' || c == u'\n' || c == 0x2028) {
      FlushHigh();
      if (style_ != kLineEndLf) {
        PutChar(u'\r');
      }
      if (style_ != kLineEndCr) {
        PutChar(u'\n');
      }
      pendingCr_ = c == u'\r';
      return;
    }
    if (!utf8_) {
      PutUnit(c); // UTF-16 output keeps every unit, paired or not
      return;
    }
    if (c >= 0xD800 && c < 0xDC00) {
      FlushHigh();
      pendingHigh_ = c;
      return;
    }
    if (c >= 0xDC00 && c < 0xE000) {
      if (pendingHigh_ != 0) {
        const char32_t cp = 0x10000 + ((static_cast<char32_t>(pendingHigh_) - 0xD800) << 10) +
                            (static_cast<char32_t>(c) - 0xDC00);
        pendingHigh_ = 0;
        PutCodePoint(cp);
      } else {
        PutCodePoint(0xFFFD); // a lone surrogate has no UTF-8 form
      }
      return;
    }
    FlushHigh();
    PutCodePoint(c);
  }

  void FlushHigh() {
    if (pendingHigh_ != 0) {
      pendingHigh_ = 0;
      PutCodePoint(0xFFFD);
    }
  }

  void PutChar(char16_t c) {
    if (utf8_) {
      PutByte(static_cast<std::uint8_t>(c));
    } else {
      PutUnit(c);
    }
  }

  void PutCodePoint(char32_t cp) {
    if (cp < 0x80) {
      PutByte(static_cast<std::uint8_t>(cp));
    } else if (cp < 0x800) {
      PutByte(static_cast<std::uint8_t>(0xC0 | cp >> 6));
      PutByte(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      PutByte(static_cast<std::uint8_t>(0xE0 | cp >> 12));
      PutByte(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      PutByte(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    } else {
      PutByte(static_cast<std::uint8_t>(0xF0 | cp >> 18));
      PutByte(static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
      PutByte(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      PutByte(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    }
  }

  void PutUnit(char16_t c) {
    PutByte(static_cast<std::uint8_t>(c & 0xFF));
    PutByte(static_cast<std::uint8_t>(c >> 8));
  }

  void PutByte(std::uint8_t b) {
    if (size_ < capacity_) { // always true by the capacity bound; kept as a guard
      buffer_[size_++] = static_cast<char>(b);
    }
  }

  // The cleanup map for wide text (the same as CleanControlCharsW).
  static constexpr std::array<char16_t, 32> kControlMap = {
      32, 32, 32, 32, 32, 32, 32, 9,  32, 9,  10, 13, 32, 13, 32, 32,
      32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 45, 32};

  bool utf8_;
  bool keepRaw_;
  TLineEndStyle style_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  bool pendingCr_ = false;
  char16_t pendingHigh_ = 0;
};

// The entry's steps after the worker: clean, normalise, encode, store.
std::int32_t StoreText(const std::vector<TSegment>& segments, TConversionResult& result,
                       std::int32_t codePage, std::int32_t lineEndOption,
                       std::int32_t specialFormat) {
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  const bool keepRaw = specialFormat == 1;
  if (codePage == platform::kCpWindows1252) {
    return AppendToResult(BuildAnsiText(segments, keepRaw, style), result);
  }
  if (codePage == platform::kCpUtf8 || codePage == platform::kCpUtf16Le) {
    std::size_t units = 0;
    for (const TSegment& seg : segments) {
      units += seg.utf16 ? seg.bytes.size() / 2 : seg.bytes.size();
    }
    const TAnsiMap map;
    TUnicodeWriter writer(codePage == platform::kCpUtf8, keepRaw, style, units);
    for (const TSegment& seg : segments) {
      if (seg.utf16) {
        writer.PutUtf16(seg.bytes);
      } else {
        writer.Put8Bit(seg.bytes, seg.replaceNbsp ? map.nbspAsSpace : map.plain);
      }
    }
    return AppendToResult(writer.Finish(), result);
  }
  return AppendToResult(ToCodePage(codePage, BuildWideText(segments, keepRaw, style)), result);
}

std::int32_t ConvertStorage(TDocFileStorage& storage, TConversionResult& result,
                            std::int32_t codePage, std::int32_t lineEndOption,
                            std::int32_t specialFormat) {
  TTextRuns runs;
  const std::int32_t r = DocWorker(storage, runs);
  if (r < 0) {
    return r;
  }
  return StoreText(runs.segments, result, codePage, lineEndOption, specialFormat);
}

// A Word for Windows 1.x/2.x file, which is its own main stream: the one run of 8-bit text from
// fcMin to fcMac, cut to the file.
std::int32_t ConvertWinWordBytes(std::span<const std::uint8_t> file, TConversionResult& result,
                                 std::int32_t codePage, std::int32_t lineEndOption,
                                 std::int32_t specialFormat) {
  const auto flags = static_cast<std::uint16_t>(bytes::LoadU16At(file, kOffsetFibFlags));
  if (flags & kFibEncrypted) {
    return kResultEncrypted;
  }
  const std::uint32_t fcMin = bytes::LoadU32At(file, kOffsetFcMin);
  const std::uint32_t fcMac = bytes::LoadU32At(file, kOffsetFcMac);
  TTextRuns runs;
  if (fcMac > fcMin && fcMin < file.size()) {
    const std::size_t count = std::min<std::size_t>(fcMac - fcMin, file.size() - fcMin);
    runs.segments.push_back({file.subspan(fcMin, count), false, false, false});
  }
  DecodeLegacyRuns(static_cast<std::uint16_t>(bytes::LoadU16At(file, kOffsetLid)), runs);
  return StoreText(runs.segments, result, codePage, lineEndOption, specialFormat);
}

// A file that is not a compound file converts when it is a Word for Windows 1.x/2.x file; any
// other is not in the format (and may still be tried as another type by the caller).
std::int32_t ConvertNonCompoundFile(const std::u16string& fileName, TConversionResult& result,
                                    std::int32_t codePage, std::int32_t lineEndOption,
                                    std::int32_t specialFormat) {
  std::span<const std::uint8_t> bytes;
  const std::shared_ptr<const void> owner = storage::LoadInputFile(fileName, bytes);
  if (!owner || !IsWinWordFile(bytes)) {
    return kResultBadFormat;
  }
  return ConvertWinWordBytes(bytes, result, codePage, lineEndOption, specialFormat);
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
    if (check == kResultBadFormat) {
      return ConvertNonCompoundFile(fileName, result, codePage, lineEndOption, specialFormat);
    }
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
      return IsWinWordFile(bytes)
                 ? ConvertWinWordBytes(bytes, result, codePage, lineEndOption, specialFormat)
                 : kResultBadFormat;
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
