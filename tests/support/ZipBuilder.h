// Builds ZIP archives in memory for tests: stored and deflated entries, raw payloads, wrong
// sizes and CRCs on request, data descriptors, ZIP64 records and leading bytes.
#pragma once

#include "support/BitWriter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scv::test {

struct TZipItem {
  std::string name;                   // stored as given (use "/" or "\" as the test needs)
  std::string data;                   // the uncompressed bytes
  std::uint16_t method = 0;           // 0 stored, 8 deflated (encoded here); others need `payload`
  std::optional<std::string> payload; // compressed bytes to store instead of encoding `data`
  std::optional<std::uint32_t> crc;   // CRC to state instead of the real one
  std::optional<std::uint64_t> statedSize;       // uncompressed size to state
  std::optional<std::uint64_t> statedCompressed; // compressed size to state
  std::uint16_t flags = 0;
  std::uint16_t versionMadeBy = 0x031E; // Unix host, so names stay as they are
  bool dataDescriptor = false;          // zeros in the local header, values after the data
  bool zip64 = false;                   // sizes and offset through the ZIP64 extra field
  TDeflateMode deflateMode = TDeflateMode::kDynamic;
};

class TZipBuilder {
public:
  TZipItem& Add(std::string name, std::string data, std::uint16_t method = 0);
  // Leading bytes before the first local header (offsets are written without them).
  void SetPrefix(std::string prefix) { prefix_ = std::move(prefix); }
  void SetComment(std::string comment) { comment_ = std::move(comment); }
  // Writes ZIP64 end record and locator with saturated 32-bit fields in the end record.
  void SetZip64End(bool on) { zip64End_ = on; }
  // Entry count stated in the end record instead of the real one.
  void SetStatedCount(std::uint64_t count) { statedCount_ = count; }
  // Central-directory offset stated instead of the real one.
  void SetStatedDirOffset(std::uint64_t offset) { statedDirOffset_ = offset; }

  std::string Build() const;

private:
  std::vector<TZipItem> items_;
  std::string prefix_;
  std::string comment_;
  bool zip64End_ = false;
  std::optional<std::uint64_t> statedCount_;
  std::optional<std::uint64_t> statedDirOffset_;
};

// CRC-32 computed independently of the product code (one table lookup per byte); the update
// form continues a CRC over more bytes, starting from 0.
std::uint32_t ReferenceCrc32(std::string_view data);
std::uint32_t ReferenceCrc32Update(std::uint32_t crc, std::string_view data);

} // namespace scv::test
