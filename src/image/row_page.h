// Pages that arrive in rows (memory transfers). Each build keeps them its own way, in
// platform/<os>/row_page.cpp; shared code reaches them only through this port.
#pragma once
#include <cstddef>
#include <cstdint>

#include "traits/build_traits.h"

// A RowPage holds a page that a source sends in strips, as rows the platform's writers take:
// Windows, the rows of a top-down DIB (1-bit black and white, 8-bit grey, 24-bit
// blue-green-red), of which only a window is in memory, the rest in a spool file, read back by
// the writers a window at a time; Mac, rows of 1-bit grey, 8-bit grey or 24-bit RGB that a
// CGImage reads. 1-bit rows hold 1 for white. The page grows to the rows that come, whatever
// length was announced.
struct RowPage;
// Colour rows keep blue first where the platform's writers take them so.
constexpr bool kRowPageBlueFirst = kWindowsBuild;
// The shapes a RowPage takes: 1, 8 or 24 bits a pixel, 1 to 2^20 pixels wide.
constexpr bool IsRowPageShape(uint32_t width, uint16_t bitsPerPixel) {
  return width > 0 && width <= 0x100000 && (bitsPerPixel == 1 || bitsPerPixel == 8 || bitsPerPixel == 24);
}
// The rows a RowPage of `capacity` rows grows to so that it holds row y: doubled until it does.
constexpr uint32_t RowPageGrowth(uint32_t capacity, uint32_t y) {
  uint32_t rows = capacity > 0 ? capacity : 1;
  while (rows <= y) rows = rows < 0x40000000 ? rows * 2 : y + 1;
  return rows;
}
// The row buffer *buffer, of *capacity rows of `rowBytes`, reallocated to hold `rows` rows;
// false (the buffer as it was) when there is no memory or it would pass 2 GB.
bool GrowRowBuffer(uint8_t** buffer, uint32_t* capacity, size_t rowBytes, uint32_t rows);
// A page `width` pixels wide of 1, 8 or 24 bits a pixel; `expectedRows` (0: not known) is room
// made at once. Null when there is no memory, or for another depth.
RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows);
void FreeRowPage(RowPage* page);
// Row y, at most one past the rows made so far (the page grows to hold it, new rows white);
// valid until the next call. Null when there is no memory or the spool cannot be written.
uint8_t* RowPageRow(RowPage* page, uint32_t y);
// After the last row: the rows made kept where reading finds them (Windows: the window's
// rows written to the spool, or, where the spool refuses them, the page brought into memory).
// False when they cannot be (then RowPageSpoolLost says why).
bool SettleRowPage(RowPage* page);
// The page lost rows because its spool could not be written (the temporary folder is full)
// and there is no memory to hold it whole: a file that cannot be written, where a null row
// otherwise means no memory. Always false on the Mac, which keeps no spool.
bool RowPageSpoolLost(const RowPage* page);
// What a page holds: its width, its bits a pixel, and the rows made so far.
struct RowPageSize {
  uint32_t width = 0;
  uint16_t bitsPerPixel = 0;
  uint32_t rows = 0;
};
RowPageSize RowPageSizeOf(const RowPage* page);
// The rows made so far in one block, each packed (rows of (width x bits + 7) / 8 bytes, one
// after the other), where the build keeps a page so (Mac); null where it does not (Windows:
// the rows are in a spool file).
const uint8_t* RowPageBlock(const RowPage* page);
