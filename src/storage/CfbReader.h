// Read-only compound-file reader: header, DIFAT, FAT, mini FAT, mini stream and directory of
// version 3 (512-byte sectors) and version 4 (4096-byte sectors) files, held in memory.
#pragma once

#include "bytes/FormatError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scv::storage {

// Result codes of the structured-storage operations (the HRESULT values their callers test).
inline constexpr std::uint32_t kStgOk = 0x00000000;
inline constexpr std::uint32_t kStgFalse = 0x00000001;
inline constexpr std::uint32_t kStgEInvalidFunction = 0x80030001;
inline constexpr std::uint32_t kStgEFileNotFound = 0x80030002;
inline constexpr std::uint32_t kStgEAccessDenied = 0x80030005;
inline constexpr std::uint32_t kStgEInvalidPointer = 0x80030009;
inline constexpr std::uint32_t kStgEReadFault = 0x8003001E;
inline constexpr std::uint32_t kStgEInvalidParameter = 0x80030057;
inline constexpr std::uint32_t kStgEInvalidHeader = 0x800300FB;
inline constexpr std::uint32_t kStgEInvalidName = 0x800300FC;
inline constexpr std::uint32_t kStgEDocFileCorrupt = 0x80030109;

// Our own message text for a result code (the wording of the error texts is ours).
std::string StorageMessage(std::uint32_t resultCode);

// Thrown when a buffer cannot be opened as a compound file: the structure at fault, its offset,
// and the storage result code it stands for.
class ECfbError : public bytes::EFormatError {
public:
  ECfbError(std::uint32_t code, std::string_view structure, std::uint64_t offset,
            std::string_view what)
      : bytes::EFormatError(structure, offset, what), code_(code) {}
  std::uint32_t Code() const { return code_; }

private:
  std::uint32_t code_;
};

inline constexpr std::size_t kCfbHeaderSize = 512;
inline constexpr std::uint8_t kCfbSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// True when the bytes hold a whole header that starts with the compound-file signature.
bool HasCfbSignature(std::span<const std::uint8_t> bytes);

// Upper-cases one UTF-16 code unit the way compound-file names are compared: simple one-to-one
// mappings of the Latin, Greek, Cyrillic, Armenian and full-width letters (names outside
// these scripts compare exactly).
char16_t CfbUpperCase(char16_t c);
// Equality of two names without regard to case, as the directory compares them.
bool CfbNamesEqual(std::u16string_view a, std::u16string_view b);

// One stream of an opened compound file, read from memory along its sector chain: the chain is
// kept as runs of consecutive sectors that point into the file's bytes, so opening a stream
// copies nothing. Reads past the end deliver nothing; seeks may go past the end but not before
// the start.
class TCfbStream {
public:
  struct TRun {
    std::uint64_t offset = 0;            // where the run starts in the stream
    std::span<const std::uint8_t> bytes; // its bytes
  };

  // A stream made of runs (in stream order, without gaps) over bytes that stay alive as long as
  // owner does; owned holds the few buffers that are the stream's own (zero-padded sectors).
  TCfbStream(std::shared_ptr<const void> owner, std::vector<TRun> runs,
             std::vector<std::vector<std::uint8_t>> owned = {});
  // A stream over one span.
  TCfbStream(std::shared_ptr<const void> owner, std::span<const std::uint8_t> data);

  std::uint64_t Size() const { return size_; }
  std::uint64_t Position() const { return pos_; }

  // Copies up to out.size() bytes from offset; returns the count delivered.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // The bytes [offset, offset + count) cut to the stream: a view when they lie in one run, else
  // assembled in scratch.
  std::span<const std::uint8_t> View(std::uint64_t offset, std::uint64_t count,
                                     std::vector<std::uint8_t>& scratch) const;
  // The bytes [offset, offset + count) cut to the stream, as views of the runs they cross, in
  // order (none when the range is empty).
  std::vector<std::span<const std::uint8_t>> Spans(std::uint64_t offset, std::uint64_t count) const;
  // The whole stream contiguous; assembled once when the stream has several runs.
  std::span<const std::uint8_t> Data();
  std::size_t RunCount() const { return runs_.size(); }

  // Copies up to count bytes from the position into buffer; returns the count delivered.
  std::size_t Read(void* buffer, std::size_t count);
  // Moves the position (origin 0 = start, 1 = current, 2 = end). False, with the position
  // unchanged, for an unknown origin or a target before the start or beyond 2^63.
  bool Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t& newPosition);

