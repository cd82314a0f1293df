// A document held in memory, given a file name for the extractors, which read their input by
// name (some in a child process of their own).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace scv::api {

// The bytes in an anonymous in-memory file, named through /proc/<pid>/fd/<n> so that a child
// process reaches it too; where that is not possible, an unlinked-on-destruction temporary file
// in $TMPDIR (or /tmp). Path() is empty when neither could be made.
class TDocumentFile {
public:
  explicit TDocumentFile(std::span<const std::uint8_t> bytes);
  ~TDocumentFile();
  TDocumentFile(const TDocumentFile&) = delete;
  TDocumentFile& operator=(const TDocumentFile&) = delete;

  const std::string& Path() const { return path_; }

private:
  bool InMemory(std::span<const std::uint8_t> bytes);
  bool InTemporaryFolder(std::span<const std::uint8_t> bytes);

  int fd_ = -1;
  std::string path_;
  bool unlinkPath_ = false;
};

} // namespace scv::api
