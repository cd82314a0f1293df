// ZIP directory structures: the end-of-central-directory record and the central-directory
// entries, with the parsers that read them from raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace scv::zip {

// End of central directory record (22 bytes + comment), with the ZIP64 values merged in when
// the archive has a ZIP64 end record.
struct TEndOfCentralDir {
  static constexpr std::uint32_t kSignature = 0x06054B50;
  static constexpr std::size_t kFixedSize = 22;
  std::uint32_t numberOfThisDisk = 0;
  std::uint32_t diskWithCentralDir = 0;
  std::uint64_t entriesOnThisDisk = 0;
  std::uint64_t totalEntries = 0;
  std::uint64_t centralDirSize = 0;
  std::uint64_t centralDirOffset = 0;
  std::uint16_t commentLength = 0;
  std::uint64_t recordOffset = 0; // where the record itself starts in the file
  bool zip64 = false;             // values taken from a ZIP64 end record
};

// ZIP64 end of central directory locator (20 bytes), just before the end record.
struct TZip64Locator {
  static constexpr std::uint32_t kSignature = 0x07064B50;
  static constexpr std::size_t kSize = 20;
  std::uint32_t diskWithZip64End = 0;
  std::uint64_t zip64EndOffset = 0;
  std::uint32_t totalDisks = 0;
};

// ZIP64 end of central directory record (56 bytes fixed part).
struct TZip64EndOfCentralDir {
  static constexpr std::uint32_t kSignature = 0x06064B50;
  static constexpr std::size_t kFixedSize = 56;
};

// Local file header (30 bytes fixed part, then name and extra field).
struct TLocalFileHeader {
  static constexpr std::uint32_t kSignature = 0x04034B50;
  static constexpr std::size_t kFixedSize = 30;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t compressionMethod = 0;
  std::uint16_t lastModTime = 0;
  std::uint16_t lastModDate = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint16_t fileNameLength = 0;
  std::uint16_t extraFieldLength = 0;
};

// Central directory file header (46 bytes fixed part, then name, extra field and comment).
struct TZipEntry {
  static constexpr std::uint32_t kSignature = 0x02014B50;
  static constexpr std::size_t kFixedSize = 46;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t compressionMethod = 0;
  std::uint16_t lastModTime = 0;
  std::uint16_t lastModDate = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;   // ZIP64 value when the 32-bit field is 0xFFFFFFFF
  std::uint64_t uncompressedSize = 0; // likewise
  std::uint16_t fileNameLength = 0;
  std::uint16_t extraFieldLength = 0;
  std::uint16_t fileCommentLength = 0;
  std::uint32_t diskNumberStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t relativeOffset = 0; // of the local header
  // The stored name with "/" turned into "\" and MS-DOS names converted from the OEM code
  // page, split after the last backslash: `path` is empty or ends with "\".
  std::string path;
  std::string fileName;

  bool IsEncrypted() const { return (flags & 0x0001) != 0; }
  bool HasDataDescriptor() const { return (flags & 0x0008) != 0; }
  std::string FullName() const { return path + fileName; }
};

using TZipEntryList = std::vector<TZipEntry>;

// Finds the end record in the tail of a file: `tail` holds the file's last bytes and starts
// at file offset `tailOffset`. The last signature whose record fits wins. Empty when absent.
std::optional<TEndOfCentralDir> FindEndOfCentralDir(std::span<const std::uint8_t> tail,
                                                    std::uint64_t tailOffset);

// Parses one central-directory record at the start of `bytes`, filling `entry` (the name is
// left raw: no separator or code-page conversion). Returns the record's total length, or 0
// when the signature is wrong or the record does not fit.
std::size_t ParseCentralDirEntry(std::span<const std::uint8_t> bytes, TZipEntry& entry);

// Parses a local header's fixed part (sizes from the ZIP64 extra field when present in
// `extra`). False when the signature is wrong or the bytes are short.
bool ParseLocalHeader(std::span<const std::uint8_t> bytes, TLocalFileHeader& header);

// Applies the ZIP64 extended-information extra field (id 0x0001) of an extra block: each
// value stored as all ones in the fixed part is read, in order, from the extra field.
void ApplyZip64Extra(std::span<const std::uint8_t> extra, bool sizesOnly,
                     std::uint64_t& uncompressedSize, std::uint64_t& compressedSize,
                     std::uint64_t* relativeOffset, std::uint32_t* diskNumberStart,
                     bool uncompressedSaturated, bool compressedSaturated, bool offsetSaturated,
                     bool diskSaturated);

// Turns a stored name into the form the reader keeps: "/" becomes "\"; when the entry was
// made on MS-DOS (high byte of version-made-by 0) and its name is not flagged UTF-8, the name
// is converted from the OEM code page. Names are kept as UTF-8.
std::string NormalizeEntryName(std::string_view raw, std::uint16_t versionMadeBy,
                               std::uint16_t flags);

// Splits a normalized name after its last backslash into path and file name.
void SplitEntryName(const std::string& name, TZipEntry& entry);

} // namespace scv::zip
