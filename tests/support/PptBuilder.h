// Builds PowerPoint 97-2003 record streams for tests: records, containers, text atoms, persist
// directories, user edits and the "Current User" stream.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace scv::test {

using TBytes = std::vector<std::uint8_t>;

namespace ppt {

// One record: 8-byte header then body. recLen is the body size unless given.
TBytes Record(std::uint16_t recType, const TBytes& body, std::uint16_t recInstance = 0,
              std::uint16_t recVer = 0);
TBytes RecordWithLen(std::uint16_t recType, std::uint32_t recLen, const TBytes& body,
                     std::uint16_t recInstance = 0, std::uint16_t recVer = 0);
// A container (recVer 0xF) around the concatenated children.
TBytes Container(std::uint16_t recType, const std::vector<TBytes>& children,
                 std::uint16_t recInstance = 0);

TBytes U32(std::uint32_t v);
TBytes Concat(const std::vector<TBytes>& parts);

TBytes TextHeader(std::uint32_t textType = 0);
TBytes TextChars(const std::u16string& text);
TBytes TextBytes(const std::string& bytes);
TBytes OutlineTextRef(std::int32_t index);
// 20-byte body: persistIdRef, flags, number of texts, slide identifier, reserved.
TBytes SlidePersist(std::uint32_t persistIdRef);

// Slide lists: instance 0 slides, 1 masters, 2 notes.
TBytes SlideList(std::uint16_t instance, const std::vector<TBytes>& children);
// A document container (type 0x03E8) holding the given records.
TBytes Document(const std::vector<TBytes>& children);
// A slide (0x03EE) or notes page (0x03F0) whose records sit in one drawing-like container.
TBytes Slide(const std::vector<TBytes>& records);
TBytes Notes(const std::vector<TBytes>& records);

// Persist directory body words for consecutive identifiers from first.
std::vector<std::uint32_t> DirectoryBlock(std::uint32_t first,
                                          const std::vector<std::uint32_t>& offsets);

} // namespace ppt

// The "PowerPoint Document" stream, grown record by record, with edits on top.
class TPptBuilder {
public:
  // Appends bytes and returns the offset where they start.
  std::uint32_t Append(const TBytes& bytes);

  // A persist directory record holding the words as they stand.
  std::uint32_t AppendDirectory(const std::vector<std::uint32_t>& words);
  // A UserEditAtom (body length recLen; 28 normally) that links to the previous edit.
  std::uint32_t AppendUserEdit(std::uint32_t offsetLastEdit, std::uint32_t offsetPersistDirectory,
                               std::uint32_t docPersistIdRef, std::uint32_t recLen = 28);

  // One save: a directory listing the identifiers (grouped into blocks of consecutive ones) and
  // a UserEditAtom that chains to the previous save. Returns the edit's offset.
  std::uint32_t Save(const std::map<std::uint32_t, std::uint32_t>& persistOffsets,
                     std::uint32_t docPersistIdRef);

  std::uint32_t LastEdit() const { return lastEdit_; }
  const TBytes& Stream() const { return stream_; }

  // The "Current User" stream pointing at offsetToCurrentEdit.
  static TBytes CurrentUser(std::uint32_t offsetToCurrentEdit,
                            std::uint32_t headerToken = 0xE391C05F, std::uint32_t size = 20);
  TBytes CurrentUser() const { return CurrentUser(lastEdit_); }

private:
  TBytes stream_;
  std::uint32_t lastEdit_ = 0;
};

// A one-save presentation: the document container as persist identifier 1 and the pages as 2,
// 3, ... in the order given. Returns the "PowerPoint Document" stream; the current user is
// builder.CurrentUser().
TPptBuilder SimpleDeck(const std::vector<TBytes>& documentChildren,
                       const std::vector<TBytes>& pages);

} // namespace scv::test
