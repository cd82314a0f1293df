// Fuzzes the compound-file reader: open, list the root storage, open and read every stream
// through the stream object's positioned and typed reads, views and spans.
#include "storage/CfbReader.h"
#include "storage/TDocFile_U1.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {
constexpr std::size_t kMaxInput = 4u << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  using namespace scv::storage;
  const std::span<const std::uint8_t> input(data, size);
  std::shared_ptr<TCfbFile> file;
  try {
    file = TCfbFile::Open(std::vector<std::uint8_t>(input.begin(), input.end()));
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
    // Views and spans across the runs of sectors, from an offset the data picks.
    const std::uint64_t from = size > 0 ? input[size / 2] * 61u : 0;
    std::vector<std::uint8_t> scratch;
    const auto view = stream->View(from, 1000, scratch);
    std::uint64_t spanned = 0;
    for (const auto& part : stream->Spans(from, 1000)) {
      spanned += part.size();
    }
    if (spanned != view.size() || stream->Data().size() != stream->StreamSize()) {
      __builtin_trap();
    }
    if (stream->Position() < 0 || sum == 0xFFFFFFFFFFFFFFFFull) {
      __builtin_trap();
    }
  }
  return 0;
}
