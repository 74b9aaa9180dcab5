// The check of a packed DIB against the block that holds it, before anything else reads it.
// A source's image is only bytes: its header may claim rows, colours or masks the block does
// not have. CheckDib reads nothing beyond `blockSize` bytes and, for a DIB it accepts, says
// where everything lies, so that the conversion reads only what was checked.
//
// Plain C++ on bytes (no Win32 types), so that the fuzz targets build it on any machine.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dib {

// biCompression values this check knows.
enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

// Header sizes: BITMAPCOREHEADER, BITMAPINFOHEADER, the two with masks and V4, V5.
enum : uint32_t {
  kCoreHeader = 12,
  kInfoHeader = 40,
  kV2Header = 52,
  kV3Header = 56,
  kV4Header = 108,
  kV5Header = 124
};

struct Layout {
  uint32_t headerSize = 0;
  uint32_t width = 0;     // pixels, at least 1
  uint32_t height = 0;    // rows, at least 1
  bool topDown = false;   // the header's height was negative
  uint16_t bitCount = 0;  // 1, 4, 8, 16, 24 or 32
  uint32_t compression = kRgb;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue of BI_BITFIELDS
  uint32_t colorCount = 0;        // entries of the colour table
  uint32_t tableOffset = 0;       // from the start of the block
  uint32_t tableEntrySize = 4;    // 3 for the core header's RGBTRIPLE, else 4 (RGBQUAD)
  uint32_t rowsOffset = 0;
  uint32_t rowsSize = 0;  // bytes of pixel data: stride x height, or biSizeImage when compressed
  uint32_t stride = 0;    // bytes per row, a multiple of 4 (0 when compressed)
};

enum class Fault {
  kNone,
  kShortBlock,   // shorter than its header says, or than any header
  kHeaderSize,   // a header size the conversion does not know
  kSize,         // width or height 0, negative width, or more than the block can hold
  kPlanes,       // planes other than 1
  kBitCount,     // not 1, 4, 8, 16, 24 or 32 (or not one the header kind allows)
  kCompression,  // unknown, or not allowed for this bit count or row order
  kColors,       // more colours than the bit count can address, or a table beyond the block
  kMasks,        // colour masks that are 0, not one run of bits, overlapping or too wide
  kRows,         // the pixel rows (or biSizeImage of a compressed DIB) beyond the block
};

// Reads the DIB at `block` of `blockSize` bytes; fills `out` when the DIB is usable.
Fault Check(const uint8_t* block, size_t blockSize, Layout* out);
const char* FaultName(Fault f);

}  // namespace dib
