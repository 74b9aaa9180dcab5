// A run of bytes that grows, of the extension's own type: the Mac bundle exports every
// instance of a standard template over a standard type (std::vector<uint8_t>), never one over
// the extension's own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

class ByteRun {
 public:
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  // `size` bytes (the first as they were, the rest unset); false when there is no memory.
  bool Resize(size_t size) {
    if (size > capacity_ && !Grow(size)) return false;
    size_ = size;
    return true;
  }
  bool Append(const void* bytes, size_t size) {
    const size_t at = size_;
    if (!Resize(at + size)) return false;
    if (size > 0) std::memcpy(data_.get() + at, bytes, size);
    return true;
  }
  // Empty, its memory freed.
  void Free() {
    data_.reset();
    size_ = capacity_ = 0;
  }

 private:
  bool Grow(size_t size) {
    size_t capacity = capacity_ > 0 ? capacity_ : 4096;
    while (capacity < size) capacity = capacity * 2 > capacity ? capacity * 2 : size;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
    if (!grown) return false;
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    data_.swap(grown);
    capacity_ = capacity;
    return true;
  }

  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
