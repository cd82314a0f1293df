// One anonymous in-memory file per fuzz target, holding the current input, for the readers
// that open their input by name (reached through /proc/self/fd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace scv::fuzz {

// Replaces the file's contents with the bytes; its name, or empty when writing failed.
inline std::string WriteFuzzFile(std::span<const std::uint8_t> bytes) {
  static const int fd = memfd_create("fuzzinput", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0) {
    return {};
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::span<const std::uint8_t> rest = bytes.subspan(done);
    const ssize_t n = pwrite(fd, rest.data(), rest.size(), static_cast<off_t>(done));
    if (n <= 0) {
      return {};
    }
    done += static_cast<std::size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace scv::fuzz
