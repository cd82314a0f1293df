// Parsers for the ZIP directory records: end record search, central-directory entries, local
// headers and the ZIP64 extended-information extra field.
#include "zip/ZipEntries.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"

namespace scv::zip {

using bytes::TByteCursor;

namespace {

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;
constexpr std::uint16_t kSaturated16 = 0xFFFFu;

} // namespace

std::optional<TEndOfCentralDir> FindEndOfCentralDir(std::span<const std::uint8_t> tail,
                                                    std::uint64_t tailOffset) {
  if (tail.size() < TEndOfCentralDir::kFixedSize) {
    return std::nullopt;
  }
  // Backwards from the last place a whole fixed part fits: the last occurrence wins.
  for (std::size_t at = tail.size() - TEndOfCentralDir::kFixedSize + 1; at-- > 0;) {
    if (tail[at] != 0x50 || bytes::LoadU32(tail.subspan(at)) != TEndOfCentralDir::kSignature) {
      continue;
    }
    TByteCursor cur(tail.subspan(at + 4));
    TEndOfCentralDir end;
    end.numberOfThisDisk = cur.ReadU16();
    end.diskWithCentralDir = cur.ReadU16();
    end.entriesOnThisDisk = cur.ReadU16();
    end.totalEntries = cur.ReadU16();
    end.centralDirSize = cur.ReadU32();
    end.centralDirOffset = cur.ReadU32();
    end.commentLength = cur.ReadU16();
    end.recordOffset = tailOffset + at;
    return end;
  }
  return std::nullopt;
}

void ApplyZip64Extra(std::span<const std::uint8_t> extra, bool sizesOnly,
                     std::uint64_t& uncompressedSize, std::uint64_t& compressedSize,
                     std::uint64_t* relativeOffset, std::uint32_t* diskNumberStart,
                     bool uncompressedSaturated, bool compressedSaturated, bool offsetSaturated,
                     bool diskSaturated) {
  TByteCursor cur(extra);
  while (cur.Remaining() >= 4) {
    const std::uint16_t id = cur.ReadU16();
    const std::uint16_t size = cur.ReadU16();
    TByteCursor field = cur.Slice(cur.Offset(), size);
    if (!cur.Skip(size)) {
      return; // a field running past the block ends the walk
    }
    if (id != kZip64ExtraId) {
      continue;
    }
    // Only the values whose fixed field is saturated are present, in this order. A field too
    // short for a value leaves that value as it was.
    if (uncompressedSaturated && field.Remaining() >= 8) {
      uncompressedSize = field.ReadU64();
    }
    if (compressedSaturated && field.Remaining() >= 8) {
      compressedSize = field.ReadU64();
    }
    if (!sizesOnly) {
      if (offsetSaturated && relativeOffset != nullptr && field.Remaining() >= 8) {
        *relativeOffset = field.ReadU64();
      }
      if (diskSaturated && diskNumberStart != nullptr && field.Remaining() >= 4) {
        *diskNumberStart = field.ReadU32();
      }
    }
    return;
  }
}

std::size_t ParseCentralDirEntry(std::span<const std::uint8_t> bytes, TZipEntry& entry) {
  TByteCursor cur(bytes);
  if (cur.ReadU32() != TZipEntry::kSignature) {
    return 0;
  }
  entry.versionMadeBy = cur.ReadU16();
  entry.versionNeeded = cur.ReadU16();
  entry.flags = cur.ReadU16();
  entry.compressionMethod = cur.ReadU16();
  entry.lastModTime = cur.ReadU16();
  entry.lastModDate = cur.ReadU16();
  entry.crc32 = cur.ReadU32();
  const std::uint32_t compressed32 = cur.ReadU32();
  const std::uint32_t uncompressed32 = cur.ReadU32();
  entry.fileNameLength = cur.ReadU16();
  entry.extraFieldLength = cur.ReadU16();
  entry.fileCommentLength = cur.ReadU16();
  const std::uint16_t disk16 = cur.ReadU16();
  entry.internalAttributes = cur.ReadU16();
  entry.externalAttributes = cur.ReadU32();
  const std::uint32_t offset32 = cur.ReadU32();
  const auto name = cur.Take(entry.fileNameLength);
  const auto extra = cur.Take(entry.extraFieldLength);
  cur.Skip(entry.fileCommentLength);
  if (!cur.Ok()) {
    return 0;
  }
  entry.compressedSize = compressed32;
  entry.uncompressedSize = uncompressed32;
  entry.relativeOffset = offset32;
  entry.diskNumberStart = disk16;
  ApplyZip64Extra(extra, false, entry.uncompressedSize, entry.compressedSize, &entry.relativeOffset,
                  &entry.diskNumberStart, uncompressed32 == kSaturated32,
                  compressed32 == kSaturated32, offset32 == kSaturated32, disk16 == kSaturated16);
  entry.path.clear();
  entry.fileName.assign(reinterpret_cast<const char*>(name.data()), name.size());
  return cur.Offset();
}

bool ParseLocalHeader(std::span<const std::uint8_t> bytes, TLocalFileHeader& header) {
  TByteCursor cur(bytes);
  if (cur.ReadU32() != TLocalFileHeader::kSignature) {
    return false;
  }
  header.versionNeeded = cur.ReadU16();
  header.flags = cur.ReadU16();
  header.compressionMethod = cur.ReadU16();
  header.lastModTime = cur.ReadU16();
  header.lastModDate = cur.ReadU16();
  header.crc32 = cur.ReadU32();
  const std::uint32_t compressed32 = cur.ReadU32();
  const std::uint32_t uncompressed32 = cur.ReadU32();
  header.fileNameLength = cur.ReadU16();
  header.extraFieldLength = cur.ReadU16();
  if (!cur.Ok()) {
    return false;
  }
  header.compressedSize = compressed32;
  header.uncompressedSize = uncompressed32;
  cur.Skip(header.fileNameLength);
  const auto extra = cur.Take(header.extraFieldLength);
  if (cur.Ok()) {
    ApplyZip64Extra(extra, true, header.uncompressedSize, header.compressedSize, nullptr, nullptr,
                    uncompressed32 == kSaturated32, compressed32 == kSaturated32, false, false);
  }
  return true;
}

std::string NormalizeEntryName(std::string_view raw, std::uint16_t versionMadeBy,
                               std::uint16_t flags) {
  std::string name;
  const bool madeOnDos = (versionMadeBy >> 8) == 0;
  if (madeOnDos && (flags & kFlagUtf8Name) == 0) {
    bool ascii = true;
    for (const char c : raw) {
      ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    // OEM bytes decode through the OEM code page; names are kept as UTF-8 throughout.
    name = ascii ? std::string(raw)
                 : platform::WideToUtf8(platform::MultiByteToWide(platform::GetOEMCP(), raw));
  } else {
    name.assign(raw);
  }
  for (char& c : name) {
    if (c == '/') {
      c = '\\';
    }
  }
  return name;
}

void SplitEntryName(const std::string& name, TZipEntry& entry) {
  const std::size_t slash = name.rfind('\\');
  if (slash == std::string::npos) {
    entry.path.clear();
    entry.fileName = name;
  } else {
    entry.path = name.substr(0, slash + 1);
    entry.fileName = name.substr(slash + 1);
  }
}

} // namespace scv::zip
