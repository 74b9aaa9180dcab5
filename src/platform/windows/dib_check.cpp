#include "platform/windows/dib_check.h"

namespace dib {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool KnownHeader(uint32_t size) {
  return size == kCoreHeader || size == kInfoHeader || size == kV2Header || size == kV3Header ||
         size == kV4Header || size == kV5Header;
}

bool KnownBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// One run of set bits, within the pixel's bits.
bool GoodMask(uint32_t mask, uint16_t bits) {
  if (mask == 0) return false;
  if (bits < 32 && (mask >> bits) != 0) return false;
  uint32_t low = mask & (~mask + 1);  // lowest set bit
  uint32_t run = mask + low;          // carries out of the run: 0 or a single bit above it
  return (run & (run - 1)) == 0;
}

Fault CheckMasks(const uint32_t masks[3], uint16_t bits) {
  for (int i = 0; i < 3; ++i)
    if (!GoodMask(masks[i], bits)) return Fault::kMasks;
  if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2])) return Fault::kMasks;
  return Fault::kNone;
}

// The fields every header kind has, read into `l`; the core header's are 16-bit.
Fault ReadGeometry(const uint8_t* h, uint32_t headerSize, Layout* l, uint16_t* planes, uint32_t* sizeImage,
                   uint32_t* clrUsed) {
  if (headerSize == kCoreHeader) {
    l->width = Le16(h + 4);
    l->height = Le16(h + 6);
    *planes = Le16(h + 8);
    l->bitCount = Le16(h + 10);
    l->compression = kRgb;
    *sizeImage = 0;
    *clrUsed = 0;
    if (l->width == 0 || l->height == 0) return Fault::kSize;
    return Fault::kNone;
  }
  int32_t width = int32_t(Le32(h + 4));
  int32_t height = int32_t(Le32(h + 8));
  *planes = Le16(h + 12);
  l->bitCount = Le16(h + 14);
  l->compression = Le32(h + 16);
  *sizeImage = Le32(h + 20);
  *clrUsed = Le32(h + 32);
  if (width <= 0 || height == 0 || height == INT32_MIN) return Fault::kSize;
  l->width = uint32_t(width);
  l->topDown = height < 0;
  l->height = uint32_t(height < 0 ? -height : height);
  return Fault::kNone;
}

Fault CheckCompression(Layout* l) {
  switch (l->compression) {
    case kRgb:
      return Fault::kNone;
    case kBitfields:
      return l->bitCount == 16 || l->bitCount == 32 ? Fault::kNone : Fault::kCompression;
    case kRle8:
      return l->bitCount == 8 && !l->topDown ? Fault::kNone : Fault::kCompression;
    case kRle4:
      return l->bitCount == 4 && !l->topDown ? Fault::kNone : Fault::kCompression;
    default:
      return Fault::kCompression;
  }
}

}  // namespace

Fault Check(const uint8_t* block, size_t blockSize, Layout* out) {
  if (!block || blockSize < 4) return Fault::kShortBlock;
  Layout l;
  l.headerSize = Le32(block);
  if (!KnownHeader(l.headerSize)) return Fault::kHeaderSize;
  if (blockSize < l.headerSize) return Fault::kShortBlock;

  uint16_t planes = 0;
  uint32_t sizeImage = 0, clrUsed = 0;
  Fault f = ReadGeometry(block, l.headerSize, &l, &planes, &sizeImage, &clrUsed);
  if (f != Fault::kNone) return f;
  if (planes != 1) return Fault::kPlanes;
  if (!KnownBitCount(l.bitCount)) return Fault::kBitCount;
  const bool core = l.headerSize == kCoreHeader;
  if (core && (l.bitCount == 16 || l.bitCount == 32)) return Fault::kBitCount;
  if ((f = CheckCompression(&l)) != Fault::kNone) return f;

  // What follows the header: the masks of a 40-byte BI_BITFIELDS header, then the colour table.
  uint64_t at = l.headerSize;
  if (l.compression == kBitfields) {
    const uint8_t* m = block + kInfoHeader;  // inside the larger headers, after the 40 bytes
    if (l.headerSize == kInfoHeader) {
      if (blockSize < at + 12) return Fault::kShortBlock;
      m = block + at;
      at += 12;
    }
    for (int i = 0; i < 3; ++i) l.masks[i] = Le32(m + 4 * i);
    if ((f = CheckMasks(l.masks, l.bitCount)) != Fault::kNone) return f;
  }

  const uint64_t addressable = l.bitCount <= 8 ? (1u << l.bitCount) : 0;
  l.tableEntrySize = core ? 3 : 4;
  uint64_t colors = clrUsed != 0 ? clrUsed : addressable;
  if (l.bitCount <= 8 && colors > addressable) return Fault::kColors;
  if (at + colors * l.tableEntrySize > blockSize) return Fault::kColors;
  l.colorCount = uint32_t(colors);
  l.tableOffset = uint32_t(at);
  at += colors * l.tableEntrySize;
  l.rowsOffset = uint32_t(at);

  const uint64_t room = blockSize - at;
  if (l.compression == kRle8 || l.compression == kRle4) {
    if (sizeImage == 0 || sizeImage > room) return Fault::kRows;
    l.rowsSize = sizeImage;
  } else {
    const uint64_t stride = ((uint64_t(l.width) * l.bitCount + 31) / 32) * 4;
    if (stride > room) return Fault::kSize;  // not even one row: also keeps the product below
    if (stride * l.height > room) return Fault::kRows;
    l.stride = uint32_t(stride);
    l.rowsSize = uint32_t(stride * l.height);
  }
  *out = l;
  return Fault::kNone;
}

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::kNone:
      return "none";
    case Fault::kShortBlock:
      return "short block";
    case Fault::kHeaderSize:
      return "header size";
    case Fault::kSize:
      return "size";
    case Fault::kPlanes:
      return "planes";
    case Fault::kBitCount:
      return "bit count";
    case Fault::kCompression:
      return "compression";
    case Fault::kColors:
      return "colours";
    case Fault::kMasks:
      return "masks";
    case Fault::kRows:
      return "rows";
  }
  return "?";
}

}  // namespace dib
