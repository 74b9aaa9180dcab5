// The pieces of a buffered memory transfer that are plain arithmetic on what the source says:
// the size of the buffer it is given, and where each strip it fills goes. A strip is placed by
// what it says of itself (YOffset, XOffset, Rows, Columns, BytesPerRow, BytesWritten), never by
// what was expected, and is checked first against the page and the buffer: nothing is read
// outside what the source filled, nothing written outside the page.
#pragma once
#include <cstddef>
#include <cstdint>

#include "twain/twain.h"

// The buffer a source fills, from its DAT_SETUPMEMXFER answer: Preferred when it lies within
// Min and Max, else 64 KiB within them (a don't-care Min counts as none, a don't-care or -1
// Max as no limit); at least one whole row of `rowBytes` (0 for a compressed page) where Max
// allows it; even where the limits leave an even size, else the odd one they leave. Never
// outside Min and Max. 0 when the limits leave no size at all (Min above Max, or Max 0).
uint32_t ChooseBufferSize(const TW_SETUPMEMXFER& setup, uint32_t rowBytes);

// Where the rows of a page go while its strips arrive. Rows are `RowBytes()` bytes, top row
// first; Row(y) makes row y exist (the page grows for a source that sends more rows than it
// announced, or did not announce any) and is null when there is no memory for it.
class RowCanvas {
 public:
  virtual ~RowCanvas() = default;
  virtual uint8_t* Row(uint32_t y) = 0;
};

// The page as the canvas holds it.
struct StripPageShape {
  uint32_t width = 0;         // pixels (the page's ImageWidth)
  uint16_t bitsPerPixel = 0;  // 1, 8 or 24
  bool zeroIsWhite = false;   // a 1-bit page in TWPF_VANILLA: its bits are turned over
  bool blueFirst = false;     // the canvas keeps colour as blue, green, red
};

// Bytes of one row of `shape` on the canvas.
size_t ShapeRowBytes(const StripPageShape& shape);

// How a strip went.
enum class StripFit {
  kPlaced,
  kOutsidePage,    // its columns reach past the page's width, or its rows skip rows
  kOutsideBuffer,  // it claims more bytes than the buffer holds, or rows beyond what it wrote
  kNoMemory,       // the canvas could not grow to hold it
};

// The most rows a page may reach, announced or not: a source that keeps on sending is stopped.
constexpr uint32_t kMostPageRows = 1u << 20;

// Places one uncompressed strip from `buffer` (`bufferSize` bytes) on the canvas. `rows` is
// the page's height so far (one past the lowest row placed) and grows with the strip. A
// strip may start at any row already reached or at the next one.
StripFit PlaceStrip(const TW_IMAGEMEMXFER& strip, const uint8_t* buffer, uint32_t bufferSize,
                    const StripPageShape& shape, RowCanvas* canvas, uint32_t* rows);
