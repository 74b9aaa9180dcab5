#include "transfer/strips.h"

#include <cstring>

namespace {

constexpr uint32_t kUsualBuffer = 64 * 1024;
constexpr uint32_t kNoLimit = 0xFFFFFFFFu;  // TWON_DONTCARE32, and a Max of -1

// Bytes that `columns` pixels of `bits` each fill.
uint64_t BytesFor(uint64_t columns, uint16_t bits) { return (columns * bits + 7) / 8; }

// Copies `columns` pixels of a 1-bit row starting at pixel `x` of the canvas row.
void PlaceBits(const uint8_t* from, uint32_t columns, uint32_t x, bool turnOver, uint8_t* row) {
  const uint8_t flip = turnOver ? 0xFF : 0x00;
  if (x % 8 == 0) {
    const size_t whole = columns / 8;
    uint8_t* to = row + x / 8;
    for (size_t i = 0; i < whole; ++i) to[i] = from[i] ^ flip;
    const uint32_t rest = columns % 8;
    if (rest != 0) {
      const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
      to[whole] = static_cast<uint8_t>((to[whole] & ~mask) | ((from[whole] ^ flip) & mask));
    }
    return;
  }
  for (uint32_t i = 0; i < columns; ++i) {
    const bool set = ((from[i / 8] ^ flip) >> (7 - i % 8)) & 1;
    const uint32_t at = x + i;
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (at % 8));
    row[at / 8] = static_cast<uint8_t>(set ? row[at / 8] | bit : row[at / 8] & ~bit);
  }
}

void PlaceRow(const uint8_t* from, uint32_t columns, uint32_t x, const StripPageShape& shape, uint8_t* row) {
  switch (shape.bitsPerPixel) {
    case 1:
      PlaceBits(from, columns, x, shape.zeroIsWhite, row);
      break;
    case 8:
      std::memcpy(row + x, from, columns);
      break;
    default: {
      uint8_t* to = row + static_cast<size_t>(x) * 3;
      if (!shape.blueFirst) {
        std::memcpy(to, from, static_cast<size_t>(columns) * 3);
        break;
      }
      for (uint32_t i = 0; i < columns; ++i, from += 3, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
      }
    }
  }
}

}  // namespace

uint32_t ChooseBufferSize(const TW_SETUPMEMXFER& setup, uint32_t rowBytes) {
  const uint32_t least = setup.MinBufSize == kNoLimit ? 0 : setup.MinBufSize;
  const uint32_t most = setup.MaxBufSize;  // kNoLimit: any size
  if (least > most) return 0;
  const bool preferredFits = setup.Preferred != kNoLimit && setup.Preferred != 0 && setup.Preferred >= least &&
                             setup.Preferred <= most;
  uint32_t size = preferredFits ? setup.Preferred : kUsualBuffer;
  if (size < least) size = least;
  if (size > most) size = most;
  if (size < rowBytes) size = rowBytes <= most ? rowBytes : most;
  // An even size where the limits leave one: a source whose Min and Max are the same odd
  // number (one row of an odd width) gets exactly that.
  if (size % 2 != 0) {
    if (size < most)
      ++size;
    else if (size - 1 >= least && size > 1)
      --size;
  }
  return size;
}

size_t ShapeRowBytes(const StripPageShape& shape) {
  return static_cast<size_t>(BytesFor(shape.width, shape.bitsPerPixel));
}

StripFit PlaceStrip(const TW_IMAGEMEMXFER& strip, const uint8_t* buffer, uint32_t bufferSize,
                    const StripPageShape& shape, RowCanvas* canvas, uint32_t* rows) {
  if (strip.BytesWritten > bufferSize) return StripFit::kOutsideBuffer;
  if (strip.Rows == 0) return StripFit::kPlaced;
  // 64-bit sums: a field left at a don't-care value cannot wrap round into the page.
  const uint64_t right = uint64_t(strip.XOffset) + strip.Columns;
  const uint64_t bottom = uint64_t(strip.YOffset) + strip.Rows;
  if (strip.Columns == 0 || right > shape.width || strip.YOffset > *rows || bottom > kMostPageRows)
    return StripFit::kOutsidePage;
  const uint64_t used = BytesFor(strip.Columns, shape.bitsPerPixel);
  if (used > strip.BytesPerRow) return StripFit::kOutsidePage;
  if (uint64_t(strip.BytesPerRow) * (strip.Rows - 1) + used > strip.BytesWritten)
    return StripFit::kOutsideBuffer;
  for (uint32_t r = 0; r < strip.Rows; ++r) {
    uint8_t* row = canvas->Row(strip.YOffset + r);
    if (!row) return StripFit::kNoMemory;
    PlaceRow(buffer + size_t(strip.BytesPerRow) * r, strip.Columns, strip.XOffset, shape, row);
  }
  if (bottom > *rows) *rows = static_cast<uint32_t>(bottom);
  return StripFit::kPlaced;
}
