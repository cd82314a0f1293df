// Read-only compound-file reader over a file held in memory.
#include "storage/CfbReader.h"

#include "bytes/ByteCursor.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cstring>

namespace scv::storage {

namespace {

constexpr std::uint32_t kDirEntrySize = 128;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kHeaderDifatCount = 109;

} // namespace

std::string StorageMessage(std::uint32_t resultCode) {
  switch (resultCode) {
  case kStgOk:
    return "The operation completed successfully.";
  case kStgFalse:
    return "The operation completed with a false result.";
  case kStgEInvalidFunction:
    return "The requested operation is not supported by the compound file.";
  case kStgEFileNotFound:
    return "The compound file or stream could not be found.";
  case kStgEAccessDenied:
    return "Access denied: the compound file is open for reading only.";
  case kStgEInvalidPointer:
    return "An invalid pointer was passed to the compound file.";
  case kStgEReadFault:
    return "The compound file could not be read.";
  case kStgEInvalidParameter:
    return "An invalid parameter was passed to the compound file.";
  case kStgEInvalidHeader:
    return "The compound file header is not valid.";
  case kStgEInvalidName:
    return "The name is not valid in the compound file.";
  case kStgEDocFileCorrupt:
    return "The compound file is corrupt.";
  default:
    break;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "Compound file error 0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    text += kHex[(resultCode >> shift) & 0xF];
  }
  text += ".";
  return text;
}

bool HasCfbSignature(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kCfbHeaderSize &&
         std::equal(std::begin(kCfbSignature), std::end(kCfbSignature), bytes.begin());
}

char16_t CfbUpperCase(char16_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  auto minus = [](std::uint32_t v, std::uint32_t d) { return static_cast<char16_t>(v - d); };
  if (u < 0x80) {
    return (u >= 'a' && u <= 'z') ? minus(u, 0x20) : c;
  }
  if (u < 0x100) {
    if (u == 0xB5) {
      return u'\u039C';
    }
    if (u == 0xFF) {
      return u'\u0178';
    }
    return (u >= 0xE0 && u <= 0xFE && u != 0xF7) ? minus(u, 0x20) : c;
  }
  // Latin Extended-A: pairs of upper (even) and lower (odd) case, with the runs 0x139-0x148
  // and 0x179-0x17E shifted by one.
  if (u >= 0x100 && u <= 0x17F) {
    if (u == 0x131) {
      return u'I';
    }
    if (u == 0x17F) {
      return u'S';
    }
    if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) {
      return (u % 2 == 0) ? minus(u, 1) : c;
    }
    if (u == 0x138 || u == 0x149) {
      return c;
    }
    return (u % 2 == 1) ? minus(u, 1) : c;
  }
  // Greek.
  if (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) {
    return minus(u, 0x20);
  }
  if (u == 0x3C2) {
    return u'\u03A3';
  }
  if (u == 0x3AC) {
    return u'\u0386';
  }
  if (u >= 0x3AD && u <= 0x3AF) {
    return minus(u, 0x25);
  }
  if (u == 0x3CC) {
    return u'\u038C';
  }
  if (u == 0x3CD || u == 0x3CE) {
    return minus(u, 0x3F);
  }
  // Cyrillic.
  if (u >= 0x430 && u <= 0x44F) {
    return minus(u, 0x20);
  }
  if (u >= 0x450 && u <= 0x45F) {
    return minus(u, 0x50);
  }
  if ((u >= 0x460 && u <= 0x481) || (u >= 0x48A && u <= 0x4BF) || (u >= 0x4D0 && u <= 0x52F)) {
    return (u % 2 == 1) ? minus(u, 1) : c;
  }
  // Armenian.
  if (u >= 0x561 && u <= 0x586) {
    return minus(u, 0x30);
  }
  // Full-width Latin.
  if (u >= 0xFF41 && u <= 0xFF5A) {
    return minus(u, 0x20);
  }
  return c;
}

bool CfbNamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && CfbUpperCase(a[i]) != CfbUpperCase(b[i])) {
      return false;
    }
  }
  return true;
}

