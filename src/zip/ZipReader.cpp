// ZIP archive reader: end-record search, central directory (ZIP64 included), rebuild from
// local headers, the folded-name index and extraction of single entries to memory.
#include "zip/ZipReader.h"

#include "bytes/ByteCursor.h"
#include "codecs/Inflate.h"
#include "codecs/LegacyCodecs.h"
#include "platform/FileIo.h"
#include "zip/Crc32.h"
#include "zip/NameMatch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sys/stat.h>

namespace scv::zip {

namespace {

// 22 bytes of end record plus the longest comment.
constexpr std::uint64_t kEndSearchSpan = 65557;
// Self-extracting archives carry their stub first; the rebuild scan skips it.
constexpr std::uint64_t kExeScanStart = 14000;
constexpr std::size_t kScanChunk = std::size_t{64} * 1024;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr std::size_t kCryptHeaderSize = 12;
// Entries stated to decode to this much or more are inflated ahead, in pieces of
// kAheadPieceSize (when the pieces asked for are no smaller).
constexpr std::uint64_t kInflateAheadFrom = std::uint64_t{2} << 20;
constexpr std::size_t kAheadPieceSize = std::size_t{256} << 10;

// The traditional PKWARE stream cipher, keyed with the empty password.
class TZipCrypto {
public:
  std::uint8_t Decrypt(std::uint8_t c) {
    const std::uint32_t t = (key2_ | 2u) & 0xFFFFu;
    const auto plain =
        static_cast<std::uint8_t>(c ^ static_cast<std::uint8_t>((t * (t ^ 1u)) >> 8));
    Update(plain);
    return plain;
  }

private:
  static std::uint32_t CrcByte(std::uint32_t crc, std::uint8_t b) {
    return ~Crc32Bytewise(~crc, std::span<const std::uint8_t>(&b, 1));
  }
  void Update(std::uint8_t b) {
    key0_ = CrcByte(key0_, b);
    key1_ = (key1_ + (key0_ & 0xFFu)) * 134775813u + 1u;
    key2_ = CrcByte(key2_, static_cast<std::uint8_t>(key1_ >> 24));
  }
  std::uint32_t key0_ = 0x12345678u;
  std::uint32_t key1_ = 0x23456789u;
  std::uint32_t key2_ = 0x34567890u;
};

// Decrypts in place when the header's last byte matches `check`; false (data untouched
// beyond the header) otherwise.
bool DecryptWithEmptyPassword(std::vector<std::uint8_t>& data, std::uint8_t check) {
  TZipCrypto crypto;
  std::uint8_t last = 0;
  for (std::size_t i = 0; i < kCryptHeaderSize; ++i) {
    last = crypto.Decrypt(data[i]);
  }
  if (last != check) {
    return false;
  }
  for (std::size_t i = kCryptHeaderSize; i < data.size(); ++i) {
    data[i] = crypto.Decrypt(data[i]);
  }
  return true;
}

bool EndsWithExe(const std::u16string& name) {
  if (name.size() < 4) {
    return false;
  }
  const std::u16string_view tail = std::u16string_view(name).substr(name.size() - 4);
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  return tail[0] == u'.' && lower(tail[1]) == u'e' && lower(tail[2]) == u'x' &&
         lower(tail[3]) == u'e';
}

// True for a name that asks for nothing: empty, or only spaces and control characters.
bool IsBlankName(std::string_view name) {
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

} // namespace

// The archive file: positioned reads through the platform's file type.
class TZipReader::TArchiveFile {
public:
  explicit TArchiveFile(const std::u16string& name) {
    if (!file_.OpenRead(name)) {
      throw EZipFileError("Cannot open file");
    }
    // One status read for all four: the archive is opened again for every part, so a
    // presentation of many slides and notes pages would otherwise pay thousands of them.
    struct stat st {};
    if (fstat(file_.Descriptor(), &st) != 0 || st.st_size < 0) {
      throw EZipFileError("Cannot read file");
    }
    size_ = st.st_size;
    inode_ = static_cast<std::uint64_t>(st.st_ino);
    device_ = static_cast<std::uint64_t>(st.st_dev);
    // As platform::TFile::ModifiedTime gives it: nanoseconds.
    modifiedTime_ =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }

