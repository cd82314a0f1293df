// Fuzzes the whole OOXML path: the input is an archive in an in-memory file, converted as a
// document, workbook or presentation (the last byte picks which, and the code page).
#include "ooxml/OfficeXCvt.h"
#include "platform/CodePage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxInput = 1u << 20;

int FuzzFile() {
  static const int fd = memfd_create("ooxmlfuzz", 0);
  return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  const int fd = FuzzFile();
  if (fd < 0 || ftruncate(fd, 0) != 0) {
    return 0;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) {
      return 0;
    }
    done += static_cast<std::size_t>(n);
  }
  using namespace scv::ooxml;
  // Fresh module objects per input: the ZIP reader keeps a directory for an unchanged file,
  // and same-size inputs written in quick succession may look unchanged.
  FinalizeOfficeX();
  InitializeOfficeX();
  SetOfficeXTextLimit(std::size_t{16} << 20);
  SetOfficeXPartLimit(std::uint64_t{16} << 20);
  const std::uint8_t pick = size > 0 ? data[size - 1] : 0;
  // Parts are inflated in pieces of a size the input picks, so that pieces end anywhere.
  SetOfficeXPieceSize(1 + std::size_t{size > 1 ? data[size - 2] : 0u} * 31);
  const std::int32_t codePages[] = {65001, 1200, 1252, 932};
  scv::TConversionResult result;
  const std::int32_t r =
      OfficeXToText(scv::platform::Utf8ToWide("/proc/self/fd/" + std::to_string(fd)), result, 0,
                    pick % 3, codePages[(pick >> 2) & 3]);
  if (r > 0 && static_cast<std::size_t>(r) > result.Capacity()) {
    __builtin_trap();
  }
  if (r < -15 || r == -1 || r == -3) {
    __builtin_trap();
  }
  return 0;
}
