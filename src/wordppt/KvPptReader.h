// PowerPoint 97-2003 record streams: the current-user check, the edit chain with its persist
// directory, the document walk and the page walk that gathers the text of slides and notes.
#pragma once

#include "bytes/FormatError.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>
namespace scv::wordppt {

// Record types the extractor acts on.
inline constexpr std::uint16_t kRtSlide = 0x03EE;
inline constexpr std::uint16_t kRtNotes = 0x03F0;
inline constexpr std::uint16_t kRtSlidePersistAtom = 0x03F3;
inline constexpr std::uint16_t kRtOutlineTextRefAtom = 0x0F9E;
inline constexpr std::uint16_t kRtTextHeaderAtom = 0x0F9F;
inline constexpr std::uint16_t kRtTextCharsAtom = 0x0FA0;
inline constexpr std::uint16_t kRtTextBytesAtom = 0x0FA8;
inline constexpr std::uint16_t kRtSlideListWithText = 0x0FF0;
inline constexpr std::uint16_t kRtUserEditAtom = 0x0FF5;

inline constexpr std::uint32_t kHeaderTokenPlain = 0xE391C05F;
inline constexpr std::uint32_t kHeaderTokenEncrypted = 0xF3D1C4DF;

// Containers nested deeper than this inside the document container are skipped by their length;
// real documents nest a handful of levels.
inline constexpr std::size_t kMaxDepth = 64;

// The 8-byte header in front of every record.
struct RecordHeader {
  std::uint16_t recVer = 0;      // low 4 bits of byte 0; 0xF marks a container
  std::uint16_t recInstance = 0; // 12 bits: high 4 bits of byte 0 and byte 1
  std::uint16_t recType = 0;
  std::uint32_t recLen = 0; // body length, header not counted

  static constexpr std::size_t kSize = 8;
  bool IsContainer() const { return recVer == 0xF; }
};

// Reads a header at offset; bytes beyond the buffer read as zero.
RecordHeader ParseRecordHeader(std::span<const std::uint8_t> bytes, std::uint64_t offset);

// What the "Current User" stream says: go on from offsetToCurrentEdit, or stop with result.
struct TCurrentUser {
  bool proceed = false;
  std::int32_t result = 0; // when !proceed: 0 (no text) or -11 (encrypted)
  std::uint32_t offsetToCurrentEdit = 0;
};
TCurrentUser CheckCurrentUser(std::span<const std::uint8_t> currentUser);

// Maps persist identifiers to stream offsets. Directory bodies are added newest edit first; an
// identifier takes its offset from the first block that lists it, so the newest edit wins and
// identifiers only older edits list resolve through those.
class TPersistDirectory {
public:
  // body: the persist directory record's body (blocks of a header word and offsets).
  void AddEntry(std::span<const std::uint8_t> body);
  std::optional<std::uint32_t> Lookup(std::uint32_t persistId) const;
  std::size_t Size() const { return offsets_.size(); }

private:
  std::unordered_map<std::uint32_t, std::uint32_t> offsets_;
};

// One SlidePersistAtom of the document's slide lists and the texts the list holds for it.
struct SlideTextEntry {
  std::uint32_t persistIdRef = 0;
  std::vector<std::u16string> texts;
};

// The text of a presentation, from its "PowerPoint Document" stream.
class TPptReader {
public:
  explicit TPptReader(std::span<const std::uint8_t> document);

  // Follows the edit chain from offsetToCurrentEdit, walks the document container and every
  // slide and notes page it lists. Appends the text (each piece followed by U+000D) to text.
  // Returns 0, also when there is no text to find; throws bytes::EFormatError on misplaced text
  // records and text that would grow far beyond what the stream holds.
  std::int32_t Extract(std::uint32_t offsetToCurrentEdit, std::u16string& text);

  const std::vector<SlideTextEntry>& Entries() const { return entries_; }
  const std::vector<std::uint32_t>& SlidePersistList() const { return slidePersistList_; }

private:
  // Reads the edit chain; false when it holds something other than a UserEditAtom.
  bool ReadEditChain(std::uint32_t offsetToCurrentEdit);
  void WalkDocument(std::uint64_t offset);
  void DocumentAtom(const RecordHeader& h, std::uint64_t bodyOffset);
  void WalkPage(std::uint32_t persistId, std::uint64_t offset, std::u16string& text);
  void EmitText(std::u16string_view piece, std::u16string& text);
  std::span<const std::uint8_t> Body(std::uint64_t offset, std::uint32_t length) const;

  std::span<const std::uint8_t> doc_;
  TPersistDirectory directory_;
  std::uint32_t docPersistIdRef_ = 0;
  std::vector<SlideTextEntry> entries_;
  std::vector<std::uint32_t> slidePersistList_;
  // Entry indices per persist identifier, in array order, for the outline text references.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> entriesById_;
  std::size_t maxTextUnits_ = 0;
  std::size_t pageStepsLeft_ = 0;
};

// Both streams; null stands for a stream the file does not hold. Returns 0 or a negative
// result code; the gathered text is appended to text.
std::int32_t ExtractPptText(const std::vector<std::uint8_t>* currentUser,
                            const std::vector<std::uint8_t>* document, std::u16string& text);

} // namespace scv::wordppt