  std::uint64_t Size() const { return static_cast<std::uint64_t>(size_); }
  std::int64_t ModifiedTime() const { return modifiedTime_; }
  std::uint64_t Inode() const { return inode_; }
  std::uint64_t Device() const { return device_; }

  // Reads up to data.size() bytes at offset; returns the count (short at the end of file).
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) const {
    if (offset >= Size() || data.empty()) {
      return 0;
    }
    const std::int64_t n = file_.ReadAt(offset, data);
    if (n < 0) {
      throw EZipFileError("Cannot read file");
    }
    return static_cast<std::size_t>(n);
  }
  // Reads exactly n bytes (fewer when the file ends) into a new buffer.
  std::vector<std::uint8_t> ReadBlock(std::uint64_t offset, std::uint64_t n) const {
    if (offset >= Size()) {
      return {};
    }
    n = std::min(n, Size() - offset);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
    bytes.resize(ReadAt(offset, bytes));
    return bytes;
  }

private:
  platform::TFile file_;
  std::int64_t size_ = 0;
  std::int64_t modifiedTime_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t device_ = 0;
};

TZipReader::TZipReader() = default;
TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(std::u16string name) {
  if (name != zipName_) {
    Forget();
    zipName_ = std::move(name);
  }
}

void TZipReader::Forget() {
  part_.reset();
  file_.reset();
  entries_.clear();
  index_.clear();
  overlapping_.clear();
  endRecord_ = TEndOfCentralDir{};
  haveDirectory_ = false;
  baseOffset_ = 0;
}

void TZipReader::ReadZip() {
  try {
    file_ = std::make_unique<TArchiveFile>(zipName_);
    if (IsSameFile()) {
      file_.reset();
      return; // the same file as before: its directory stands
    }
    entries_.clear();
    index_.clear();
    haveDirectory_ = false;
    baseOffset_ = 0;
    ReadDirectory();
    BuildIndex();
    RememberFile();
    file_.reset();
  } catch (...) {
    Forget();
    throw;
  }
}

void TZipReader::ReadDirectory() {
  const std::uint64_t fileSize = file_->Size();
  const std::uint64_t tailStart = fileSize > kEndSearchSpan ? fileSize - kEndSearchSpan : 0;
  const std::vector<std::uint8_t> tail = file_->ReadBlock(tailStart, fileSize - tailStart);
  const std::optional<TEndOfCentralDir> found = FindEndOfCentralDir(tail, tailStart);
  if (!found) {
    return; // not an archive, or cut at its end: no entries
  }
  TEndOfCentralDir end = *found;
  // Where the directory would end if it sits right before its end record(s).
  std::uint64_t directoryEnd = end.recordOffset;

  // ZIP64: a locator just before the end record points at the ZIP64 end record.
  if (end.recordOffset >= TZip64Locator::kSize) {
    const auto loc =
        file_->ReadBlock(end.recordOffset - TZip64Locator::kSize, TZip64Locator::kSize);
    bytes::TByteCursor cur(loc);
    if (cur.ReadU32() == TZip64Locator::kSignature) {
      TZip64Locator locator;
      locator.diskWithZip64End = cur.ReadU32();
      locator.zip64EndOffset = cur.ReadU64();
      locator.totalDisks = cur.ReadU32();
      const std::uint64_t locatorAt = end.recordOffset - TZip64Locator::kSize;
      // The record normally sits right before the locator; with leading bytes before the
      // archive the stored offset is short by their count, so both places are tried.
      std::array<std::uint64_t, 2> candidates = {locator.zip64EndOffset,
                                                 locatorAt >= TZip64EndOfCentralDir::kFixedSize
                                                     ? locatorAt - TZip64EndOfCentralDir::kFixedSize
                                                     : locator.zip64EndOffset};
      for (const std::uint64_t at : candidates) {
        const auto rec = file_->ReadBlock(at, TZip64EndOfCentralDir::kFixedSize);
        bytes::TByteCursor r(rec);
        if (r.ReadU32() != TZip64EndOfCentralDir::kSignature) {
          continue;
        }
        r.Skip(8 + 2 + 2); // record size, version made by, version needed
        end.numberOfThisDisk = r.ReadU32();
        end.diskWithCentralDir = r.ReadU32();
        end.entriesOnThisDisk = r.ReadU64();
        end.totalEntries = r.ReadU64();
        end.centralDirSize = r.ReadU64();
        end.centralDirOffset = r.ReadU64();
        if (r.Ok()) {
          end.zip64 = true;
          directoryEnd = at;
          break;
        }
      }
    }
  }
  endRecord_ = end;
  if (end.totalEntries == 0) {
    return;
  }

  // Leading bytes (a self-extractor stub, a prepended header) shift every stored offset by
  // the same amount; it shows as the gap between where the directory ends and where it
  // should. Real archives have this, so the shifted place is tried when the stated one fails.
  std::uint64_t shift = 0;
  if (directoryEnd >= end.centralDirSize &&
      directoryEnd - end.centralDirSize > end.centralDirOffset) {
    shift = directoryEnd - end.centralDirSize - end.centralDirOffset;
  }
  for (const std::uint64_t base : {std::uint64_t{0}, shift}) {
    entries_.clear();
    if (end.centralDirOffset > fileSize - base) {
      continue;
    }
    const std::uint64_t start = end.centralDirOffset + base;
    // Read the stated size, or up to the end record when that is more (a low size field).
    std::uint64_t len = end.centralDirSize;
    if (directoryEnd > start) {
      len = std::max(len, directoryEnd - start);
    }
    const std::vector<std::uint8_t> dir = file_->ReadBlock(start, len);
    std::span<const std::uint8_t> rest(dir);
    // Every record takes at least 46 bytes: no more entries than the bytes can hold.
    entries_.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(end.totalEntries, rest.size() / TZipEntry::kFixedSize)));
    bool ok = true;
    for (std::uint64_t i = 0; i < end.totalEntries; ++i) {
      TZipEntry entry;
      const std::size_t used = ParseCentralDirEntry(rest, entry);
      if (used == 0) {
        ok = false;
        break;
      }
      rest = rest.subspan(used);
      SplitEntryName(NormalizeEntryName(entry.fileName, entry.versionMadeBy, entry.flags), entry);
      entries_.push_back(std::move(entry));
    }
    if (ok) {
      // Where the local headers are: shifted like the directory (leading bytes), or where
      // stated (only the directory offset was wrong).
      baseOffset_ = base;
      if (base != 0 && !entries_.empty() && !HasLocalHeaderAt(entries_[0].relativeOffset + base) &&
          HasLocalHeaderAt(entries_[0].relativeOffset)) {
        baseOffset_ = 0;
      }
      return;
    }
    if (shift == 0) {
      break;
    }
  }
  entries_.clear();
  if (!RebuildFromLocalHeaders()) {
    throw EBadZipFile(end.centralDirOffset);
  }
}

