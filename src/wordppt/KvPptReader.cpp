// PowerPoint 97-2003 record streams: the current-user check, the edit chain with its persist
// directory, the document walk and the page walk that gathers the text of slides and notes.
#include "wordppt/KvPptReader.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"

#include <unordered_set>

namespace scv::wordppt {
namespace {

bool HasBytes(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t n) {
  return offset <= bytes.size() && n <= bytes.size() - offset;
}

// UTF-16LE code units of a TextCharsAtom body; an odd last byte is no whole code unit.
void AppendUtf16Le(std::span<const std::uint8_t> body, std::u16string& out) {
  const std::size_t units = body.size() / 2;
  const std::size_t base = out.size();
  out.resize(base + units);
  for (std::size_t i = 0; i < units; ++i) {
    out[base + i] = static_cast<char16_t>(body[2 * i] | body[2 * i + 1] << 8);
  }
}

// 8-bit text of a TextBytesAtom is Windows-1252, whatever the target code page.
void AppendWindows1252(std::span<const std::uint8_t> body, std::u16string& out) {
  out += platform::MultiByteToWide(
      platform::kCpWindows1252,
      std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

} // namespace

RecordHeader ParseRecordHeader(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  const std::uint32_t w0 = bytes::LoadU32At(bytes, offset);
  RecordHeader h;
  h.recVer = static_cast<std::uint16_t>(w0 & 0x0F);
  h.recInstance = static_cast<std::uint16_t>((w0 >> 4) & 0x0FFF);
  h.recType = static_cast<std::uint16_t>(w0 >> 16);
  h.recLen = bytes::LoadU32At(bytes, offset + 4);
  return h;
}

TCurrentUser CheckCurrentUser(std::span<const std::uint8_t> currentUser) {
  // An 8-byte header (its type is not looked at), then size, headerToken, offsetToCurrentEdit.
  TCurrentUser cu;
  if (!HasBytes(currentUser, 0, RecordHeader::kSize + 20)) {
    return cu;
  }
  const std::uint32_t size = bytes::LoadU32At(currentUser, 8);
  const std::uint32_t headerToken = bytes::LoadU32At(currentUser, 12);
  if (size != 20) {
    return cu;
  }
  if (headerToken == kHeaderTokenEncrypted) {
    cu.result = -11;
    return cu;
  }
  if (headerToken != kHeaderTokenPlain) {
    return cu;
  }
  cu.proceed = true;
  cu.offsetToCurrentEdit = bytes::LoadU32At(currentUser, 16);
  return cu;
}

void TPersistDirectory::AddEntry(std::span<const std::uint8_t> body) {
  // Blocks: a header word (low 20 bits: first identifier, high 12 bits: count) followed by
  // count offsets. A count running past the body is cut to the words that exist.
  const std::size_t words = body.size() / 4;
  std::size_t i = 0;
  while (i < words) {
    const std::uint32_t header = bytes::LoadU32At(body, 4 * i);
    ++i;
    const std::uint32_t first = header & 0xFFFFF;
    std::size_t count = header >> 20;
    if (count > words - i) {
      count = words - i;
    }
    for (std::size_t k = 0; k < count; ++k) {
      // emplace keeps the offset a newer block gave the identifier.
      offsets_.emplace(first + static_cast<std::uint32_t>(k), bytes::LoadU32At(body, 4 * (i + k)));
    }
    i += count;
  }
}

std::optional<std::uint32_t> TPersistDirectory::Lookup(std::uint32_t persistId) const {
  const auto it = offsets_.find(persistId);
  if (it == offsets_.end()) {
    return std::nullopt;
  }
  return it->second;
}

TPptReader::TPptReader(std::span<const std::uint8_t> document) : doc_(document) {
  constexpr std::size_t kBudgetFloor = 4096;
  // Real text never outgrows its stream much: every piece is stored once, and each page is listed
  // once. Far more output than that comes from pages or texts referenced over and over, which
  // would only exhaust memory.
  maxTextUnits_ = 4 * doc_.size() + kBudgetFloor;
  // Likewise every header of a page is read once when pages do not overlap; pages listed over
  // and over would otherwise cost time quadratic in the stream size.
  pageStepsLeft_ = doc_.size() / 2 + kBudgetFloor;
}

std::span<const std::uint8_t> TPptReader::Body(std::uint64_t offset, std::uint32_t length) const {
  // A body reaching past the stream is cut to the bytes that exist.
  if (offset >= doc_.size()) {
    return {};
  }
  const std::uint64_t avail = doc_.size() - offset;
  return doc_.subspan(static_cast<std::size_t>(offset),
                      static_cast<std::size_t>(length < avail ? length : avail));
}

bool TPptReader::ReadEditChain(std::uint32_t offsetToCurrentEdit) {
  // A UserEditAtom body: 8-11 offsetLastEdit, 12-15 offsetPersistDirectory, 16-19
  // docPersistIdRef (taken from the newest edit only).
  constexpr std::uint32_t kUserEditLen = 28;
  std::unordered_set<std::uint32_t> visitedEdits;
  std::unordered_set<std::uint32_t> seenDirectories;
  std::uint64_t directoryBytes = 0;
  bool first = true;
  std::uint32_t offset = offsetToCurrentEdit;
  while (offset != 0) {
    // An offset already visited would loop forever; the chain ends there and what was read
    // stays in use.
    if (!visitedEdits.insert(offset).second) {
      break;
    }
    const RecordHeader h = ParseRecordHeader(doc_, offset);
    if (h.recType != kRtUserEditAtom || h.recLen != kUserEditLen ||
        !HasBytes(doc_, std::uint64_t{offset} + RecordHeader::kSize, kUserEditLen)) {
      return false;
    }
    const std::uint64_t body = std::uint64_t{offset} + RecordHeader::kSize;
    const std::uint32_t offsetLastEdit = bytes::LoadU32At(doc_, body + 8);
    const std::uint32_t offsetPersistDirectory = bytes::LoadU32At(doc_, body + 12);
    if (first) {
      docPersistIdRef_ = bytes::LoadU32At(doc_, body + 16);
      first = false;
    }
    // An older edit naming a directory already read adds nothing the newer one did not win.
    if (seenDirectories.insert(offsetPersistDirectory).second) {
      const RecordHeader dh = ParseRecordHeader(doc_, offsetPersistDirectory);
      const auto dirBody =
          Body(std::uint64_t{offsetPersistDirectory} + RecordHeader::kSize, dh.recLen);
      // Directories of distinct edits are distinct records, so together they fit in the
      // stream; more means records overlap, which would make indexing quadratic. The chain
      // ends there like a loop does.
      directoryBytes += dirBody.size();
      if (directoryBytes > doc_.size()) {
        break;
      }
      directory_.AddEntry(dirBody);
    }
    offset = offsetLastEdit;
  }
  return !first;
}

void TPptReader::DocumentAtom(const RecordHeader& h, std::uint64_t bodyOffset) {
  switch (h.recType) {
  case kRtSlidePersistAtom: {
    const std::uint32_t persistIdRef = bytes::LoadU32At(doc_, bodyOffset);
    slidePersistList_.push_back(persistIdRef);
    entries_.push_back(SlideTextEntry{persistIdRef, {}});
    break;
  }
  case kRtTextHeaderAtom:
    if (entries_.empty()) {
      throw bytes::EFormatError("TextHeaderAtom", bodyOffset - RecordHeader::kSize,
                                "needs a SlidePersistAtom before it");
    }
    entries_.back().texts.emplace_back();
    break;
  case kRtTextCharsAtom:
  case kRtTextBytesAtom: {
    if (entries_.empty() || entries_.back().texts.empty()) {
      throw bytes::EFormatError(h.recType == kRtTextCharsAtom ? "TextCharsAtom" : "TextBytesAtom",
                                bodyOffset - RecordHeader::kSize,
                                "needs a TextHeaderAtom before it");
    }
    std::u16string& target = entries_.back().texts.back();
    const auto body = Body(bodyOffset, h.recLen);
    if (h.recType == kRtTextCharsAtom) {
      AppendUtf16Le(body, target);
    } else {
      AppendWindows1252(body, target);
    }
    break;
  }
  default:
    break;
  }
}

void TPptReader::WalkDocument(std::uint64_t offset) {
  // Iterative form of the per-record walk: each frame is a container whose children are read
  // until their consumed total reaches its length. A container decides for its own atoms
  // whether they are skipped (the master list's are); the flag does not reach nested ones.
  struct Frame {
    std::uint64_t length;
    std::uint64_t total;
    bool skip;
  };
  std::vector<Frame> stack;
  std::uint64_t pos = offset;
  for (;;) {
    // A header that cannot be read whole ends the walk of its container; positions only move
    // forward, so every enclosing container ends there as well.
    if (!HasBytes(doc_, pos, RecordHeader::kSize)) {
      return;
    }
    const RecordHeader h = ParseRecordHeader(doc_, pos);
    pos += RecordHeader::kSize;
    std::uint64_t consumed = RecordHeader::kSize;
    if (h.IsContainer() && stack.size() < kMaxDepth) {
      stack.push_back(Frame{h.recLen, 0, h.recType == kRtSlideListWithText && h.recInstance == 1});
      consumed = 0; // counted when the container ends
    } else if (h.IsContainer() || (!stack.empty() && stack.back().skip)) {
      // Nested too deeply, or an atom its container skips: passed over by its length.
      pos += h.recLen;
      consumed += h.recLen;
    } else if (h.recType == kRtSlidePersistAtom && h.recLen != 20) {
      // A SlidePersistAtom of another length adds no slide; the next header is read from the
      // first byte of its body.
    } else {
      DocumentAtom(h, pos);
      pos += h.recLen;
      consumed += h.recLen;
    }
    if (stack.empty()) {
      return; // the walked record was an atom
    }
    if (consumed != 0) {
      stack.back().total += consumed;
    }
    while (stack.back().total >= stack.back().length) {
      const std::uint64_t done = RecordHeader::kSize + stack.back().total;
      stack.pop_back();
      if (stack.empty()) {
        return;
      }
      stack.back().total += done;
    }
  }
}

void TPptReader::EmitText(std::u16string_view piece, std::u16string& text) {
  if (piece.size() >= maxTextUnits_ || text.size() > maxTextUnits_ - piece.size() - 1) {
    throw bytes::EFormatError("text", 0, "grows far beyond the stream; pages or texts repeat");
  }
  text += piece;
  text += u'\r';
}

void TPptReader::WalkPage(std::uint32_t persistId, std::uint64_t offset, std::u16string& text) {
  struct ContainerFrame {
    std::uint64_t length;
    std::uint64_t consumed; // 64 bits: 8 + recLen cannot wrap
  };
  if (!HasBytes(doc_, offset, RecordHeader::kSize)) {
    return;
  }
  const RecordHeader page = ParseRecordHeader(doc_, offset);
  if (page.recType != kRtSlide && page.recType != kRtNotes) {
    return;
  }
  std::vector<ContainerFrame> stack{ContainerFrame{page.recLen, 0}};
  if (page.recLen == 0) {
    return;
  }
  std::u16string piece;
  std::uint64_t pos = offset + RecordHeader::kSize;
  for (;;) {
    if (!HasBytes(doc_, pos, RecordHeader::kSize)) {
      return; // a header that cannot be read whole ends the page
    }
    if (pageStepsLeft_ == 0) {
      throw bytes::EFormatError("page", pos, "pages are read far more often than they are listed");
    }
    --pageStepsLeft_;
    const RecordHeader h = ParseRecordHeader(doc_, pos);
    pos += RecordHeader::kSize;
    if (h.IsContainer()) {
      stack.back().consumed += RecordHeader::kSize + std::uint64_t{h.recLen};
      stack.push_back(ContainerFrame{h.recLen, 0});
    } else {
      switch (h.recType) {
      case kRtTextCharsAtom:
        piece.clear();
        AppendUtf16Le(Body(pos, h.recLen), piece);
        EmitText(piece, text);
        break;
      case kRtTextBytesAtom:
        piece.clear();
        AppendWindows1252(Body(pos, h.recLen), piece);
        EmitText(piece, text);
        break;
      case kRtOutlineTextRefAtom: {
        // The index is the first 4 body bytes, whatever the length; missing bytes read as 0.
        const auto body = Body(pos, h.recLen);
        const auto index = static_cast<std::int32_t>(bytes::LoadU32At(body, 0));
        const auto it = entriesById_.find(persistId);
        if (index >= 0 && it != entriesById_.end()) {
          for (const std::size_t e : it->second) {
            const auto& texts = entries_[e].texts;
            if (static_cast<std::size_t>(index) < texts.size()) {
              EmitText(texts[static_cast<std::size_t>(index)], text);
            }
          }
        }
        break;
      }
      default:
        break;
      }
      pos += h.recLen;
      stack.back().consumed += RecordHeader::kSize + std::uint64_t{h.recLen};
    }
    while (stack.back().consumed == stack.back().length) {
      stack.pop_back();
      if (stack.empty()) {
        return;
      }
    }
    if (stack.back().consumed > stack.back().length) {
      // The records overrun their container, so nothing after this point can be placed
      // reliably. Deliberately only this page ends; the next page is read from its own offset.
      return;
    }
  }
}

std::int32_t TPptReader::Extract(std::uint32_t offsetToCurrentEdit, std::u16string& text) {
  if (!ReadEditChain(offsetToCurrentEdit)) {
    return 0;
  }
  const auto docOffset = directory_.Lookup(docPersistIdRef_);
  if (!docOffset) {
    return 0;
  }
  WalkDocument(*docOffset);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    entriesById_[entries_[i].persistIdRef].push_back(i);
  }
  for (const std::uint32_t persistId : slidePersistList_) {
    if (const auto offset = directory_.Lookup(persistId)) {
      WalkPage(persistId, *offset, text);
    }
  }
  return 0;
}

std::int32_t ExtractPptText(const std::vector<std::uint8_t>* currentUser,
                            const std::vector<std::uint8_t>* document, std::u16string& text) {
  if (currentUser == nullptr) {
    return 0;
  }
  const TCurrentUser cu = CheckCurrentUser(*currentUser);
  if (!cu.proceed) {
    return cu.result;
  }
  if (document == nullptr) {
    return 0;
  }
  TPptReader reader(*document);
  return reader.Extract(cu.offsetToCurrentEdit, text);
}

} // namespace scv::wordppt
