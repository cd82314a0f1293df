// Compound files: recognising and opening them, and their streams as byte streams.
#include "storage/TDocFile_U1.h"

#include "bytes/ByteCursor.h"
#include "platform/FileIo.h"
#include "storage/CfbReader.h"
#include "storage/MappedFile.h"

#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace scv::storage {

namespace {

constexpr const char* kStorageIsNil = "Storage is nil";
constexpr const char* kStreamIsNilAtCreation = "Stream is nil!";
constexpr const char* kStreamIsNil = "Stream is nil";

bool Failed(std::uint32_t code) {
  return (code & 0x80000000u) != 0;
}

// StgIsStorageFile: S_OK for a file that holds a whole header starting with the signature,
// STG_E_FILENOTFOUND when it does not exist, S_FALSE when it is something else, and a read
// fault when it exists but cannot be read.
std::uint32_t IsStorageFile(const std::u16string& fileName) {
  const std::string path = platform::WideToPath(fileName);
  if (!platform::FileExists(path)) {
    return platform::IsDirectory(path) ? kStgEAccessDenied : kStgEFileNotFound;
  }
  platform::TFile file;
  if (!file.OpenRead(fileName)) {
    return kStgEAccessDenied;
  }
  std::uint8_t header[kCfbHeaderSize];
  std::size_t have = 0;
  while (have < kCfbHeaderSize) {
    const std::int64_t n = file.ReadAt(have, std::span<std::uint8_t>(header).subspan(have));
    if (n < 0) {
      return kStgEReadFault;
    }
    if (n == 0) {
      break;
    }
    have += static_cast<std::size_t>(n);
  }
  return HasCfbSignature(std::span<const std::uint8_t>(header, have)) ? kStgOk : kStgFalse;
}

} // namespace

// ---- TStream -------------------------------------------------------------------------------

std::int64_t TStream::GetSize() {
  const std::int32_t pos = Seek(0, 1);
  const std::int32_t size = Seek(0, 2);
  Seek(pos, 0);
  return size;
}

void TStream::SetSize64(std::int64_t newSize) {
  if (newSize < std::numeric_limits<std::int32_t>::min() ||
      newSize > std::numeric_limits<std::int32_t>::max()) {
    throw std::range_error("stream size out of range");
  }
  SetSize(static_cast<std::int32_t>(newSize));
}

std::int64_t TStream::Seek64(std::int64_t offset, std::uint16_t origin) {
  if (offset < std::numeric_limits<std::int32_t>::min() ||
      offset > std::numeric_limits<std::int32_t>::max()) {
    throw std::range_error("stream offset out of range");
  }
  return Seek(static_cast<std::int32_t>(offset), origin);
}

std::int32_t TStream::Position() {
  return Seek(0, 1);
}

void TStream::SetPosition(std::int32_t position) {
  Seek(position, 0);
}

std::int32_t TStream::Size() {
  return static_cast<std::int32_t>(GetSize());
}

// ---- TDocFileStream ------------------------------------------------------------------------

TDocFileStream::TDocFileStream(std::shared_ptr<TCfbStream> stream) : stream_(std::move(stream)) {
  if (!stream_) {
    lastError_ = kStreamIsNilAtCreation;
  }
}

TDocFileStream::~TDocFileStream() = default;

bool TDocFileStream::CheckResult(std::int32_t resultCode) {
  const auto code = static_cast<std::uint32_t>(resultCode);
  if (!Failed(code)) {
    return true;
  }
  lastError_ = StorageMessage(code);
  return false;
}

void TDocFileStream::SetSize(std::int32_t) {
  lastError_.clear();
  if (!stream_) {
    lastError_ = kStreamIsNil;
    return;
  }
  // The compound file is open for reading only.
  CheckResult(static_cast<std::int32_t>(kStgEAccessDenied));
}

std::int32_t TDocFileStream::Read(void* buffer, std::int32_t count) {
  lastError_.clear();
  if (!stream_) {
    lastError_ = kStreamIsNil;
    return -1;
  }
  if (count < 0 || (buffer == nullptr && count > 0)) {
    CheckResult(static_cast<std::int32_t>(kStgEInvalidPointer));
    return -1;
  }
  return static_cast<std::int32_t>(stream_->Read(buffer, static_cast<std::size_t>(count)));
}

std::int32_t TDocFileStream::Write(const void*, std::int32_t) {
  lastError_.clear();
  if (!stream_) {
    lastError_ = kStreamIsNil;
    return -1;
  }
  CheckResult(static_cast<std::int32_t>(kStgEAccessDenied));
  return -1;
}

std::int32_t TDocFileStream::Seek(std::int32_t offset, std::uint16_t origin) {
  lastError_.clear();
  if (!stream_) {
    lastError_ = kStreamIsNil;
    return -1;
  }
  std::uint64_t newPosition = 0;
  if (!stream_->Seek(offset, origin, newPosition)) {
    CheckResult(static_cast<std::int32_t>(kStgEInvalidFunction));
    return -1;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(newPosition));
}