bool TZipReader::HasLocalHeaderAt(std::uint64_t offset) const {
  std::array<std::uint8_t, 4> sig{};
  return file_->ReadAt(offset, sig) == sig.size() &&
         bytes::LoadU32(sig) == TLocalFileHeader::kSignature;
}

bool TZipReader::RebuildFromLocalHeaders() {
  const std::uint64_t fileSize = file_->Size();
  std::uint64_t at = EndsWithExe(zipName_) ? kExeScanStart : 0;
  // Find the first local-header signature.
  bool found = false;
  std::vector<std::uint8_t> chunk(kScanChunk + 3);
  while (at < fileSize && !found) {
    const std::size_t n = file_->ReadAt(at, chunk);
    if (n < 4) {
      break;
    }
    for (std::size_t i = 0; i + 4 <= n; ++i) {
      if (chunk[i] == 0x50 && chunk[i + 1] == 0x4B && chunk[i + 2] == 0x03 &&
          chunk[i + 3] == 0x04) {
        at += i;
        found = true;
        break;
      }
    }
    if (!found) {
      at += n - 3; // keep three bytes of overlap for a signature across the boundary
    }
  }
  if (!found) {
    return false;
  }
  // Header after header; each step moves forward by at least the fixed part.
  std::array<std::uint8_t, TLocalFileHeader::kFixedSize> fixed{};
  while (at < fileSize) {
    if (file_->ReadAt(at, fixed) != fixed.size()) {
      break;
    }
    TLocalFileHeader header;
    if (!ParseLocalHeader(fixed, header)) {
      break;
    }
    const std::uint64_t varLen = std::uint64_t{header.fileNameLength} + header.extraFieldLength;
    const std::vector<std::uint8_t> var = file_->ReadBlock(at + fixed.size(), varLen);
    if (var.size() != varLen) {
      break;
    }
    // Sizes from the ZIP64 extra field of the local header, when present.
    std::vector<std::uint8_t> whole(fixed.begin(), fixed.end());
    whole.insert(whole.end(), var.begin(), var.end());
    ParseLocalHeader(whole, header);
    TZipEntry entry;
    entry.versionMadeBy = 0x0A00; // no host recorded: keep the name's bytes as they are
    entry.versionNeeded = header.versionNeeded;
    entry.flags = header.flags;
    entry.compressionMethod = header.compressionMethod;
    entry.lastModTime = header.lastModTime;
    entry.lastModDate = header.lastModDate;
    entry.crc32 = header.crc32;
    entry.compressedSize = header.compressedSize;
    entry.uncompressedSize = header.uncompressedSize;
    entry.fileNameLength = header.fileNameLength;
    entry.extraFieldLength = header.extraFieldLength;
    entry.relativeOffset = at;
    const std::string rawName(reinterpret_cast<const char*>(var.data()), header.fileNameLength);
    SplitEntryName(NormalizeEntryName(rawName, entry.versionMadeBy, entry.flags), entry);
    std::uint64_t next = at + fixed.size() + varLen;
    const bool descriptor = (header.flags & kFlagDataDescriptor) != 0;
    if (descriptor && header.compressedSize == 0 && header.compressionMethod == 8) {
      // Written as a stream: the sizes follow the data. The Deflate stream's own end tells
      // where the data stops; the descriptor after it gives CRC and sizes.
      const std::optional<std::uint64_t> packed = DeflateLength(next);
      if (!packed) {
        entries_.push_back(std::move(entry));
        break;
      }
      next += *packed;
      const bool wide = header.versionNeeded >= 45; // ZIP64: 8-byte sizes
      const std::vector<std::uint8_t> desc = file_->ReadBlock(next, wide ? 24 : 16);
      bytes::TByteCursor cur(desc);
      const std::uint32_t first = cur.ReadU32();
      const bool hasSignature = first == kDataDescriptorSignature;
      entry.crc32 = hasSignature ? cur.ReadU32() : first;
      entry.compressedSize = wide ? cur.ReadU64() : cur.ReadU32();
      entry.uncompressedSize = wide ? cur.ReadU64() : cur.ReadU32();
      if (!cur.Ok()) {
        entries_.push_back(std::move(entry));
        break;
      }
      entry.compressedSize = *packed;
      next += (hasSignature ? 4 : 0) + 4 + (wide ? 16 : 8);
      entries_.push_back(std::move(entry));
      at = next;
      continue;
    }
    entries_.push_back(std::move(entry));
    if (header.compressedSize > fileSize - std::min(next, fileSize)) {
      break;
    }
    next += header.compressedSize;
    if (descriptor) {
      // The descriptor's signature is optional; skip 16 bytes when present, 12 otherwise.
      std::array<std::uint8_t, 4> sig{};
      const bool hasSignature =
          file_->ReadAt(next, sig) == 4 && bytes::LoadU32(sig) == kDataDescriptorSignature;
      next += hasSignature ? 16 : 12;
    }
    at = next;
  }
  return !entries_.empty();
}