private:
  // Index of the run holding offset (offset < size_).
  std::size_t RunAt(std::uint64_t offset) const;

  std::shared_ptr<const void> owner_;
  std::vector<TRun> runs_;
  std::vector<std::vector<std::uint8_t>> owned_;
  // Data() of a stream of several runs: left uninitialised until the runs are copied in, since
  // zero-filling a large stream first costs as much as the copy.
  std::unique_ptr<std::uint8_t[]> whole_;
  std::uint64_t size_ = 0;
  std::uint64_t pos_ = 0;
};

// Directory entry as stored: 128 bytes.
struct TCfbDirEntry {
  std::u16string name;         // up to 31 code units
  std::uint8_t objectType = 0; // 0 unused, 1 storage, 2 stream, 5 root storage
  std::uint32_t leftSiblingId = 0;
  std::uint32_t rightSiblingId = 0;
  std::uint32_t childId = 0;
  std::uint32_t startingSector = 0;
  std::uint64_t streamSize = 0; // version 3 files: only the low 32 bits count
};

inline constexpr std::uint32_t kCfbMaxRegSect = 0xFFFFFFFA;
inline constexpr std::uint32_t kCfbDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kCfbFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kCfbEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kCfbFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kCfbNoStream = 0xFFFFFFFF;

// The opened compound file. Every structure is checked against the buffer: chains end at a
// cycle or at a sector beyond the file, sizes are cut to the bytes the chains reach, and
// nothing allocated grows beyond a small multiple of the file's size.
class TCfbFile : public std::enable_shared_from_this<TCfbFile> {
public:
  // Opens the compound file held in bytes. Throws ECfbError when its header is unusable or it
  // has no directory.
  static std::shared_ptr<TCfbFile> Open(std::vector<std::uint8_t> bytes);
  // The same over bytes that stay alive as long as owner does (a mapped file).
  static std::shared_ptr<TCfbFile> Open(std::shared_ptr<const void> owner,
                                        std::span<const std::uint8_t> bytes);

  // Opens a stream of the root storage by name, compared without regard to case. Null when the
  // root storage holds no stream of that name.
  std::shared_ptr<TCfbStream> OpenStream(std::u16string_view name);

  // Names of the root storage's children, in directory-tree order.
  std::vector<std::u16string> RootEntryNames() const;

  std::uint16_t MajorVersion() const { return majorVersion_; }
  std::uint32_t SectorSize() const { return sectorSize_; }
  const std::vector<TCfbDirEntry>& Directory() const { return dir_; }

  TCfbFile(std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes)
      : owner_(std::move(owner)), bytes_(bytes) {}

private:
  // Bytes of one regular sector (cut at the end of the file) and whether it exists at all.
  std::span<const std::uint8_t> Sector(std::uint32_t sector) const;
  // The stream of a regular chain up to size: the chain ends at a cycle, a marker or a sector
  // beyond the file, and the stream ends there. keepFile: the stream keeps the file alive (not
  // for streams the file itself holds).
  std::shared_ptr<TCfbStream> ChainStream(std::uint32_t start, std::uint64_t size, bool keepFile);
  void ReadHeader();
  void ReadFat();
  void ReadDirectory();
  void ReadMiniFat();
  void LoadMiniStream();
  // Entry ids of the root's children, visited once each.
  std::vector<std::uint32_t> RootChildren() const;

  std::shared_ptr<const void> owner_;
  std::span<const std::uint8_t> bytes_;
  std::uint16_t majorVersion_ = 0;
  std::uint32_t sectorShift_ = 9;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniSectorSize_ = 64;
  std::uint32_t sectorCount_ = 0; // sectors that start inside the file
  std::uint32_t numFatSectors_ = 0;
  std::uint32_t firstDirSector_ = kCfbEndOfChain;
  std::uint32_t firstMiniFatSector_ = kCfbEndOfChain;
  std::uint32_t numMiniFatSectors_ = 0;
  std::uint32_t firstDifatSector_ = kCfbEndOfChain;
  std::uint32_t numDifatSectors_ = 0;
  std::uint32_t difat_[109] = {};
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<TCfbDirEntry> dir_;
  bool miniLoaded_ = false;
  std::shared_ptr<TCfbStream> miniContainer_; // the mini stream, kept for the file's life
  std::span<const std::uint8_t> miniStream_;
};

} // namespace scv::storage
