// Files by wide name, the program's own directory and lossless argument conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv::platform {

// Converts an 8-bit argument (the locale's code set) to wide text without loss: a byte that
// is not valid in the code set becomes U+DC00 + byte.
std::u16string ArgumentToWide(std::string_view bytes);

// The inverse: the bytes of the file-system path a wide name stands for.
std::string WideToPath(std::u16string_view name);

bool FileExists(std::string_view path); // exists and is not a directory
bool IsDirectory(std::string_view path);
bool DeleteFile(std::string_view path);

// Full path of the running program's folder, ending in "/".
std::string ProgramDirectory();

// Read-only file opened by wide name. Move-only RAII owner of a POSIX descriptor.
class TFile {
public:
  TFile() = default;
  ~TFile();
  TFile(TFile&& other) noexcept;
  TFile& operator=(TFile&& other) noexcept;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool OpenRead(std::u16string_view name);
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // File size in bytes, or -1.
  std::int64_t Size() const;
  // Modification time in nanoseconds since the epoch, or 0.
  std::int64_t ModifiedTime() const;
  // Reads up to data.size() bytes at offset; returns the count read (short at end), -1 on error.
  std::int64_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) const;
  void Close();

private:
  int fd_ = -1;
};

// Reads a whole file into memory. False when it cannot be opened or read.
bool ReadWholeFile(std::u16string_view name, std::vector<std::uint8_t>& out);

// Output file for the driver: created or truncated, written completely, closed with a check.
class TOutputFile {
public:
  TOutputFile() = default;
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  bool Create(std::string_view path);
  // Writes every byte, looping over partial writes. False on any failure.
  bool WriteAll(std::span<const std::uint8_t> data);
  // Closes the file; false when the close reports an error (delayed write failure).
  bool Close();

private:
  int fd_ = -1;
};

// Writes every byte to a descriptor, looping over partial writes and interrupted calls.
bool WriteAllToDescriptor(int fd, std::span<const std::uint8_t> data);

// Reads a descriptor (standard input, a pipe) to its end. False when a read fails.
bool ReadAllFromDescriptor(int fd, std::vector<std::uint8_t>& out);

} // namespace scv::platform