std::optional<std::uint64_t> TZipReader::DeflateLength(std::uint64_t at) const {
  const std::uint64_t fileSize = file_->Size();
  if (at >= fileSize) {
    return std::nullopt;
  }
  // Try a growing window of the file until the stream ends inside it.
  std::uint64_t window = std::uint64_t{1} << 20;
  bytes::TMemoryStream sink;
  for (;;) {
    const std::uint64_t span = std::min(window, fileSize - at);
    const std::vector<std::uint8_t> bytes = file_->ReadBlock(at, span);
    sink.Clear();
    const codecs::TInflateResult r = codecs::Inflate(bytes, sink, entrySizeLimit_, 0);
    if (r.status == codecs::TInflateStatus::kDone) {
      return r.consumed;
    }
    if (r.status != codecs::TInflateStatus::kTruncated || span == fileSize - at) {
      return std::nullopt;
    }
    window *= 4;
  }
}

void TZipReader::MarkOverlaps() {
  // Entries whose data runs into the next entry's local header (or share one) overlap: a
  // real archive never does this, while a "zip bomb" built from overlapping entries makes
  // every entry re-expand the same data. Such entries are not extracted.
  overlapping_.assign(entries_.size(), false);
  std::vector<std::uint32_t> order(entries_.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = static_cast<std::uint32_t>(i);
  }
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return entries_[a].relativeOffset < entries_[b].relativeOffset;
  });
  for (std::size_t k = 0; k + 1 < order.size(); ++k) {
    const TZipEntry& here = entries_[order[k]];
    const TZipEntry& next = entries_[order[k + 1]];
    const std::uint64_t gap = next.relativeOffset - here.relativeOffset;
    if (gap < TLocalFileHeader::kFixedSize ||
        here.compressedSize > gap - TLocalFileHeader::kFixedSize) {
      overlapping_[order[k]] = true;
      overlapping_[order[k + 1]] = overlapping_[order[k + 1]] || gap == 0;
    }
  }
}

