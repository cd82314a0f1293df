// The internal file system of a help file.
#include "hlp/HlpFileSystem.h"

#include "hlp/HlpCompressed.h"

#include <algorithm>
#include <string>
#include <vector>

namespace scv::hlp {
namespace {

constexpr std::uint32_t kHelpMagic = 0x00035F3F;
constexpr std::uint16_t kBtreeMagic = 0x293B;
constexpr std::size_t kFileHeaderSize = 9;
constexpr std::size_t kBtreeHeaderSize = 38;
constexpr std::size_t kLeafHeaderSize = 8;
// Index levels above the leaves; real directories have one or two.
constexpr int kMaxLevels = 16;

} // namespace

THlpFileSystem::THlpFileSystem(std::span<const std::uint8_t> file) : file_(file) {
  bytes::TByteCursor cur(file);
  const std::uint32_t magic = cur.ReadU32();
  const std::uint32_t directoryStart = cur.ReadU32();
  if (!cur.Ok() || magic != kHelpMagic) {
    throw bytes::EFormatError("help file header", 0,
                              cur.Ok() ? "not a help file" : cur.FailureText());
  }
  ReadDirectory(InternalFile(directoryStart), std::uint64_t{directoryStart} + kFileHeaderSize);
}

std::span<const std::uint8_t> THlpFileSystem::InternalFile(std::uint32_t offset) const {
  bytes::TByteCursor cur(file_);
  cur.SeekTo(offset);
  cur.ReadU32(); // reserved space
  const std::uint32_t used = cur.ReadU32();
  cur.ReadU8(); // flags
  if (!cur.Ok() || used > cur.Remaining()) {
    throw bytes::EFormatError("internal file header", offset,
                              cur.Ok() ? "more bytes used than the file holds" : cur.FailureText());
  }
  return file_.subspan(offset + kFileHeaderSize, used);
}

void THlpFileSystem::ReadDirectory(std::span<const std::uint8_t> directory,
                                   std::uint64_t directoryOffset) {
  bytes::TByteCursor cur(directory, directoryOffset);
  const std::uint16_t magic = cur.ReadU16();
  cur.ReadU16(); // flags
  const std::uint16_t pageSize = cur.ReadU16();
  cur.Skip(16); // structure
  cur.Skip(2);  // must be zero
  cur.Skip(2);  // page splits
  const std::int16_t rootPage = cur.ReadI16();
  cur.Skip(2); // must be -1
  const std::int16_t totalPages = cur.ReadI16();
  const std::int16_t levels = cur.ReadI16();
  if (!cur.Ok() || magic != kBtreeMagic || pageSize < kLeafHeaderSize || totalPages <= 0 ||
      rootPage < 0 || rootPage >= totalPages || levels <= 0 || levels > kMaxLevels) {
    throw bytes::EFormatError("directory", directoryOffset,
                              cur.Ok() ? "not a sound B+ tree header" : cur.FailureText());
  }
  const auto pages = directory.subspan(kBtreeHeaderSize);
  auto page = [&](std::int32_t n) -> std::span<const std::uint8_t> {
    const std::size_t start = static_cast<std::size_t>(n) * pageSize;
    if (n < 0 || n >= totalPages || start >= pages.size()) {
      throw bytes::EFormatError("directory page", directoryOffset + kBtreeHeaderSize + start,
                                "page " + std::to_string(n) + " lies beyond the directory");
    }
    return pages.subspan(start, std::min<std::size_t>(pageSize, pages.size() - start));
  };
  // Down the leftmost branch to the first leaf page.
  std::int32_t current = rootPage;
  for (int level = 1; level < levels; ++level) {
    bytes::TByteCursor index(page(current));
    index.Skip(4);
    current = index.ReadI16(); // previous page: the leftmost child
  }
  // Along the chain of leaf pages; each page is visited once.
  std::vector<bool> visited(static_cast<std::size_t>(totalPages), false);
  while (current >= 0 && current < totalPages && !visited[static_cast<std::size_t>(current)]) {
    visited[static_cast<std::size_t>(current)] = true;
    bytes::TByteCursor leaf(page(current));
    leaf.Skip(2);
    const std::int16_t entries = leaf.ReadI16();
    leaf.Skip(2);
    const std::int16_t next = leaf.ReadI16();
    for (std::int16_t k = 0; k < entries && leaf.Ok() && leaf.Remaining() > 0; ++k) {
      std::string name = ReadStringZ(leaf);
      const std::uint32_t offset = leaf.ReadU32();
      if (!leaf.Ok()) {
        break;
      }
      try {
        files_.emplace(std::move(name), InternalFile(offset));
      } catch (const bytes::EFormatError&) {
        // A file whose header lies beyond the end stays absent; the others remain usable.
      }
    }
    current = next;
  }
}

std::span<const std::uint8_t> THlpFileSystem::Find(std::string_view name) const {
  if (const auto it = files_.find(std::string(name)); it != files_.end()) {
    return it->second;
  }
  if (!name.empty() && name.front() == '|') {
    if (const auto it = files_.find(std::string(name.substr(1))); it != files_.end()) {
      return it->second;
    }
  }
  return {};
}

bool THlpFileSystem::Has(std::string_view name) const {
  return files_.count(std::string(name)) != 0 ||
         (!name.empty() && name.front() == '|' && files_.count(std::string(name.substr(1))) != 0);
}

} // namespace scv::hlp