TCfbStream::TCfbStream(std::shared_ptr<const void> owner, std::vector<TRun> runs,
                       std::vector<std::vector<std::uint8_t>> owned)
    : owner_(std::move(owner)), runs_(std::move(runs)), owned_(std::move(owned)) {
  if (!runs_.empty()) {
    size_ = runs_.back().offset + runs_.back().bytes.size();
  }
}

TCfbStream::TCfbStream(std::shared_ptr<const void> owner, std::span<const std::uint8_t> data)
    : owner_(std::move(owner)), size_(data.size()) {
  if (!data.empty()) {
    runs_.push_back({0, data});
  }
}

std::size_t TCfbStream::RunAt(std::uint64_t offset) const {
  // The last run starting at or before offset.
  const auto it = std::upper_bound(runs_.begin(), runs_.end(), offset,
                                   [](std::uint64_t off, const TRun& r) { return off < r.offset; });
  return static_cast<std::size_t>(it - runs_.begin()) - 1;
}

std::size_t TCfbStream::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= size_ || out.empty()) {
    return 0;
  }
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  std::size_t done = 0;
  for (std::size_t r = RunAt(offset); done < want && r < runs_.size(); ++r) {
    const TRun& run = runs_[r];
    const std::size_t from = static_cast<std::size_t>(offset + done - run.offset);
    const std::size_t n = std::min(want - done, run.bytes.size() - from);
    std::memcpy(out.data() + done, run.bytes.data() + from, n);
    done += n;
  }
  return done;
}

std::span<const std::uint8_t> TCfbStream::View(std::uint64_t offset, std::uint64_t count,
                                               std::vector<std::uint8_t>& scratch) const {
  if (offset >= size_ || count == 0) {
    return {};
  }
  const std::size_t n = static_cast<std::size_t>(std::min(count, size_ - offset));
  const TRun& run = runs_[RunAt(offset)];
  const std::size_t from = static_cast<std::size_t>(offset - run.offset);
  if (n <= run.bytes.size() - from) {
    return run.bytes.subspan(from, n);
  }
  scratch.resize(n);
  ReadAt(offset, scratch);
  return scratch;
}

std::vector<std::span<const std::uint8_t>> TCfbStream::Spans(std::uint64_t offset,
                                                             std::uint64_t count) const {
  std::vector<std::span<const std::uint8_t>> parts;
  if (offset >= size_ || count == 0) {
    return parts;
  }
  std::uint64_t left = std::min(count, size_ - offset);
  for (std::size_t r = RunAt(offset); left > 0 && r < runs_.size(); ++r) {
    const TRun& run = runs_[r];
    const std::size_t from = static_cast<std::size_t>(offset - run.offset);
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, run.bytes.size() - from));
    parts.push_back(run.bytes.subspan(from, n));
    offset += n;
    left -= n;
  }
  return parts;
}

std::span<const std::uint8_t> TCfbStream::Data() {
  if (runs_.size() == 1) {
    return runs_.front().bytes;
  }
  const auto size = static_cast<std::size_t>(size_);
  if (!whole_) {
    whole_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    platform::AdviseLargeBuffer(whole_.get(), size);
    const std::size_t copied = ReadAt(0, std::span<std::uint8_t>(whole_.get(), size));
    std::memset(whole_.get() + copied, 0, size - copied); // runs short of the size read as zero
  }
  return {whole_.get(), size};
}

std::size_t TCfbStream::Read(void* buffer, std::size_t count) {
  if (pos_ >= size_ || count == 0) {
    return 0;
  }
  const std::size_t n =
      ReadAt(pos_, std::span<std::uint8_t>(static_cast<std::uint8_t*>(buffer), count));
  pos_ += n;
  return n;
}

bool TCfbStream::Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t& newPosition) {
  std::int64_t base = 0;
  switch (origin) {
  case 0:
    base = 0;
    break;
  case 1:
    base = static_cast<std::int64_t>(pos_);
    break;
  case 2:
    base = static_cast<std::int64_t>(size_);
    break;
  default:
    return false;
  }
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return false;
  }
  pos_ = static_cast<std::uint64_t>(target);
  newPosition = pos_;
  return true;
}

