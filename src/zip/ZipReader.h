// ZIP archive reader: opens an archive by wide name, reads its central directory (ZIP64
// included) and extracts entries by name into a memory stream with CRC-32 checks.
#pragma once

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "zip/ZipEntries.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace scv::zip {

// The reader's errors: format errors naming the structure (an entry, the directory, the
// archive file) and its offset in the archive. The named ones are those callers tell apart.
class EZipError : public bytes::EFormatError {
public:
  using bytes::EFormatError::EFormatError;
};
// The directory, stated at offset, is unreadable and could not be rebuilt from the local
// headers.
class EBadZipFile : public EZipError {
public:
  explicit EBadZipFile(std::uint64_t offset)
      : EZipError("central directory", offset, "Not a valid zip file!") {}
};
// A stored entry's data ends at offset, before its stated size.
class EFatalUnzipError : public EZipError {
public:
  EFatalUnzipError(std::string_view entry, std::uint64_t offset)
      : EZipError(entry, offset, "Premature end of file reached") {}
};
// The stream cannot take the data of the entry at offset.
class EOutputWriteError : public EZipError {
public:
  EOutputWriteError(std::string_view entry, std::uint64_t offset)
      : EZipError(entry, offset, "Cant write uncompressed file") {}
};
// The archive file cannot be opened or read.
class EZipFileError : public EZipError {
public:
  explicit EZipFileError(std::string_view what) : EZipError("archive file", 0, what) {}
};

// What happened to one entry during the last UnZipToStream call (for callers and tests that
// want more than the count).
enum class TEntryOutcome {
  kExtracted,        // data written, CRC correct
  kBadCrc,           // data written, CRC wrong or decoding stopped early (bad or cut data)
  kEncrypted,        // skipped: not decryptable with the empty password
  kUnknownMethod,    // nothing written
  kLargerThanStated, // exactly the stated size written, not counted
  kUnreadable,       // local header missing, outside the file, or overlapping another
                     // entry's data; nothing written
};

class TZipReader {
public:
  TZipReader();
  ~TZipReader();
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;

  // Naming another archive drops the directory read before. Names are file-system names, so
  // names differing only in letter case name different archives.
  void SetZipName(std::u16string name);
  const std::u16string& ZipName() const { return zipName_; }

  // Opens the archive and reads its directory. A file without an end record (not an archive,
  // or an empty file) reads as an archive with no entries. Throws EBadZipFile when the
  // directory is damaged beyond rebuilding, EZipFileError when the file cannot be read. Every
  // error leaves the reader with no entries.
  void ReadZip();

  // Number of central-directory records read (directory entries included); 0 before ReadZip.
  std::size_t Count() const { return entries_.size(); }
  const TZipEntry& Entry(std::size_t index) const { return entries_.at(index); }
  const TZipEntryList& Entries() const { return entries_; }
  // Size of the archive file the directory was read from (0 before ReadZip).
  std::uint64_t ArchiveSize() const {
    return dirFileSize_ > 0 ? static_cast<std::uint64_t>(dirFileSize_) : 0;
  }

  // The file the directory was read from (its identity, size and time) and the entries found:
  // two readers of equal identities give the same bytes for every name. Empty before ReadZip.
  struct TIdentity {
    std::int64_t modifiedTime = 0;
    std::int64_t size = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    std::size_t entries = 0;
    bool operator==(const TIdentity&) const = default;
  };
  std::optional<TIdentity> Identity() const {
    if (!haveDirectory_) {
      return std::nullopt;
    }
    return TIdentity{dirModifiedTime_, dirFileSize_, dirInode_, dirDevice_, entries_.size()};
  }

  // Extracts every entry (in directory order) whose name matches `name` (case-insensitive,
  // "\" or "/" as separators, "*", "?" and "<set>" wildcards) into the stream at its position.
  // Returns the number of entries decoded completely with a correct CRC; data of entries
  // that fail stays in the stream. 0 for an empty name or one of only spaces and control
  // characters. An archive that changed since ReadZip has its directory read again. Throws
  // EFatalUnzipError when a stored entry's data ends early, EOutputWriteError when the stream
  // cannot grow.
  int UnZipToStream(bytes::TMemoryStream& stream, std::string_view name);
  int UnZipToStream(bytes::TMemoryStream* stream, std::string_view name);

