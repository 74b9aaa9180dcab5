// Bounded access to a locked capability container. Every read and write of a container that
// a source returned goes through here and is checked against the container's real size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "twain/twain.h"

// The four container types TWAIN defines (TWON_ARRAY to TWON_RANGE).
constexpr bool IsKnownContainer(TW_UINT16 conType) {
  return conType == TWON_ARRAY || conType == TWON_ENUMERATION || conType == TWON_ONEVALUE ||
         conType == TWON_RANGE;
}

struct ContainerView {
  uint8_t* base = nullptr;
  size_t size = 0;

  bool Fits(size_t offset, size_t length) const {
    return base != nullptr && offset <= size && length <= size - offset;
  }
  // Bytes readable from `offset` on (0 past the end).
  size_t Available(size_t offset) const { return offset < size ? size - offset : 0; }

  bool Read16(size_t offset, uint16_t* v) const { return ReadBytes(offset, v, 2); }
  bool Read32(size_t offset, uint32_t* v) const { return ReadBytes(offset, v, 4); }
  bool Write32(size_t offset, uint32_t v) { return WriteBytes(offset, &v, 4); }

  bool ReadBytes(size_t offset, void* out, size_t length) const {
    if (!Fits(offset, length)) return false;
    std::memcpy(out, base + offset, length);
    return true;
  }
  bool WriteBytes(size_t offset, const void* data, size_t length) {
    if (!Fits(offset, length)) return false;
    std::memcpy(base + offset, data, length);
    return true;
  }
};