std::shared_ptr<TCfbFile> TCfbFile::Open(std::vector<std::uint8_t> bytes) {
  auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  const std::span<const std::uint8_t> view(*owned);
  return Open(std::move(owned), view);
}

std::shared_ptr<TCfbFile> TCfbFile::Open(std::shared_ptr<const void> owner,
                                         std::span<const std::uint8_t> bytes) {
  auto file = std::make_shared<TCfbFile>(std::move(owner), bytes);
  file->ReadHeader();
  file->ReadFat();
  file->ReadDirectory();
  return file;
}

void TCfbFile::ReadHeader() {
  if (!HasCfbSignature(bytes_)) {
    throw ECfbError(kStgEInvalidHeader, "header", 0, "no compound-file signature");
  }
  bytes::TByteCursor cur(bytes_.first(kCfbHeaderSize));
  cur.Skip(24);
  cur.ReadU16(); // minor version
  majorVersion_ = cur.ReadU16();
  cur.ReadU16(); // byte order
  const std::uint16_t sectorShift = cur.ReadU16();
  cur.ReadU16(); // mini sector shift: always 64-byte mini sectors
  cur.Skip(6);
  cur.ReadU32(); // number of directory sectors: the chain says how many
  numFatSectors_ = cur.ReadU32();
  firstDirSector_ = cur.ReadU32();
  cur.ReadU32(); // transaction signature
  cur.ReadU32(); // mini stream cutoff: always 4096
  firstMiniFatSector_ = cur.ReadU32();
  numMiniFatSectors_ = cur.ReadU32();
  firstDifatSector_ = cur.ReadU32();
  numDifatSectors_ = cur.ReadU32();
  for (std::uint32_t& d : difat_) {
    d = cur.ReadU32();
  }
  // Version 3 uses 512-byte and version 4 4096-byte sectors; the shift decides, so a file whose
  // version word disagrees with its sector size is still read by the size it was written with.
  if (sectorShift != 9 && sectorShift != 12) {
    throw ECfbError(kStgEInvalidHeader, "header", 30, "unsupported sector size");
  }
  sectorShift_ = sectorShift;
  sectorSize_ = 1u << sectorShift_;
  const std::uint64_t size = bytes_.size();
  const std::uint64_t count =
      size <= sectorSize_ ? 0 : (size - sectorSize_ + sectorSize_ - 1) >> sectorShift_;
  sectorCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kCfbMaxRegSect));
}

std::span<const std::uint8_t> TCfbFile::Sector(std::uint32_t sector) const {
  if (sector >= sectorCount_) {
    return {};
  }
  const std::size_t offset = (static_cast<std::size_t>(sector) + 1) << sectorShift_;
  const std::size_t avail = bytes_.size() - offset;
  return bytes_.subspan(offset, std::min<std::size_t>(avail, sectorSize_));
}

void TCfbFile::ReadFat() {
  const std::uint32_t perSector = sectorSize_ / 4;
  // FAT entries beyond the sectors of the file are never followed, so the table stops there.
  const std::uint32_t needed = (sectorCount_ + perSector - 1) / perSector;
  const std::uint32_t wanted = std::min(numFatSectors_, needed);
  std::vector<std::uint32_t> fatSectors;
  fatSectors.reserve(wanted);
  for (std::uint32_t i = 0; i < kHeaderDifatCount && fatSectors.size() < wanted; ++i) {
    fatSectors.push_back(difat_[i]);
  }
  // DIFAT sectors: perSector - 1 entries each, then the next DIFAT sector. The chain ends at a
  // marker, a sector beyond the file, or a sector already seen.
  std::vector<bool> seen(sectorCount_, false);
  std::uint32_t next = firstDifatSector_;
  while (fatSectors.size() < wanted && next < sectorCount_ && !seen[next]) {
    seen[next] = true;
    const auto sector = Sector(next);
    for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < wanted; ++i) {
      fatSectors.push_back(bytes::LoadU32At(sector, std::size_t{i} * 4));
    }
    next = bytes::LoadU32At(sector, std::size_t{perSector - 1} * 4);
  }
  fat_.assign(std::min<std::size_t>(std::size_t{wanted} * perSector, sectorCount_), kCfbFreeSect);
  for (std::size_t k = 0; k < fatSectors.size(); ++k) {
    const auto sector = Sector(fatSectors[k]); // empty when out of range: entries stay free
    if (sector.empty()) {
      continue;
    }
    const std::size_t first = k * perSector;
    const std::size_t count = std::min<std::size_t>(perSector, fat_.size() - first);
    for (std::size_t i = 0; i < count; ++i) {
      fat_[first + i] = bytes::LoadU32At(sector, i * 4);
    }
  }
}

