#include "image/blank_meter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Luminance (0.299 R + 0.587 G + 0.114 B, rounded) below this is dark.
constexpr uint32_t kInkBelow = 179;
// Dark neighbours a pixel needs to be ink rather than a speck.
constexpr int kInkNeighbours = 2;

// Pixels not looked at along an edge of `size` pixels: 1 %, rounded up.
uint32_t Margin(uint32_t size) { return static_cast<uint32_t>((uint64_t(size) + 99) / 100); }

}  // namespace

bool IsBlank(const BlankReading& reading, int32_t inkLimit) {
  if (reading.looked == 0 || inkLimit < 0) return false;
  return reading.ink * 100 * uint64_t(kBlankInkUnits) <= uint64_t(inkLimit) * reading.looked;
}

BlankMeter::BlankMeter(PixelFormat format, uint32_t width, uint32_t height)
    : format_(format), width_(width), margin_(Margin(width)) {
  if (height > 2 * Margin(height)) {
    firstRow_ = Margin(height);
    endRow_ = height - Margin(height);
  }
  const size_t bytes = (size_t(width) + 7) / 8;
  for (auto& row : dark_) row = std::make_unique<uint8_t[]>(bytes);  // clear
  clear_ = std::make_unique<uint8_t[]>(bytes);
}

namespace {

bool Dark(const uint8_t* dark, uint32_t x) { return (dark[x >> 3] >> (7 - (x & 7))) & 1u; }

// Eight pixels' darkness as one byte, the first in the high bit.
template <class IsDark>
void PackDarkness(uint32_t width, uint8_t* dark, IsDark isDark) {
  for (uint32_t x = 0; x < width; x += 8) {
    const uint32_t n = std::min<uint32_t>(8, width - x);
    unsigned bits = 0;
    for (uint32_t i = 0; i < n; ++i) bits |= unsigned(isDark(x + i)) << (7 - i);
    dark[x >> 3] = static_cast<uint8_t>(bits);
  }
}

}  // namespace

// Darkness a bit a pixel, 1 dark, the first pixel in the high bit of the first byte (bits
// past the width are never read).
void BlankMeter::MarkDark(const uint8_t* row, uint8_t* dark) {
  switch (format_) {
    case PixelFormat::kBlackWhite:
      for (size_t i = 0; i < (size_t(width_) + 7) / 8; ++i) dark[i] = static_cast<uint8_t>(~row[i]);
      break;
    case PixelFormat::kGrey:
      PackDarkness(width_, dark, [row](uint32_t x) { return row[x] < kInkBelow; });
      break;
    case PixelFormat::kRgb:
      // round(0.299 R + 0.587 G + 0.114 B) < 179 in whole numbers: the sum in thousandths
      // with a half added stays below 179000.
      PackDarkness(width_, dark, [row](uint32_t x) {
        const uint8_t* p = row + 3 * size_t(x);
        return 299u * p[0] + 587u * p[1] + 114u * p[2] + 500u < kInkBelow * 1000u;
      });
      break;
  }
}

// The ink of one row between the margins. The margins are at least one pixel wide, so every
// pixel judged has its neighbours on the row.
void BlankMeter::CountInk(const uint8_t* above, const uint8_t* row, const uint8_t* below) {
  uint32_t ink = 0;
  const uint32_t first = margin_, end = width_ > margin_ ? width_ - margin_ : 0;
  for (uint32_t byte = first >> 3; first < end && byte <= (end - 1) >> 3; ++byte) {
    unsigned bits = row[byte];
    while (bits != 0) {
      const unsigned high = 31u - static_cast<unsigned>(__builtin_clz(bits));  // the leftmost dark pixel
      bits &= ~(1u << high);
      const uint32_t x = (byte << 3) + (7 - high);
      if (x < first || x >= end) continue;
      const int neighbours = Dark(above, x - 1) + Dark(above, x) + Dark(above, x + 1) + Dark(row, x - 1) +
                             Dark(row, x + 1) + Dark(below, x - 1) + Dark(below, x) + Dark(below, x + 1);
      ink += neighbours >= kInkNeighbours;
    }
  }
  const uint32_t y = static_cast<uint32_t>(inkByRow_.size());
  if (y >= firstRow_ && y < endRow_) inkSoFar_ += ink;
  inkByRow_.push_back(ink);
}

void BlankMeter::JudgeRow(uint32_t y, const uint8_t* below) {
  const uint8_t* above = y >= 1 ? dark_[(y - 1) % 3].get() : clear_.get();
  CountInk(above, dark_[y % 3].get(), below);
}

void BlankMeter::AddRow(const uint8_t* row) {
  uint8_t* dark = dark_[rows_ % 3].get();
  MarkDark(row, dark);
  if (rows_ >= 1) JudgeRow(rows_ - 1, dark);
  ++rows_;
}

BlankReading BlankMeter::Finish() {
  if (rows_ >= 1) JudgeRow(rows_ - 1, clear_.get());
  BlankReading reading;
  const uint32_t top = Margin(rows_);
  if (rows_ <= 2 * top || width_ <= 2 * margin_) return reading;
  for (uint32_t y = top; y < rows_ - top; ++y) reading.ink += inkByRow_[y];
  reading.looked = uint64_t(rows_ - 2 * top) * (width_ - 2 * margin_);
  return reading;
}

bool MeasurePage(PagePixels& pixels, BlankReading* reading) {
  BlankMeter meter(pixels.Format(), pixels.Width());
  for (uint32_t y = 0; y < pixels.Height(); ++y) {
    const uint8_t* row = pixels.Row(y);
    if (!row) return false;
    meter.AddRow(row);
  }
  *reading = meter.Finish();
  return true;
}

bool IsBlankPage(PagePixels& pixels, int32_t inkLimit) {
  const uint32_t width = pixels.Width(), height = pixels.Height();
  BlankMeter meter(pixels.Format(), width, height);
  // The most ink the page may hold, in pixels (the reading's limit with the looked-at pixels
  // the page's size gives).
  const uint64_t looked =
      uint64_t(width - std::min(width, 2 * Margin(width))) * (height - std::min(height, 2 * Margin(height)));
  const uint64_t most = looked * uint64_t(std::max(inkLimit, 0)) / (100 * uint64_t(kBlankInkUnits));
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = pixels.Row(y);
    if (!row) return false;
    meter.AddRow(row);
    if (meter.InkSoFar() > most) return false;
  }
  return IsBlank(meter.Finish(), inkLimit);
}

namespace {

bool Judge(std::unique_ptr<PagePixels> pixels, int32_t inkLimit) {
  if (!pixels) return false;
  try {
    return IsBlankPage(*pixels, inkLimit);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool IsBlankNativePage(void* image, const PageFacts& facts, int32_t inkLimit) {
  int16_t result = 0;
  return Judge(NativePagePixels(image, facts, &result), inkLimit);
}

bool IsBlankRowPage(RowPage* page, uint32_t rows, const PageFacts& facts, int32_t inkLimit) {
  int16_t result = 0;
  return Judge(RowPagePixels(page, rows, facts, &result), inkLimit);
}

bool IsBlankJpegPage(const uint8_t* bytes, size_t size, int32_t inkLimit) {
  int16_t result = 0;
  return Judge(JpegPagePixels(bytes, size, &result), inkLimit);
}
