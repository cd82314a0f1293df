// Builds PowerPoint 97-2003 record streams for tests.
#include "support/PptBuilder.h"

namespace scv::test {
namespace ppt {

TBytes U32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

TBytes Concat(const std::vector<TBytes>& parts) {
  TBytes out;
  for (const auto& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

TBytes RecordWithLen(std::uint16_t recType, std::uint32_t recLen, const TBytes& body,
                     std::uint16_t recInstance, std::uint16_t recVer) {
  const auto verInst = static_cast<std::uint16_t>((recVer & 0x0F) | (recInstance << 4));
  TBytes out{static_cast<std::uint8_t>(verInst), static_cast<std::uint8_t>(verInst >> 8),
             static_cast<std::uint8_t>(recType), static_cast<std::uint8_t>(recType >> 8)};
  const TBytes len = U32(recLen);
  out.insert(out.end(), len.begin(), len.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TBytes Record(std::uint16_t recType, const TBytes& body, std::uint16_t recInstance,
              std::uint16_t recVer) {
  return RecordWithLen(recType, static_cast<std::uint32_t>(body.size()), body, recInstance, recVer);
}

TBytes Container(std::uint16_t recType, const std::vector<TBytes>& children,
                 std::uint16_t recInstance) {
  return Record(recType, Concat(children), recInstance, 0x0F);
}

TBytes TextHeader(std::uint32_t textType) {
  return Record(0x0F9F, U32(textType));
}

TBytes TextChars(const std::u16string& text) {
  TBytes body;
  for (const char16_t u : text) {
    body.push_back(static_cast<std::uint8_t>(u));
    body.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return Record(0x0FA0, body);
}

TBytes TextBytes(const std::string& bytes) {
  return Record(0x0FA8, TBytes(bytes.begin(), bytes.end()));
}

TBytes OutlineTextRef(std::int32_t index) {
  return Record(0x0F9E, U32(static_cast<std::uint32_t>(index)));
}

TBytes SlidePersist(std::uint32_t persistIdRef) {
  return Record(0x03F3, Concat({U32(persistIdRef), U32(0), U32(0), U32(256), U32(0)}));
}

TBytes SlideList(std::uint16_t instance, const std::vector<TBytes>& children) {
  return Container(0x0FF0, children, instance);
}

TBytes Document(const std::vector<TBytes>& children) {
  // A DocumentAtom-like leading atom, which the walk passes over.
  std::vector<TBytes> all{Record(0x03E9, TBytes(40, 0))};
  all.insert(all.end(), children.begin(), children.end());
  return Container(0x03E8, all);
}

TBytes Slide(const std::vector<TBytes>& records) {
  // SlideAtom, then the page's shapes inside a drawing container (0x040C).
  return Container(0x03EE, {Record(0x03EF, TBytes(24, 0)), Container(0x040C, records)});
}

TBytes Notes(const std::vector<TBytes>& records) {
  return Container(0x03F0, {Record(0x03F1, TBytes(8, 0)), Container(0x040C, records)});
}

std::vector<std::uint32_t> DirectoryBlock(std::uint32_t first,
                                          const std::vector<std::uint32_t>& offsets) {
  std::vector<std::uint32_t> words{first | static_cast<std::uint32_t>(offsets.size()) << 20};
  words.insert(words.end(), offsets.begin(), offsets.end());
  return words;
}

} // namespace ppt

std::uint32_t TPptBuilder::Append(const TBytes& bytes) {
  const auto offset = static_cast<std::uint32_t>(stream_.size());
  stream_.insert(stream_.end(), bytes.begin(), bytes.end());
  return offset;
}

std::uint32_t TPptBuilder::AppendDirectory(const std::vector<std::uint32_t>& words) {
  TBytes body;
  for (const std::uint32_t w : words) {
    const TBytes b = ppt::U32(w);
    body.insert(body.end(), b.begin(), b.end());
  }
  return Append(ppt::Record(0x1772, body));
}

std::uint32_t TPptBuilder::AppendUserEdit(std::uint32_t offsetLastEdit,
                                          std::uint32_t offsetPersistDirectory,
                                          std::uint32_t docPersistIdRef, std::uint32_t recLen) {
  TBytes body = ppt::Concat({ppt::U32(256), ppt::U32(0x03000000), ppt::U32(offsetLastEdit),
                             ppt::U32(offsetPersistDirectory), ppt::U32(docPersistIdRef),
                             ppt::U32(0), ppt::U32(1)});
  body.resize(recLen < body.size() ? body.size() : recLen, 0);
  return Append(ppt::RecordWithLen(0x0FF5, recLen, body));
}

std::uint32_t TPptBuilder::Save(const std::map<std::uint32_t, std::uint32_t>& persistOffsets,
                                std::uint32_t docPersistIdRef) {
  std::vector<std::uint32_t> words;
  auto it = persistOffsets.begin();
  while (it != persistOffsets.end()) {
    const std::uint32_t first = it->first;
    std::vector<std::uint32_t> offsets;
    std::uint32_t next = first;
    while (it != persistOffsets.end() && it->first == next) {
      offsets.push_back(it->second);
      ++next;
      ++it;
    }
    const auto block = ppt::DirectoryBlock(first, offsets);
    words.insert(words.end(), block.begin(), block.end());
  }
  const std::uint32_t dir = AppendDirectory(words);
  lastEdit_ = AppendUserEdit(lastEdit_, dir, docPersistIdRef);
  return lastEdit_;
}

TBytes TPptBuilder::CurrentUser(std::uint32_t offsetToCurrentEdit, std::uint32_t headerToken,
                                std::uint32_t size) {
  // size, headerToken, offsetToCurrentEdit, user name length, file version, major and minor
  // version, unused; then the user name.
  TBytes body = ppt::Concat({ppt::U32(size),
                             ppt::U32(headerToken),
                             ppt::U32(offsetToCurrentEdit),
                             {4, 0, 0xF4, 0x03},
                             {3, 0, 0, 0},
                             {'u', 's', 'e', 'r'}});
  return ppt::Record(0x0FF6, body);
}

TPptBuilder SimpleDeck(const std::vector<TBytes>& documentChildren,
                       const std::vector<TBytes>& pages) {
  TPptBuilder b;
  b.Append(ppt::Record(0x0000, TBytes(4, 0))); // keeps offset 0 free of content records
  std::map<std::uint32_t, std::uint32_t> offsets;
  std::uint32_t id = 2;
  for (const auto& page : pages) {
    offsets[id++] = b.Append(page);
  }
  offsets[1] = b.Append(ppt::Document(documentChildren));
  b.Save(offsets, 1);
  return b;
}

} // namespace scv::test
