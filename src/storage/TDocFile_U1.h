// Compound files: recognising and opening them, and their streams as byte streams with typed
// little-endian readers.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace scv::storage {

class TCfbFile;   // the opened compound file (CfbReader.h)
class TCfbStream; // one stream of it, read from memory

// Abstract byte stream. Position and Size are derived from Seek.
class TStream {
public:
  virtual ~TStream() = default;
  virtual std::int64_t GetSize();
  virtual void SetSize(std::int32_t newSize) = 0;
  virtual void SetSize64(std::int64_t newSize);
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Seek(std::int32_t offset, std::uint16_t origin) = 0;
  // Passes offsets within the signed 32-bit range to Seek; throws std::range_error otherwise.
  virtual std::int64_t Seek64(std::int64_t offset, std::uint16_t origin);

  std::int32_t Position();
  void SetPosition(std::int32_t position);
  std::int32_t Size();
};

inline constexpr std::uint32_t kStgmReadShareExclusive = 0x10;

class TDocFileStream : public TStream {
public:
  explicit TDocFileStream(std::shared_ptr<TCfbStream> stream);
  ~TDocFileStream() override;

  void SetSize(std::int32_t newSize) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

  // Typed readers at the current position; missing bytes read as zero.
  std::uint8_t ReadByte();
  std::uint16_t ReadWord();
  std::uint32_t ReadDWord();
  double ReadDouble();

  // The whole stream as one contiguous buffer, for parsers that walk it with a cursor.
  // Empty without a stream.
  std::vector<std::uint8_t> ReadAll();
  // The whole stream contiguous, valid while this object lives (assembled once when its
  // sectors are not consecutive in the file). Empty without a stream.
  std::span<const std::uint8_t> Data() const;
  // The bytes [offset, offset + count) cut to the stream, without copying when they are
  // consecutive in the file, else assembled in scratch. Valid while this object and scratch
  // live. Position and LastError are untouched.
  std::span<const std::uint8_t> View(std::uint64_t offset, std::uint64_t count,
                                     std::vector<std::uint8_t>& scratch) const;
  // The bytes [offset, offset + count) cut to the stream, as views of the runs of consecutive
  // sectors they cross, in order. Valid while this object lives.
  std::vector<std::span<const std::uint8_t>> Spans(std::uint64_t offset, std::uint64_t count) const;
  // The stream's size as a 64-bit value; 0 without a stream.
  std::uint64_t StreamSize() const;

  bool CheckResult(std::int32_t resultCode);
  const std::string& LastError() const { return lastError_; }

private:
  std::shared_ptr<TCfbStream> stream_;
  std::string lastError_;
};

class TDocFileStorage {
public:
  explicit TDocFileStorage(std::shared_ptr<TCfbFile> storage);
  ~TDocFileStorage();

  // Opens a stream of the root storage by name (compared as the compound-file format does,
  // without regard to case). Null when it does not exist; LastError then says why.
  std::unique_ptr<TDocFileStream> OpenStream(const std::u16string& name, std::uint32_t mode);

  bool CheckResult(std::int32_t resultCode);
  const std::string& LastError() const { return lastError_; }

private:
  std::shared_ptr<TCfbFile> storage_;
  std::string lastError_;
};

// 0 for a compound file, -2 when the file does not exist, -5 otherwise.
std::int32_t CheckStorageFile(const std::u16string& fileName);

// The opened root storage, or null when the file cannot be opened as a compound file.
std::unique_ptr<TDocFileStorage> OpenStorageFile(const std::u16string& fileName,
                                                 std::uint32_t mode);

// The same over a compound file already in memory (fixtures, fuzzing).
std::unique_ptr<TDocFileStorage> OpenStorageBytes(std::vector<std::uint8_t> bytes);

} // namespace scv::storage
