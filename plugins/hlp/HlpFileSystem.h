// The internal file system of a help file: the file header and the B+ tree directory that
// names the internal files.
#pragma once

#include "bytes/FormatError.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace scv::hlp {

class THlpFileSystem {
public:
  // Reads the header and the directory; throws bytes::EFormatError when they are not sound.
  explicit THlpFileSystem(std::span<const std::uint8_t> file);

  // The contents of an internal file (without its 9-byte header), or an empty span when the
  // file is absent. Names are matched with and without the leading "|".
  std::span<const std::uint8_t> Find(std::string_view name) const;
  bool Has(std::string_view name) const;
  const std::map<std::string, std::span<const std::uint8_t>>& Files() const { return files_; }

private:
  // The directory's bytes, and their offset in the file (for the errors).
  void ReadDirectory(std::span<const std::uint8_t> directory, std::uint64_t directoryOffset);
  std::span<const std::uint8_t> InternalFile(std::uint32_t offset) const;

  std::span<const std::uint8_t> file_;
  std::map<std::string, std::span<const std::uint8_t>> files_;
};

} // namespace scv::hlp
