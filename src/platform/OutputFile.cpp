// The destination of a conversion, written as one whole through a temporary file beside it.
#include "platform/OutputFile.h"

#include "platform/FileIo.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace scv::platform {
namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;
// Names tried before giving up when temporary names are taken.
constexpr int kMaxNameTries = 100;
// Bytes of the destination's name kept in the temporary name, so that it stays within the
// 255-byte limit of a name with its prefix and suffix.
constexpr std::size_t kMaxNameStem = 200;

// Owns a descriptor; closes it unless Close was called.
class TDescriptor {
public:
  explicit TDescriptor(int fd) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }
  bool Ok() const { return fd_ >= 0; }
  // False when the close reports an error (a delayed write failure).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && close(fd) == 0;
  }

private:
  int fd_;
};

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The file a name finally stands for, following symbolic links (a dangling link gives the
// name it points at). Empty after too many links.
std::string FollowLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      return path;
    }
    std::array<char, 4096> buf{};
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) {
      return path;
    }
    std::string target(buf.data(), static_cast<std::size_t>(n));
    if (target.front() != '/') {
      const auto slash = path.rfind('/');
      if (slash != std::string::npos) {
        target.insert(0, path.substr(0, slash + 1));
      }
    }
    path = std::move(target);
  }
  return {};
}

// Every byte written and the close checked (a file system that reports a failed write only at
// close, as network file systems do, fails here). The data is not forced to the device: a
// conversion can be run again, and a flush costs milliseconds per file on a busy disk.
bool WriteAndClose(TDescriptor& fd, std::span<const std::uint8_t> data) {
  const bool written = WriteAllToDescriptor(fd.Get(), data);
  const bool closed = fd.Close();
  return written && closed;
}

// The old way, for destinations a new file cannot replace: create or truncate, write.
TPlaceResult WriteDirectly(const std::string& path, std::span<const std::uint8_t> data) {
  TDescriptor fd(OpenRetrying(path, O_RDWR | O_CREAT | O_TRUNC, 0666));
  if (!fd.Ok()) {
    return TPlaceResult::kCreateFailed;
  }
  const bool written = WriteAllToDescriptor(fd.Get(), data);
  return fd.Close() && written ? TPlaceResult::kWritten : TPlaceResult::kWriteFailed;
}

// Without a rename that refuses to replace: a file that must not exist yet, written in place
// and removed again when the write fails.
TPlaceResult WriteExclusively(const std::string& path, std::span<const std::uint8_t> data) {
  TDescriptor fd(OpenRetrying(path, O_RDWR | O_CREAT | O_EXCL, 0666));
  if (!fd.Ok()) {
    return errno == EEXIST ? TPlaceResult::kExists : TPlaceResult::kCreateFailed;
  }
  if (!WriteAndClose(fd, data)) {
    unlink(path.c_str());
    return TPlaceResult::kWriteFailed;
  }
  return TPlaceResult::kWritten;
}

// What truncating an existing file would have kept: its permissions and, where the process may
// give it, its owner (without privileges the new file stays the caller's, as a file the caller
// created would be).
void KeepOwnerAndMode(int fd, const struct stat& st) {
  if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
    errno = 0;
  }
  if (fchmod(fd, st.st_mode & 0777) != 0) {
    errno = 0;
  }
}

// A name for the temporary file: hidden, beside the destination, unlikely to be taken.
std::string TemporaryName(const std::string& folder, const std::string& name, int attempt) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::array<char, 64> tag{};
  std::snprintf(tag.data(), tag.size(), ".%lx%lx%x.tmp", static_cast<unsigned long>(getpid()),
                static_cast<unsigned long>(now.tv_nsec), static_cast<unsigned>(attempt));
  return folder + "." + name.substr(0, kMaxNameStem) + tag.data();
}

// Moves the finished temporary file over or onto the destination.
TPlaceResult MoveIntoPlace(const std::string& temp, const std::string& path, bool replace,
                           std::span<const std::uint8_t> data) {
  if (replace) {
    if (rename(temp.c_str(), path.c_str()) == 0) {
      return TPlaceResult::kWritten;
    }
    const int err = errno;
    unlink(temp.c_str());
    // A file in a sticky folder that belongs to someone else may still be writable in place.
    if (err == EPERM || err == EACCES) {
      return WriteDirectly(path, data);
    }
    return TPlaceResult::kCreateFailed;
  }
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    return TPlaceResult::kWritten;
  }
  if (errno == EEXIST) {
    unlink(temp.c_str());
    return TPlaceResult::kExists;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    unlink(temp.c_str());
    return TPlaceResult::kCreateFailed;
  }
  // The file system has no refusing rename: a hard link refuses an existing name as well.
  const int linked = link(temp.c_str(), path.c_str());
  const int err = errno;
  unlink(temp.c_str());
  if (linked == 0) {
    return TPlaceResult::kWritten;
  }
  if (err == EEXIST) {
    return TPlaceResult::kExists;
  }
  return WriteExclusively(path, data); // no hard links either (FAT and the like)
}

} // namespace

TPlaceResult WriteFileAtomically(std::string_view destination, std::span<const std::uint8_t> data,
                                 bool replace) {
  const std::string path = FollowLinks(std::string(destination));
  if (path.empty() || path.back() == '/') {
    return TPlaceResult::kCreateFailed;
  }
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    return TPlaceResult::kCreateFailed;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    return WriteDirectly(path, data); // a device or a pipe: there is nothing to replace
  }
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < kMaxNameTries && fd < 0; ++attempt) {
    temp = TemporaryName(folder, name, attempt);
    fd = OpenRetrying(temp, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) {
      break;
    }
  }
  TDescriptor file(fd);
  if (!file.Ok()) {
    // A folder that takes no new file may still hold a destination that can be rewritten.
    return exists && replace ? WriteDirectly(path, data) : TPlaceResult::kCreateFailed;
  }
  if (exists && replace) {
    KeepOwnerAndMode(file.Get(), st);
  }
  if (!WriteAndClose(file, data)) {
    unlink(temp.c_str());
    return TPlaceResult::kWriteFailed;
  }
  return MoveIntoPlace(temp, path, replace, data);
}

} // namespace scv::platform