void TZipReader::BuildIndex() {
  MarkOverlaps();
  index_.clear();
  index_.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const TZipEntry& e = entries_[i];
    if (e.fileName.empty()) {
      continue; // directory entries are never selected
    }
    index_[FoldName(e.FullName())].push_back(static_cast<std::uint32_t>(i));
  }
}

int TZipReader::UnZipToStream(bytes::TMemoryStream* stream, std::string_view name) {
  if (stream == nullptr) {
    return 0;
  }
  return UnZipToStream(*stream, name);
}

std::vector<std::uint32_t> TZipReader::SelectEntries(std::string_view name) {
  ClosePart();
  lastOutcomes_.clear();
  if (IsBlankName(name) || !haveDirectory_ || entries_.empty()) {
    return {};
  }
  file_ = std::make_unique<TArchiveFile>(zipName_);
  if (!IsSameFile()) {
    // The archive changed since its directory was read: read it again.
    entries_.clear();
    index_.clear();
    baseOffset_ = 0;
    haveDirectory_ = false;
    try {
      ReadDirectory();
    } catch (const EZipError&) {
      entries_.clear();
    }
    BuildIndex();
    RememberFile();
  }
  std::vector<std::uint32_t> selected;
  const std::string pattern = FoldName(name);
  if (!HasWildcards(pattern)) {
    const auto it = index_.find(pattern);
    if (it != index_.end()) {
      selected = it->second;
    }
  } else {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const TZipEntry& e = entries_[i];
      if (!e.fileName.empty() && IsMatch(pattern, FoldName(e.FullName()))) {
        selected.push_back(static_cast<std::uint32_t>(i));
      }
    }
  }
  return selected;
}

