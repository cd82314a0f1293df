// A whole input file as read-only bytes in memory.
#include "storage/MappedFile.h"

#include "platform/FileIo.h"

#include <sys/mman.h>
#include <vector>

namespace scv::storage {

namespace {

// Below this size a read costs less than setting up a mapping.
constexpr std::int64_t kMinMappedSize = std::int64_t{256} * 1024;

class TMapping {
public:
  TMapping(void* address, std::size_t size) : address_(address), size_(size) {}
  ~TMapping() { munmap(address_, size_); }
  TMapping(const TMapping&) = delete;
  TMapping& operator=(const TMapping&) = delete;
  std::span<const std::uint8_t> Bytes() const {
    return {static_cast<const std::uint8_t*>(address_), size_};
  }

private:
  void* address_;
  std::size_t size_;
};

} // namespace

std::shared_ptr<const void> LoadInputFile(const std::u16string& fileName,
                                          std::span<const std::uint8_t>& bytes) {
  platform::TFile file;
  if (file.OpenRead(fileName)) {
    const std::int64_t size = file.Size();
    if (size >= kMinMappedSize && static_cast<std::uint64_t>(size) <= SIZE_MAX) {
      void* address = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE,
                           file.Descriptor(), 0);
      if (address != MAP_FAILED) {
        auto mapping = std::make_shared<const TMapping>(address, static_cast<std::size_t>(size));
        bytes = mapping->Bytes();
        return mapping;
      }
    }
  }
  // Small files, and files the system will not map (pipes, special file systems): one read.
  auto buffer = std::make_shared<std::vector<std::uint8_t>>();
  if (!platform::ReadWholeFile(fileName, *buffer)) {
    return nullptr;
  }
  bytes = *buffer;
  return buffer;
}

} // namespace scv::storage