std::shared_ptr<TCfbStream> TCfbFile::ChainStream(std::uint32_t start, std::uint64_t size,
                                                  bool keepFile) {
  std::vector<TCfbStream::TRun> runs;
  std::vector<std::vector<std::uint8_t>> owned;
  // Walk only as far as the size needs; a chain cut short shortens the stream.
  const std::uint64_t wantSectors = (size + sectorSize_ - 1) >> sectorShift_;
  std::vector<bool> seen(sectorCount_, false);
  std::uint64_t length = 0;
  std::uint32_t prev = kCfbFreeSect;
  std::uint32_t s = start;
  for (std::uint64_t taken = 0; taken < wantSectors && s < sectorCount_ && !seen[s]; ++taken) {
    seen[s] = true;
    const std::uint64_t take = std::min<std::uint64_t>(sectorSize_, size - length);
    auto sector = Sector(s);
    if (sector.size() < take) {
      // A sector cut short by the end of the file reads as zeros past the end: a padded copy.
      owned.emplace_back(static_cast<std::size_t>(take), std::uint8_t{0});
      std::copy(sector.begin(), sector.end(), owned.back().begin());
      runs.push_back({length, owned.back()});
      prev = kCfbFreeSect;
    } else if (prev != kCfbFreeSect && s == prev + 1 &&
               runs.back().bytes.data() + runs.back().bytes.size() == sector.data()) {
      runs.back().bytes = std::span<const std::uint8_t>(
          runs.back().bytes.data(), runs.back().bytes.size() + static_cast<std::size_t>(take));
      prev = s;
    } else {
      runs.push_back({length, sector.first(static_cast<std::size_t>(take))});
      prev = s;
    }
    length += take;
    s = s < fat_.size() ? fat_[s] : kCfbEndOfChain;
  }
  std::shared_ptr<const void> owner;
  if (keepFile) {
    owner = shared_from_this();
  }
  return std::make_shared<TCfbStream>(std::move(owner), std::move(runs), std::move(owned));
}

void TCfbFile::ReadDirectory() {
  const std::uint64_t all = std::uint64_t{sectorCount_} << sectorShift_;
  const auto stream = ChainStream(firstDirSector_, all, false);
  const auto bytes = stream->Data();
  const std::size_t count = bytes.size() / kDirEntrySize;
  if (count == 0) {
    throw ECfbError(kStgEDocFileCorrupt, "directory", 48, "no directory entries");
  }
  dir_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes::TByteCursor cur(bytes.subspan(i * kDirEntrySize, kDirEntrySize));
    TCfbDirEntry& e = dir_[i];
    char16_t name[32];
    for (char16_t& c : name) {
      c = static_cast<char16_t>(cur.ReadU16());
    }
    const std::uint16_t nameLength = cur.ReadU16();
    e.objectType = cur.ReadU8();
    cur.ReadU8(); // colour
    e.leftSiblingId = cur.ReadU32();
    e.rightSiblingId = cur.ReadU32();
    e.childId = cur.ReadU32();
    cur.Skip(16 + 4 + 8 + 8); // CLSID, state bits, creation and modification times
    e.startingSector = cur.ReadU32();
    e.streamSize = cur.ReadU64();
    // The stored length counts bytes with the terminating zero; a length out of range falls back
    // to the first zero unit, and a name never runs past 31 units or its first zero.
    std::size_t n = (nameLength >= 2 && nameLength <= 64) ? nameLength / 2 - 1 : 31;
    for (std::size_t k = 0; k < n; ++k) {
      if (name[k] == 0) {
        n = k;
        break;
      }
    }
    e.name.assign(name, n);
    if (sectorSize_ == 512) {
      // Version 3 writers may leave garbage in the high half of the size.
      e.streamSize &= 0xFFFFFFFFu;
    }
  }
}

