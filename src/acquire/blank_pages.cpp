#include "acquire/blank_pages.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "acquire/options.h"

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
  for (auto& row : dark_) row.assign(size_t(width) + 2, 0);
  clear_.assign(size_t(width) + 2, 0);
}

void BlankMeter::MarkDark(const uint8_t* row, uint8_t* dark) {
  uint8_t* at = dark + 1;
  switch (format_) {
    case PixelFormat::kBlackWhite:
      for (uint32_t x = 0; x < width_; x += 8) {
        const uint8_t bits = row[x >> 3];
        const uint32_t n = width_ - x < 8 ? width_ - x : 8;
        if (bits == 0xFF) {
          std::memset(at + x, 0, n);
          continue;
        }
        for (uint32_t i = 0; i < n; ++i) at[x + i] = ((bits >> (7 - i)) & 1u) ^ 1u;
      }
      break;
    case PixelFormat::kGrey:
      for (uint32_t x = 0; x < width_; ++x) at[x] = row[x] < kInkBelow;
      break;
    case PixelFormat::kRgb:
      // round(0.299 R + 0.587 G + 0.114 B) < 179 in whole numbers: the sum in thousandths
      // with a half added stays below 179000.
      for (uint32_t x = 0; x < width_; ++x, row += 3)
        at[x] = 299u * row[0] + 587u * row[1] + 114u * row[2] + 500u < kInkBelow * 1000u;
      break;
  }
}

void BlankMeter::CountInk(const uint8_t* above, const uint8_t* row, const uint8_t* below) {
  uint32_t ink = 0;
  // x: a place in the padded rows, from one dark pixel inside the margins to the next.
  const uint8_t* end = row + width_ + 1 - margin_;
  for (const uint8_t* at = row + margin_ + 1; at < end; ++at) {
    at = static_cast<const uint8_t*>(std::memchr(at, 1, static_cast<size_t>(end - at)));
    if (!at) break;
    const size_t x = static_cast<size_t>(at - row);
    const int neighbours = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x + 1] + below[x - 1] +
                           below[x] + below[x + 1];
    ink += neighbours >= kInkNeighbours;
  }
  const uint32_t y = static_cast<uint32_t>(inkByRow_.size());
  if (y >= firstRow_ && y < endRow_) inkSoFar_ += ink;
  inkByRow_.push_back(ink);
}

void BlankMeter::JudgeRow(uint32_t y, const uint8_t* below) {
  const int slot = static_cast<int>(y % 3);
  if (!darkInside_[slot]) {
    inkByRow_.push_back(0);
    return;
  }
  const uint8_t* above = y >= 1 ? dark_[(y - 1) % 3].data() : clear_.data();
  CountInk(above, dark_[slot].data(), below);
}

void BlankMeter::AddRow(const uint8_t* row) {
  const int slot = static_cast<int>(rows_ % 3);
  uint8_t* dark = dark_[slot].data();
  MarkDark(row, dark);
  darkInside_[slot] = width_ > 2 * margin_ && std::memchr(dark + 1 + margin_, 1, width_ - 2 * margin_) != nullptr;
  if (rows_ >= 1) JudgeRow(rows_ - 1, dark);
  ++rows_;
}

BlankReading BlankMeter::Finish() {
  if (rows_ >= 1) JudgeRow(rows_ - 1, clear_.data());
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
  const uint64_t looked = uint64_t(width - std::min(width, 2 * Margin(width))) *
                          (height - std::min(height, 2 * Margin(height)));
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
