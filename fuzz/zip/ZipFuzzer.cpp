// Fuzzes the ZIP reader: the input is written to an in-memory file, read as an archive, and
// every entry is extracted by name (all decoders run, the legacy ones included), whole and
// piece by piece.
#include "platform/CodePage.h"
#include "support/FuzzFile.h"
#include "zip/ZipReader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string archive = scv::fuzz::WriteFuzzFile(bytes);
  if (archive.empty()) {
    return 0;
  }
  using namespace scv::zip;
  TZipReader reader; // fresh per input: same-size inputs may share a time stamp
  reader.SetZipName(scv::platform::Utf8ToWide(archive));
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
  reader.SetPieceSize(bytes.empty() ? 1 : 1 + bytes.back() % 64 * 97);
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
