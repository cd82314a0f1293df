// Growable in-memory byte stream with a position: the target of ZIP extraction and the source
// the XML reader loads from.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace scv::bytes {

// Bytes plus a read/write position. Writes go at the position (overwriting, then extending) and
// move it; reads come from the position and move it. Storage grows geometrically and is not
// zero-filled, so reserving room for a large entry costs nothing until bytes are written.
class TMemoryStream {
public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;
  TMemoryStream(TMemoryStream&&) noexcept = default;
  TMemoryStream& operator=(TMemoryStream&&) noexcept = default;

  std::size_t Size() const { return size_; }
  std::size_t Position() const { return position_; }
  bool Empty() const { return size_ == 0; }
  // Moves the position; a position beyond the end is clamped to the end.
  void SetPosition(std::size_t position) { position_ = std::min(position, size_); }
  // Cuts or extends the data (new bytes are zero); the position is clamped to the new size.
  void SetSize(std::size_t size) {
    if (size > size_) {
      Reserve(size);
      std::memset(data_.get() + size_, 0, size - size_);
    }
    size_ = size;
    position_ = std::min(position_, size_);
  }
  // Size 0 and position 0; the storage is kept for the next use.
  void Clear() {
    size_ = 0;
    position_ = 0;
  }
  // Gives the storage back too.
  void Release() {
    data_.reset();
    size_ = 0;
    position_ = 0;
    capacity_ = 0;
  }

  const std::uint8_t* Data() const { return data_.get(); }
  std::uint8_t* Data() { return data_.get(); }
  std::span<const std::uint8_t> Bytes() const { return {data_.get(), size_}; }

  // Writes n bytes at the position; returns n (throws std::bad_alloc when memory runs out).
  std::size_t Write(const void* bytes, std::size_t n) {
    if (n == 0) {
      return 0;
    }
    if (n > kMaxSize - position_) {
      throw std::bad_alloc();
    }
    Reserve(position_ + n);
    std::memcpy(data_.get() + position_, bytes, n);
    Commit(position_ + n);
    return n;
  }
  // Reads up to n bytes from the position; returns the count read.
  std::size_t Read(void* bytes, std::size_t n) {
    const std::size_t count = std::min(n, size_ - position_);
    if (count != 0) {
      std::memcpy(bytes, data_.get() + position_, count);
      position_ += count;
    }
    return count;
  }

  // Low-level access for decoders that write in place: makes room for at least `capacity`
  // bytes in total and returns the storage. The first `keep` bytes survive a move (by default
  // the data; a decoder passes the end of what it has written but not yet committed).
  std::uint8_t* Reserve(std::size_t capacity) { return Reserve(capacity, size_); }
  std::uint8_t* Reserve(std::size_t capacity, std::size_t keep) {
    if (capacity > capacity_) {
      if (capacity > kMaxSize) {
        throw std::bad_alloc();
      }
      std::size_t grown = capacity_ < kMaxSize / 2 ? capacity_ * 2 : kMaxSize;
      grown = std::max({grown, capacity, std::size_t{256}});
      auto fresh = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
      keep = std::min(keep, capacity_);
      if (keep != 0) {
        std::memcpy(fresh.get(), data_.get(), keep);
      }
      data_ = std::move(fresh);
      capacity_ = grown;
    }
    return data_.get();
  }
  // Capacity without growing.
  std::size_t Capacity() const { return capacity_; }
  // Marks the bytes up to `end` as written by a decoder: the position moves to `end` and the
  // size grows to it when shorter. `end` must not exceed the capacity.
  void Commit(std::size_t end) {
    position_ = end;
    size_ = std::max(size_, end);
  }

  // Largest size the stream accepts; keeps size arithmetic far from overflow.
  static constexpr std::size_t kMaxSize = std::size_t{1} << (sizeof(std::size_t) >= 8 ? 40 : 30);

private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  std::size_t capacity_ = 0;
};

} // namespace scv::bytes
