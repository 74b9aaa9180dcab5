// TWAIN strings in either encoding: NUL-terminated (Windows) or length-prefixed (Mac). Every
// read and write stays inside the bytes it is given.
#include <cstring>

#include "twain/twain.h"

namespace tw {

bool EncodeString(void* at, size_t room, const char* text, size_t maxChars, bool pascal) {
  if (room == 0) return false;
  auto* p = static_cast<uint8_t*>(at);
  size_t n = strnlen(text, maxChars);
  if (n > room - 1) n = room - 1;
  if (n > 255 && pascal) n = 255;
  if (pascal) {
    p[0] = static_cast<uint8_t>(n);
    std::memcpy(p + 1, text, n);
  } else {
    std::memcpy(p, text, n);
    p[n] = 0;
  }
  return true;
}

void DecodeString(const void* at, size_t room, char* out, size_t outSize, bool pascal) {
  const auto* p = static_cast<const uint8_t*>(at);
  size_t n = 0;
  if (room > 0) {
    if (pascal) {
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

void PutString(char* field, size_t size, const char* s, bool pascal) {
  std::memset(field, 0, size);
  EncodeString(field, size, s, 255, pascal);
}

void GetString(const char* field, size_t size, char* out, bool pascal) {
  DecodeString(field, size, out, size, pascal);
}

}  // namespace tw
