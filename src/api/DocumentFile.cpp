// A document held in memory, given a file name for the extractors.
#include "api/DocumentFile.h"

#include "platform/FileIo.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace scv::api {

TDocumentFile::TDocumentFile(std::span<const std::uint8_t> bytes) {
  if (!InMemory(bytes) && !InTemporaryFolder(bytes)) {
    path_.clear(); // both failed and cleaned up after themselves
  }
}

TDocumentFile::~TDocumentFile() {
  if (unlinkPath_) {
    unlink(path_.c_str());
  }
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool TDocumentFile::InMemory(std::span<const std::uint8_t> bytes) {
  fd_ = memfd_create("scv-document", MFD_CLOEXEC);
  if (fd_ < 0) {
    return false;
  }
  // The process's own number, not "self": the PDF converter opens the name in its child.
  path_ = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
  struct stat st {};
  if (!platform::WriteAllToDescriptor(fd_, bytes) || stat(path_.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != bytes.size()) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool TDocumentFile::InTemporaryFolder(std::span<const std::uint8_t> bytes) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  pattern.append("/scv-document-XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    return false;
  }
  path_ = name.data();
  unlinkPath_ = true;
  if (!platform::WriteAllToDescriptor(fd_, bytes)) {
    unlink(path_.c_str());
    unlinkPath_ = false;
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

} // namespace scv::api
