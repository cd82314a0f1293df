// Files by wide name, the program's own directory and lossless argument conversion.
#include "platform/FileIo.h"

#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scv::platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00; // a byte the code set cannot decode: U+DC00 + byte

bool IsEscape(char16_t c) {
  return c >= kEscapeBase && c <= kEscapeBase + 0xFF;
}

// Decodes UTF-8, keeping every byte of an invalid sequence as an escape.
std::u16string Utf8ToWideLossless(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::size_t len = b < 0x80                   ? 1
                      : (b >= 0xC2 && b <= 0xDF) ? 2
                      : (b >= 0xE0 && b <= 0xEF) ? 3
                      : (b >= 0xF0 && b <= 0xF4) ? 4
                                                 : 0;
    if (len > 1 && i + len <= bytes.size()) {
      const std::u16string decoded = Utf8ToWide(bytes.substr(i, len));
      if (decoded.find(u'\xFFFD') == std::u16string::npos) {
        out += decoded;
        i += len;
        continue;
      }
    } else if (len == 1) {
      out.push_back(b);
      ++i;
      continue;
    }
    out.push_back(static_cast<char16_t>(kEscapeBase + b));
    ++i;
  }
  return out;
}

} // namespace

std::u16string ArgumentToWide(std::string_view bytes) {
  const std::int32_t acp = GetACP();
  if (acp == kCpUtf8) {
    return Utf8ToWideLossless(bytes);
  }
  // Other code sets: decode byte runs that round-trip; escape the bytes that do not.
  std::u16string decoded = MultiByteToWide(acp, bytes);
  if (WideToMultiByte(acp, decoded) == bytes) {
    return decoded;
  }
  std::u16string out;
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      out.push_back(b);
    } else {
      const std::u16string one =
          MultiByteToWide(acp, std::string_view(reinterpret_cast<const char*>(&b), 1));
      if (one.size() == 1 && one[0] != u'\xFFFD') {
        out += one;
      } else {
        out.push_back(static_cast<char16_t>(kEscapeBase + b));
      }
    }
  }
  return out;
}

std::string WideToPath(std::u16string_view name) {
  const std::int32_t acp = GetACP();
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsEscape(name[i])) {
      out += WideToMultiByte(acp, name.substr(start, i - start));
      if (i < name.size()) {
        out.push_back(static_cast<char>(name[i] - kEscapeBase));
      }
      start = i + 1;
    }
  }
  return out;
}

bool FileExists(std::string_view path) {
  struct stat st {};
  return stat(std::string(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDirectory(std::string_view path) {
  struct stat st {};
  return stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view path) {
  return unlink(std::string(path).c_str()) == 0;
}

std::string ProgramDirectory() {
  char buf[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) {
    return "./";
  }
  std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

TFile::~TFile() {
  Close();
}

TFile::TFile(TFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool TFile::OpenRead(std::u16string_view name) {
  Close();
  const std::string path = WideToPath(name);
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

std::int64_t TFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) {
    return -1;
  }
  return st.st_size;
}

std::int64_t TFile::ModifiedTime() const {
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) {
    return 0;
  }
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

std::int64_t TFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) const {
  if (fd_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) {
    return -1;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        pread(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (n == 0) {
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

void TFile::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

bool ReadWholeFile(std::u16string_view name, std::vector<std::uint8_t>& out) {
  TFile file;
  if (!file.OpenRead(name)) {
    return false;
  }
  const std::int64_t size = file.Size();
  if (size < 0) {
    return false;
  }
  out.resize(static_cast<std::size_t>(size));
  const std::int64_t n = file.ReadAt(0, out);
  if (n < 0) {
    return false;
  }
  out.resize(static_cast<std::size_t>(n)); // a file that shrank while read keeps what was there
  return true;
}

TOutputFile::~TOutputFile() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool TOutputFile::Create(std::string_view path) {
  const std::string p(path);
  do {
    fd_ = open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0;
}

bool TOutputFile::WriteAll(std::span<const std::uint8_t> data) {
  return fd_ >= 0 && WriteAllToDescriptor(fd_, data);
}

bool TOutputFile::Close() {
  if (fd_ < 0) {
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  return close(fd) == 0;
}

bool WriteAllToDescriptor(int fd, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const std::size_t chunk = std::min<std::size_t>(data.size() - done, 1u << 30);
    const ssize_t n = write(fd, data.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (n == 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAllFromDescriptor(int fd, std::vector<std::uint8_t>& out) {
  out.clear();
  constexpr std::size_t kChunk = 1 << 16;
  for (;;) {
    const std::size_t used = out.size();
    out.resize(used + kChunk);
    const ssize_t n = read(fd, std::span(out).subspan(used).data(), kChunk);
    if (n < 0 && errno == EINTR) {
      out.resize(used);
      continue;
    }
    out.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n <= 0) {
      return n == 0;
    }
  }
}

} // namespace scv::platform
