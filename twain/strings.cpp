#include <cstring>

#include "twain/twain.h"

namespace tw {

void PutString(char* field, size_t size, const char* s, bool pascal) {
  std::memset(field, 0, size);
  size_t n = std::strlen(s);
  if (pascal) {
    if (n > size - 1) n = size - 1;
    if (n > 255) n = 255;
    field[0] = static_cast<char>(n);
    std::memcpy(field + 1, s, n);
  } else {
    if (n > size - 1) n = size - 1;
    std::memcpy(field, s, n);
  }
}

void GetString(const char* field, size_t size, char* out, bool pascal) {
  size_t n;
  if (pascal) {
    n = static_cast<unsigned char>(field[0]);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, field + 1, n);
  } else {
    n = strnlen(field, size - 1);
    std::memcpy(out, field, n);
  }
  out[n] = 0;
}

}  // namespace tw