int TZipReader::UnZipToStream(bytes::TMemoryStream& stream, std::string_view name) {
  int extracted = 0;
  try {
    for (const std::uint32_t i : SelectEntries(name)) {
      TEntryOutcome outcome = TEntryOutcome::kUnreadable;
      try {
        if (!overlapping_[i]) {
          outcome = ExtractEntry(entries_[i], stream);
        }
      } catch (const std::bad_alloc&) {
        // The stream cannot grow to take the data.
        throw EOutputWriteError(entries_[i].FullName(), entries_[i].relativeOffset);
      }
      lastOutcomes_.push_back(outcome);
      if (outcome == TEntryOutcome::kExtracted) {
        ++extracted;
      }
    }
  } catch (...) {
    file_.reset();
    throw;
  }
  file_.reset();
  return extracted;
}

// ---------------------------------------------------------------------------------------------
// Piece by piece

struct TZipReader::TPartState {
  std::vector<std::uint32_t> selected;
  std::size_t next = 0; // next entry of `selected` to open
  int extracted = 0;
  // The deflated entry being inflated, with its compressed bytes and running CRC.
  const TZipEntry* entry = nullptr;
  std::vector<std::uint8_t> packed;
  std::uint32_t crc = 0; // kept by the inflater's thread, read once it is done
  std::unique_ptr<codecs::TInflateStream> inflate;
  bytes::TMemoryStream whole; // an entry of another method, extracted in one go
};

void TZipReader::OpenPart(std::string_view name) {
  std::vector<std::uint32_t> selected;
  try {
    selected = SelectEntries(name);
  } catch (...) {
    file_.reset();
    throw;
  }
  part_ = std::make_unique<TPartState>();
  part_->selected = std::move(selected);
}

void TZipReader::ClosePart() {
  if (part_) {
    part_.reset();
    file_.reset();
  }
}

std::uint64_t TZipReader::PartSizeHint() const {
  if (!part_ || part_->selected.empty()) {
    return 0;
  }
  const TZipEntry& entry = entries_[part_->selected.front()];
  const std::uint64_t bound = entry.compressionMethod == 0
                                  ? entry.compressedSize
                                  : codecs::InflateBound(std::min<std::uint64_t>(
                                        entry.compressedSize, std::uint64_t{1} << 40));
  return std::min({entry.uncompressedSize, bound, entrySizeLimit_});
}

std::size_t TZipReader::PieceRoomBefore() const {
  return part_ && part_->inflate ? part_->inflate->RoomBefore() : 0;
}

int TZipReader::PartExtracted() const {
  return part_ ? part_->extracted : 0;
}

void TZipReader::FinishPartEntry(TEntryOutcome outcome) {
  lastOutcomes_.push_back(outcome);
  if (outcome == TEntryOutcome::kExtracted) {
    ++part_->extracted;
  }
}