namespace {

// Reads n bytes through the stream's own Read; missing bytes stay zero.
// Bytes the stream does not have stay zero.
template <std::size_t N>
void ReadLittleEndian(TDocFileStream& s, std::array<std::uint8_t, N>& bytes) {
  bytes.fill(0);
  s.Read(bytes.data(), static_cast<std::int32_t>(N));
}

} // namespace

std::uint8_t TDocFileStream::ReadByte() {
  std::array<std::uint8_t, 1> b{};
  ReadLittleEndian(*this, b);
  return b[0];
}

std::uint16_t TDocFileStream::ReadWord() {
  std::array<std::uint8_t, 2> b{};
  ReadLittleEndian(*this, b);
  return bytes::LoadU16(b);
}

std::uint32_t TDocFileStream::ReadDWord() {
  std::array<std::uint8_t, 4> b{};
  ReadLittleEndian(*this, b);
  return bytes::LoadU32(b);
}

double TDocFileStream::ReadDouble() {
  std::array<std::uint8_t, 8> b{};
  ReadLittleEndian(*this, b);
  const std::uint64_t bits =
      bytes::LoadU32(b) | std::uint64_t{bytes::LoadU32(std::span(b).subspan<4>())} << 32;
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::vector<std::uint8_t> TDocFileStream::ReadAll() {
  if (!stream_) {
    return {};
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream_->Size()));
  stream_->ReadAt(0, bytes);
  return bytes;
}

std::span<const std::uint8_t> TDocFileStream::Data() const {
  if (!stream_) {
    return {};
  }
  return stream_->Data();
}

std::span<const std::uint8_t> TDocFileStream::View(std::uint64_t offset, std::uint64_t count,
                                                   std::vector<std::uint8_t>& scratch) const {
  if (!stream_) {
    return {};
  }
  return stream_->View(offset, count, scratch);
}

std::vector<std::span<const std::uint8_t>> TDocFileStream::Spans(std::uint64_t offset,
                                                                 std::uint64_t count) const {
  if (!stream_) {
    return {};
  }
  return stream_->Spans(offset, count);
}

std::uint64_t TDocFileStream::StreamSize() const {
  return stream_ ? stream_->Size() : 0;
}

// ---- TDocFileStorage -----------------------------------------------------------------------

TDocFileStorage::TDocFileStorage(std::shared_ptr<TCfbFile> storage) : storage_(std::move(storage)) {
  if (!storage_) {
    lastError_ = kStorageIsNil;
  }
}

TDocFileStorage::~TDocFileStorage() = default;

bool TDocFileStorage::CheckResult(std::int32_t resultCode) {
  const auto code = static_cast<std::uint32_t>(resultCode);
  if (!Failed(code)) {
    return true;
  }
  lastError_ = StorageMessage(code);
  return false;
}

std::unique_ptr<TDocFileStream> TDocFileStorage::OpenStream(const std::u16string& name,
                                                            std::uint32_t) {
  if (!storage_) {
    lastError_ = kStorageIsNil;
    return nullptr;
  }
  lastError_.clear();
  if (name.size() > 31) {
    CheckResult(static_cast<std::int32_t>(kStgEInvalidName));
    return nullptr;
  }
  auto stream = storage_->OpenStream(name);
  if (!stream) {
    CheckResult(static_cast<std::int32_t>(kStgEFileNotFound));
    return nullptr;
  }
  return std::make_unique<TDocFileStream>(std::move(stream));
}

// ---- free operations -----------------------------------------------------------------------

std::int32_t CheckStorageFile(const std::u16string& fileName) {
  const std::uint32_t code = IsStorageFile(fileName);
  if (code == kStgOk) {
    return 0;
  }
  return code == kStgEFileNotFound ? -2 : -5;
}

std::unique_ptr<TDocFileStorage> OpenStorageFile(const std::u16string& fileName, std::uint32_t) {
  std::span<const std::uint8_t> bytes;
  std::shared_ptr<const void> owner = LoadInputFile(fileName, bytes);
  if (!owner) {
    return nullptr;
  }
  std::shared_ptr<TCfbFile> file;
  try {
    file = TCfbFile::Open(std::move(owner), bytes);
  } catch (const std::exception&) {
    return nullptr; // corrupt header or directory, or no memory for the tables
  }
  return std::make_unique<TDocFileStorage>(std::move(file));
}

std::unique_ptr<TDocFileStorage> OpenStorageBytes(std::vector<std::uint8_t> bytes) {
  std::shared_ptr<TCfbFile> file;
  try {
    file = TCfbFile::Open(std::move(bytes));
  } catch (const std::exception&) {
    return nullptr; // corrupt header or directory, or no memory for the tables
  }
  return std::make_unique<TDocFileStorage>(std::move(file));
}

} // namespace scv::storage