std::vector<std::uint32_t> TCfbFile::RootChildren() const {
  std::vector<std::uint32_t> out;
  std::vector<bool> seen(dir_.size(), false);
  seen[0] = true;
  std::vector<std::uint32_t> stack;
  std::uint32_t cur = dir_[0].childId;
  // In-order walk of the sibling tree; every entry is visited at most once, so a tree whose
  // links loop still ends.
  for (;;) {
    while (cur < dir_.size() && !seen[cur]) {
      seen[cur] = true;
      stack.push_back(cur);
      cur = dir_[cur].leftSiblingId;
    }
    if (stack.empty()) {
      break;
    }
    const std::uint32_t node = stack.back();
    stack.pop_back();
    out.push_back(node);
    cur = dir_[node].rightSiblingId;
  }
  return out;
}

std::vector<std::u16string> TCfbFile::RootEntryNames() const {
  std::vector<std::u16string> names;
  for (const std::uint32_t id : RootChildren()) {
    names.push_back(dir_[id].name);
  }
  return names;
}

void TCfbFile::LoadMiniStream() {
  if (miniLoaded_) {
    return;
  }
  miniLoaded_ = true;
  const TCfbDirEntry& root = dir_[0];
  // Held by the file itself, so it must not hold the file.
  miniContainer_ = ChainStream(root.startingSector, root.streamSize, false);
  miniStream_ = miniContainer_->Data();
  const std::size_t miniCount = (miniStream_.size() + miniSectorSize_ - 1) / miniSectorSize_;
  // Mini FAT entries beyond the mini stream are never followed.
  const auto table = ChainStream(firstMiniFatSector_, std::uint64_t{miniCount} * 4, false);
  const auto bytes = table->Data();
  miniFat_.assign(miniCount, kCfbFreeSect);
  bytes::TByteCursor cur(bytes);
  for (std::size_t i = 0; i < miniCount && cur.Remaining() >= 4; ++i) {
    miniFat_[i] = cur.ReadU32();
  }
}

std::shared_ptr<TCfbStream> TCfbFile::OpenStream(std::u16string_view name) {
  const TCfbDirEntry* entry = nullptr;
  for (const std::uint32_t id : RootChildren()) {
    if (dir_[id].objectType == 2 && CfbNamesEqual(dir_[id].name, name)) {
      entry = &dir_[id];
      break;
    }
  }
  if (entry == nullptr) {
    return nullptr;
  }
  if (entry->streamSize >= kMiniStreamCutoff) {
    return ChainStream(entry->startingSector, entry->streamSize, true);
  }
  LoadMiniStream();
  // Mini chain: 64-byte sectors of the mini stream, walked like a regular chain; runs of
  // consecutive mini sectors are views into the mini stream. The last mini sector of a mini
  // stream cut short is as long as the mini stream goes.
  const std::size_t miniCount = miniFat_.size();
  const std::uint64_t size = entry->streamSize;
  std::vector<TCfbStream::TRun> runs;
  std::vector<bool> seen(miniCount, false);
  std::uint64_t length = 0;
  std::uint32_t prev = kCfbFreeSect;
  std::uint32_t m = entry->startingSector;
  while (length < size && m < miniCount && !seen[m]) {
    seen[m] = true;
    const std::size_t from = std::size_t{m} * miniSectorSize_;
    const std::size_t take = std::min<std::size_t>(
        {miniSectorSize_, miniStream_.size() - from, static_cast<std::size_t>(size - length)});
    if (prev != kCfbFreeSect && m == prev + 1) {
      runs.back().bytes =
          miniStream_.subspan(from - runs.back().bytes.size(), runs.back().bytes.size() + take);
    } else {
      runs.push_back({length, miniStream_.subspan(from, take)});
    }
    prev = take == miniSectorSize_ ? m : kCfbFreeSect;
    length += take;
    m = miniFat_[m];
  }
  return std::make_shared<TCfbStream>(shared_from_this(), std::move(runs));
}

} // namespace scv::storage