std::span<const std::uint8_t> TZipReader::NextPiece() {
  if (!part_) {
    return {};
  }
  TPartState& part = *part_;
  try {
    for (;;) {
      if (part.inflate) {
        const std::span<const std::uint8_t> piece = part.inflate->Next();
        if (!piece.empty()) {
          return piece;
        }
        const codecs::TInflateStatus status = part.inflate->Result().status;
        part.inflate.reset();
        part.packed = {};
        if (status == codecs::TInflateStatus::kOutputLimit) {
          FinishPartEntry(TEntryOutcome::kLargerThanStated);
        } else if (status != codecs::TInflateStatus::kDone || part.crc != part.entry->crc32) {
          FinishPartEntry(TEntryOutcome::kBadCrc);
        } else {
          FinishPartEntry(TEntryOutcome::kExtracted);
        }
        continue;
      }
      if (part.next == part.selected.size()) {
        part.whole.Release();
        return {};
      }
      const std::uint32_t i = part.selected[part.next++];
      if (overlapping_[i]) {
        FinishPartEntry(TEntryOutcome::kUnreadable);
        continue;
      }
      const TZipEntry& entry = entries_[i];
      if (entry.compressionMethod == 8) {
        TEntryData data;
        if (const auto outcome = OpenEntry(entry, data)) {
          FinishPartEntry(*outcome);
          continue;
        }
        part.entry = &entry;
        part.packed = std::move(data.packed);
        part.crc = 0;
        // A long entry is inflated ahead on a second thread, in smaller pieces so that the
        // pieces waiting for the caller cost no more than one large piece would.
        const bool ahead = std::min(entry.uncompressedSize, data.limit) >= kInflateAheadFrom &&
                           pieceSize_ >= kAheadPieceSize;
        part.inflate = std::make_unique<codecs::TInflateStream>(
            part.packed, data.limit, ahead ? std::min(pieceSize_, kAheadPieceSize) : pieceSize_,
            ahead, [&crc = part.crc](std::span<const std::uint8_t> piece) {
              crc = Crc32Update(crc, piece);
            });
        continue;
      }
      part.whole.Clear();
      const std::uint64_t limit = entrySizeLimit_;
      entrySizeLimit_ = std::min(limit, wholeEntryLimit_);
      TEntryOutcome outcome = TEntryOutcome::kUnreadable;
      try {
        outcome = ExtractEntry(entry, part.whole);
      } catch (...) {
        entrySizeLimit_ = limit;
        throw;
      }
      entrySizeLimit_ = limit;
      if (wholeEntryLimit_ < limit && part.whole.Size() >= wholeEntryLimit_ &&
          entry.uncompressedSize > wholeEntryLimit_) {
        throw EZipError(entry.FullName(), entry.relativeOffset,
                        "more than " + std::to_string(wholeEntryLimit_) + " bytes to decode whole");
      }
      FinishPartEntry(outcome);
      if (!part.whole.Empty()) {
        return part.whole.Bytes();
      }
    }
  } catch (const std::bad_alloc&) {
    const TZipEntry* entry = part.entry;
    ClosePart();
    throw EOutputWriteError(entry != nullptr ? entry->FullName() : std::string("part"),
                            entry != nullptr ? entry->relativeOffset : 0);
  } catch (...) {
    ClosePart();
    throw;
  }
}

bool TZipReader::IsSameFile() const {
  return haveDirectory_ && file_->ModifiedTime() == dirModifiedTime_ &&
         static_cast<std::int64_t>(file_->Size()) == dirFileSize_ && file_->Inode() == dirInode_ &&
         file_->Device() == dirDevice_;
}

void TZipReader::RememberFile() {
  haveDirectory_ = true;
  dirModifiedTime_ = file_->ModifiedTime();
  dirFileSize_ = static_cast<std::int64_t>(file_->Size());
  dirInode_ = file_->Inode();
  dirDevice_ = file_->Device();
}

std::optional<TEntryOutcome> TZipReader::OpenEntry(const TZipEntry& entry, TEntryData& data) {
  const std::uint64_t fileSize = file_->Size();
  if (entry.relativeOffset > fileSize - std::min(baseOffset_, fileSize)) {
    return TEntryOutcome::kUnreadable;
  }
  const std::uint64_t headerAt = entry.relativeOffset + baseOffset_;
  std::array<std::uint8_t, TLocalFileHeader::kFixedSize> fixed{};
  TLocalFileHeader header;
  if (file_->ReadAt(headerAt, fixed) != fixed.size() || !ParseLocalHeader(fixed, header)) {
    return TEntryOutcome::kUnreadable;
  }
  data.at =
      headerAt + TLocalFileHeader::kFixedSize + header.fileNameLength + header.extraFieldLength;
  data.available = data.at < fileSize ? fileSize - data.at : 0;
  data.limit = std::min(entry.uncompressedSize, entrySizeLimit_);
  data.packedSize = entry.compressedSize;
  const std::uint16_t method = entry.compressionMethod;
  const bool known = method == 0 || method == 8 || (method >= 1 && method <= 6);

  // Encrypted data is tried with the empty password: its 12-byte header must decrypt to the
  // check byte. Then the rest is decrypted in memory.
  if ((entry.flags & kFlagEncrypted) != 0) {
    if (!known || entry.compressedSize < kCryptHeaderSize) {
      return TEntryOutcome::kEncrypted;
    }
    data.packed = file_->ReadBlock(data.at, std::min(entry.compressedSize, data.available));
    const std::uint8_t check = (entry.flags & kFlagDataDescriptor) != 0
                                   ? static_cast<std::uint8_t>(entry.lastModTime >> 8)
                                   : static_cast<std::uint8_t>(entry.crc32 >> 24);
    if (data.packed.size() < kCryptHeaderSize || !DecryptWithEmptyPassword(data.packed, check)) {
      return TEntryOutcome::kEncrypted;
    }
    data.packed.erase(data.packed.begin(), data.packed.begin() + kCryptHeaderSize);
    data.packedSize -= kCryptHeaderSize;
    data.inMemory = true;
  }
  if (!known) {
    return TEntryOutcome::kUnknownMethod;
  }
  if (method != 0 && !data.inMemory) {
    data.packed = file_->ReadBlock(data.at, std::min(data.packedSize, data.available));
    data.inMemory = true;
  }
  return std::nullopt;
}

