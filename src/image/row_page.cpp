// The part of a page in rows that both builds share: its row buffer's growth.
#include "image/row_page.h"

#include <cstdlib>

bool GrowRowBuffer(uint8_t** buffer, uint32_t* capacity, size_t rowBytes, uint32_t rows) {
  const uint64_t bytes = uint64_t(rowBytes) * rows;
  if (bytes > 0x7FFFFFFF) return false;
  void* grown = std::realloc(*buffer, static_cast<size_t>(bytes));
  if (!grown) return false;
  *buffer = static_cast<uint8_t*>(grown);
  *capacity = rows;
  return true;
}
