// Bounded access to a locked capability container. Every read and write of a container that
// a source returned goes through here and is checked against the container's real size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "twain/twain.h"

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

// TWAIN strings in the running build's encoding: NUL-terminated on Windows, length-prefixed
// on the Mac. `slot` is the item's size in the container, `available` how much of it the
// container really holds.
namespace capstr {
constexpr bool kPascal = tw::native::kPascalStrings;

// Decodes the string at `p` into `out` (outSize bytes, NUL-terminated), reading no more than
// min(slot, available) bytes.
inline void Decode(const uint8_t* p, size_t slot, size_t available, char* out, size_t outSize) {
  size_t room = slot < available ? slot : available;
  size_t n = 0;
  if (room > 0) {
    if (kPascal) {
      n = p[0];
      if (n > room - 1) n = room - 1;
      ++p;
    } else {
      n = strnlen(reinterpret_cast<const char*>(p), room);
    }
  }
  if (n > outSize - 1) n = outSize - 1;
  std::memcpy(out, p, n);
  out[n] = 0;
}

// Encodes `text` at `p`, using at most `room` bytes (terminator or length byte included) and
// at most `maxChars` characters. Returns false when not even an empty string fits.
inline bool Encode(uint8_t* p, size_t room, const char* text, size_t maxChars) {
  if (room == 0) return false;
  size_t n = strnlen(text, maxChars);
  if (n > room - 1) n = room - 1;
  if (kPascal) {
    p[0] = static_cast<uint8_t>(n);
    std::memcpy(p + 1, text, n);
  } else {
    std::memcpy(p, text, n);
    p[n] = 0;
  }
  return true;
}
}  // namespace capstr