  // Piece by piece: the entries UnZipToStream would select for `name`, decoded into the
  // same bytes, handed out a piece at a time. A deflated entry is inflated a piece at a time,
  // so any size costs a piece; an entry of another method comes whole, as one piece. The
  // outcomes and the count are those UnZipToStream gives, once the pieces run out.
  // UnZipToStream or another OpenPart ends the reading. Throws as UnZipToStream does.
  void OpenPart(std::string_view name);
  // The next piece, valid until the next call; empty once every selected entry is read.
  std::span<const std::uint8_t> NextPiece();
  // After OpenPart: the bytes the first selected entry states it decodes to, no more than its
  // compressed size can give or the entry size limit allows (0 without an entry). Meant for
  // setting aside room, never for trusting: the entry may decode to fewer or more.
  std::uint64_t PartSizeHint() const;
  // Bytes just before the piece NextPiece last gave that the caller may overwrite (see
  // codecs::TInflateStream::RoomBefore); 0 for a piece of an entry decoded whole.
  std::size_t PieceRoomBefore() const;
  // Entries decoded completely with a correct CRC so far.
  int PartExtracted() const;
  // Ends the reading early and lets the archive go.
  void ClosePart();

  // Outcomes of the entries the last UnZipToStream call (or piecewise reading) selected.
  const std::vector<TEntryOutcome>& LastOutcomes() const { return lastOutcomes_; }

  // Hard cap on the bytes one entry may produce, whatever it states (default: the memory
  // stream's own limit). Output beyond it is treated like output beyond the stated size.
  void SetEntrySizeLimit(std::uint64_t limit) { entrySizeLimit_ = limit; }
  // Size of the pieces deflated entries are inflated in when read piece by piece.
  void SetPieceSize(std::size_t size) { pieceSize_ = size; }
  // Piece by piece, the most bytes an entry decoded whole (any method but Deflate) may
  // produce; beyond it NextPiece throws bytes::EFormatError. Default: no limit of its own.
  void SetWholeEntryLimit(std::uint64_t limit) { wholeEntryLimit_ = limit; }

private:
  class TArchiveFile;

  void Forget();
  void ReadDirectory();
  bool RebuildFromLocalHeaders();
  bool HasLocalHeaderAt(std::uint64_t offset) const;
  std::optional<std::uint64_t> DeflateLength(std::uint64_t at) const;
  void BuildIndex();
  void MarkOverlaps();
  bool IsSameFile() const;
  void RememberFile();
  // Where an entry's data starts and how much it may produce; the compressed bytes of an
  // entry that is not stored (decrypted when it is encrypted) are read into `packed`.
  struct TEntryData {
    std::uint64_t at = 0;
    std::uint64_t available = 0; // bytes of the file from `at` on
    std::uint64_t limit = 0;     // most bytes the entry may produce
    std::uint64_t packedSize = 0;
    std::vector<std::uint8_t> packed;
    bool inMemory = false; // the data is in `packed`
  };
  struct TPartState;

  std::vector<std::uint32_t> SelectEntries(std::string_view name);
  // The outcome when the entry ends before its data (unreadable, encrypted, unknown method).
  std::optional<TEntryOutcome> OpenEntry(const TZipEntry& entry, TEntryData& data);
  TEntryOutcome ExtractEntry(const TZipEntry& entry, bytes::TMemoryStream& stream);
  void FinishPartEntry(TEntryOutcome outcome);

  std::u16string zipName_;
  std::unique_ptr<TArchiveFile> file_;
  TZipEntryList entries_;
  TEndOfCentralDir endRecord_;
  // Identity of the file the directory was read from; a matching file re-uses it.
  bool haveDirectory_ = false;
  std::int64_t dirModifiedTime_ = 0;
  std::int64_t dirFileSize_ = -1;
  std::uint64_t dirInode_ = 0;
  std::uint64_t dirDevice_ = 0;
  // Bytes before the archive proper (self-extractor stub): added to every stored offset.
  std::uint64_t baseOffset_ = 0;
  // Folded full name -> entry indexes (directory order), for names without wildcards.
  std::unordered_map<std::string, std::vector<std::uint32_t>> index_;
  std::vector<TEntryOutcome> lastOutcomes_;
  std::vector<bool> overlapping_; // per entry: data overlaps another entry's
  std::uint64_t entrySizeLimit_ = bytes::TMemoryStream::kMaxSize;
  std::size_t pieceSize_ = std::size_t{1} << 20;
  std::uint64_t wholeEntryLimit_ = bytes::TMemoryStream::kMaxSize;
  std::unique_ptr<TPartState> part_; // the piecewise reading under way
};

} // namespace scv::zip
