// Fuzzes the ZIP reader: the input is written to an in-memory file, read as an archive, and
// every entry is extracted by name (all decoders run, the legacy ones included), whole and
// piece by piece.
#include "platform/CodePage.h"
#include "zip/ZipReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// One anonymous in-memory file, reached by name through /proc.
int FuzzFile() {
  static const int fd = memfd_create("zipfuzz", 0);
  return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) {
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
  using namespace scv::zip;
  TZipReader reader; // fresh per input: same-size inputs may share a time stamp
  reader.SetZipName(scv::platform::Utf8ToWide("/proc/self/fd/" + std::to_string(fd)));
  reader.SetEntrySizeLimit(std::uint64_t{64} << 20);
  try {
    reader.ReadZip();
  } catch (const EZipError&) {
    return 0;
  }
  scv::bytes::TMemoryStream stream;
  const std::size_t count = reader.Count() < 64 ? reader.Count() : 64;
  // Piece by piece, in pieces of a size the input picks, the reader gives what whole
  // extraction gives: bytes, count, outcomes and failure.
  reader.SetPieceSize(size == 0 ? 1 : 1 + data[size - 1] % 64 * 97);
  for (std::size_t i = 0; i < count; ++i) {
    stream.Clear();
    const std::string name = reader.Entry(i).FullName();
    int extracted = -1;
    try {
      extracted = reader.UnZipToStream(stream, name);
    } catch (const EZipError&) {
    }
    const std::vector<TEntryOutcome> outcomes = reader.LastOutcomes();
    std::string pieces;
    int piecewise = -1;
    try {
      reader.OpenPart(name);
      for (auto p = reader.NextPiece(); !p.empty(); p = reader.NextPiece()) {
        pieces.append(reinterpret_cast<const char*>(p.data()), p.size());
      }
      piecewise = reader.PartExtracted();
    } catch (const EZipError&) {
    }
    if (piecewise != extracted ||
        (extracted >= 0 && (reader.LastOutcomes() != outcomes ||
                            pieces != std::string_view(reinterpret_cast<const char*>(stream.Data()),
                                                       stream.Size())))) {
      __builtin_trap();
    }
    reader.ClosePart();
  }
  if (count != 0) {
    stream.Clear();
    try {
      reader.UnZipToStream(stream, "*<a-m>?.x*");
    } catch (const EZipError&) {
    }
  }
  return 0;
}
