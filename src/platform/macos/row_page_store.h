// How the Mac keeps a RowPage (row_page.cpp): the page's rows in memory, in one block that a
// CGImage reads as it is (page_image.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/row_page.h"

struct RowPage {
  uint8_t* rows = nullptr;
  size_t rowBytes = 0;
  uint32_t width = 0;
  uint16_t bits = 0;
  uint32_t capacity = 0;  // rows there is room for
  uint32_t made = 0;      // rows made so far
};
