// Test fixture builder: writes compound files (version 3 or 4) from named streams, with regular
// and mini streams, nested storages, fragmented chains and extra DIFAT sectors on request, and
// reports where it put every structure so tests can corrupt them on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace scv::test {

// Where the last Build put things. Sector numbers are regular sectors unless noted.
struct TCfbLayout {
  std::uint32_t sectorSize = 512;
  std::vector<std::uint32_t> fatSectors;
  std::vector<std::uint32_t> difatSectors;
  std::vector<std::uint32_t> dirSectors;
  std::vector<std::uint32_t> miniFatSectors;
  std::vector<std::uint32_t> miniStreamSectors;
  // Per stream path: its directory entry id, whether it lives in the mini stream, and its
  // chain (mini sector numbers for mini streams).
  struct TStreamPlace {
    std::uint32_t dirId = 0;
    bool inMini = false;
    std::vector<std::uint32_t> chain;
  };
  std::map<std::string, TStreamPlace> streams;
  std::map<std::string, std::uint32_t> storages; // storage path -> directory entry id

  std::size_t SectorOffset(std::uint32_t sector) const {
    return (std::size_t{sector} + 1) * sectorSize;
  }
  // File offset of the FAT entry that follows sector.
  std::size_t FatEntryOffset(std::uint32_t sector) const {
    const std::uint32_t per = sectorSize / 4;
    return SectorOffset(fatSectors.at(sector / per)) + std::size_t{sector % per} * 4;
  }
  // File offset of directory entry id (128 bytes each).
  std::size_t DirEntryOffset(std::uint32_t id) const {
    const std::uint32_t per = sectorSize / 128;
    return SectorOffset(dirSectors.at(id / per)) + std::size_t{id % per} * 128;
  }
  // File offset of byte offset within a regular stream.
  std::size_t StreamByteOffset(const std::string& path, std::size_t offset) const {
    const auto& place = streams.at(path);
    return SectorOffset(place.chain.at(offset / sectorSize)) + offset % sectorSize;
  }
};

class TCfbBuilder {
public:
  explicit TCfbBuilder(int majorVersion = 3) : majorVersion_(majorVersion) {}

  // Adds a stream. A path with '/' places it in storages created on the way
  // ("ObjectPool/_1/WordDocument"). Streams under 4096 bytes go to the mini stream.
  TCfbBuilder& AddStream(const std::string& path, std::string bytes);
  // The same with a UTF-16 name (root storage only).
  TCfbBuilder& AddStream(const std::u16string& name, std::string bytes);
  TCfbBuilder& AddStorage(const std::string& path);
  // Pads the FAT with unused sectors so that the file needs at least count DIFAT sectors.
  TCfbBuilder& SetDifatSectors(std::uint32_t count) {
    difatSectors_ = count;
    return *this;
  }
  // Interleaves the sectors of the regular streams, so no chain is one contiguous run.
  TCfbBuilder& SetFragmented(bool on) {
    fragmented_ = on;
    return *this;
  }

  // The compound file's bytes.
  std::string Build();
  std::vector<std::uint8_t> BuildBytes();
  // Where the last Build put things.
  const TCfbLayout& Layout() const { return layout_; }

  // Shorthand: a version 3 (or 4) file holding these streams of the root storage.
  static std::string Make(const std::vector<std::pair<std::string, std::string>>& streams,
                          int majorVersion = 3);

private:
  struct TNode {
    std::u16string name;
    std::string path;
    std::uint8_t type = 0; // 1 storage, 2 stream, 5 root
    std::string bytes;
    std::vector<std::size_t> children;
  };
  std::size_t FindOrAddStorage(const std::string& path);

  int majorVersion_;
  std::uint32_t difatSectors_ = 0;
  bool fragmented_ = false;
  std::vector<TNode> nodes_{TNode{u"Root Entry", "", 5, {}, {}}};
  TCfbLayout layout_;
};

// Little-endian patching helpers for corrupting built files.
void PutU16(std::string& bytes, std::size_t offset, std::uint16_t value);
void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value);

// The main stream of a Word document older than Word 97: the "WordDocument" stream of a
// Word 6/95 compound file, or the whole of a Word for Windows 1.x/2.x file. Holds the FIB
// header (wIdent, nFib, lid, flag word, fcMin, fcMac), the Word 6/95 place of the CLX, and bytes
// put at chosen offsets; the text usually starts at 0x300, past the FIB.
struct TOldWordStream {
  static constexpr std::uint16_t kWord6 = 0xA5DC;    // wIdent of Word 6/95
  static constexpr std::uint16_t kWinWord2 = 0xA5DB; // wIdent of Word for Windows 2.x
  static constexpr std::uint16_t kWinWord1 = 0xA59B; // wIdent of Word for Windows 1.x
  static constexpr std::uint16_t kComplex = 0x0004;  // fast-saved: the text is in pieces
  static constexpr std::uint16_t kEncrypted = 0x0100;

  std::string bytes = std::string(0x300, '\0');

  TOldWordStream(std::uint16_t wIdent, std::uint16_t nFib, std::uint16_t lid,
                 std::uint16_t flags = 0);
  // fcMin and fcMac.
  TOldWordStream& Range(std::uint32_t fcMin, std::uint32_t fcMac);
  // The text at fcMin, with fcMac just past it.
  TOldWordStream& Text(std::uint32_t fcMin, const std::string& text);
  // fcClx and lcbClx (Word 6/95 offsets 0x160 and 0x164).
  TOldWordStream& ClxPlace(std::uint32_t fcClx, std::uint32_t lcbClx);
  // The CLX at fcClx, its place and size in the FIB.
  TOldWordStream& Clx(std::uint32_t fcClx, const std::string& clx);
  TOldWordStream& Put(std::size_t offset, const std::string& data);
  // A Word 6/95 file: a compound file holding the stream as "WordDocument".
  std::string CompoundFile() const;
};

// A Word 6/95 CLX: the prefix (property modifier blocks, or anything else), then a piece table
// of the character positions and, for each piece, its stream offset (Word 6/95 pieces are 8-bit
// text at a plain offset).
std::string Word6Clx(const std::vector<std::uint32_t>& cps, const std::vector<std::uint32_t>& fcs,
                     const std::string& prefix = {});

} // namespace scv::test
