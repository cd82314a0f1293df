// Fuzzes the compound-file reader: open, list the root storage, open and read every stream
// through the stream object's positioned and typed reads.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/CfbReader.h"
#include "storage/TDocFile_U1.h"

namespace {
constexpr std::size_t kMaxInput = 4u << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  using namespace scv::storage;
  std::shared_ptr<TCfbFile> file;
  try {
    file = TCfbFile::Open(std::vector<std::uint8_t>(data, data + size));
  } catch (const ECfbError&) {
    return 0;
  }
  TDocFileStorage storage(file);
  for (const std::u16string& name : file->RootEntryNames()) {
    auto stream = storage.OpenStream(name, kStgmReadShareExclusive);
    if (!stream) {
      continue;
    }
    const std::int32_t total = stream->Size();
    std::uint8_t buffer[97];
    std::uint64_t sum = 0;
    while (stream->Read(buffer, sizeof buffer) > 0) {
      sum += buffer[0];
    }
    stream->Seek(total / 2, 0);
    sum += stream->ReadDWord() + stream->ReadWord() + stream->ReadByte();
    stream->Seek(-3, 2);
    sum += static_cast<std::uint64_t>(stream->ReadDouble() != 0.0);
    if (stream->Position() < 0 || sum == 0xFFFFFFFFFFFFFFFFull) {
      __builtin_trap();
    }
  }
  return 0;
}