TEntryOutcome TZipReader::ExtractEntry(const TZipEntry& entry, bytes::TMemoryStream& stream) {
  TEntryData data;
  if (const auto outcome = OpenEntry(entry, data)) {
    return *outcome;
  }
  const std::uint64_t stated = entry.uncompressedSize;
  const std::uint64_t limit = data.limit;
  const std::size_t start = stream.Position();
  const std::uint16_t method = entry.compressionMethod;
  std::vector<std::uint8_t>& packed = data.packed;
  const std::uint64_t packedSize = data.packedSize;
  const bool inMemory = data.inMemory;
  const std::uint64_t available = data.available;
  const std::uint64_t dataAt = data.at;

  bool decodedWhole = true; // the decoder reached a proper end
  bool overLimit = false;
  if (method == 0) {
    // Stored: the bytes as they are, read straight into the stream.
    const std::uint64_t want = std::min(packedSize, limit);
    const std::uint64_t have = std::min(want, inMemory ? packed.size() : available);
    if (have > bytes::TMemoryStream::kMaxSize - start) {
      throw EOutputWriteError(entry.FullName(), dataAt);
    }
    const std::span<std::uint8_t> target =
        std::span(stream.Reserve(start + static_cast<std::size_t>(have), start), stream.Capacity())
            .subspan(start, static_cast<std::size_t>(have));
    std::size_t got = 0;
    if (inMemory) {
      std::copy_n(packed.begin(), target.size(), target.begin());
      got = target.size();
    } else {
      got = file_->ReadAt(dataAt, target);
    }
    stream.Commit(start + got);
    if (got < want) {
      throw EFatalUnzipError(entry.FullName(), dataAt + got);
    }
    overLimit = packedSize > limit;
  } else {
    codecs::TInflateResult result;
    if (method == 8) {
      // Room up front for what the data can really produce, not just what the entry states.
      const std::uint64_t hint = std::min(limit, codecs::InflateBound(packed.size()));
      result = codecs::Inflate(packed, stream, limit, hint);
    } else if (method == 1) {
      result = codecs::Unshrink(packed, stream, limit);
    } else if (method == 6) {
      result = codecs::Explode(packed, stream, limit, entry.flags);
    } else {
      result = codecs::Unreduce(packed, stream, limit, method - 1u);
    }
    overLimit = result.status == codecs::TInflateStatus::kOutputLimit;
    decodedWhole = result.status == codecs::TInflateStatus::kDone;
    // Reduced and imploded data end at the stated size; a cap below it is still "larger".
    if ((method != 8 && method != 1) && limit < stated && decodedWhole) {
      overLimit = true;
    }
  }
  if (overLimit) {
    return TEntryOutcome::kLargerThanStated;
  }
  const std::size_t end = stream.Position();
  const std::uint32_t crc = Crc32(stream.Bytes().subspan(start, end - start));
  if (!decodedWhole || crc != entry.crc32) {
    return TEntryOutcome::kBadCrc;
  }
  return TEntryOutcome::kExtracted;
}

} // namespace scv::zip
