// Whether a scanned page is blank, as document scanners decide it: ink is a pixel darker
// than 179 of 255 in luminance (black on a black-and-white page); a margin of 1 % of each
// edge (rounded up to whole pixels) is not looked at, where a scanner sees its lid's edge
// and shadow; a dark pixel with fewer than two dark neighbours among its eight is a speck of
// dust, not ink. A page is blank when its ink is at most a given share of the pixels looked
// at (those inside the margins); a page too small to have any inside them is not blank.
//
// The meter is fed the page row by row, top first, and holds three rows of darkness and a
// count a row, never the page: it can run while the rows pass on their way to a file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/page_pixels.h"

// The ink of a blank page is a percent with four decimals (the BLANKINK option), kept as a
// whole number of these parts (0.15 % is 1500).
constexpr int32_t kBlankInkUnits = 10000;

// What a measured page held.
struct BlankReading {
  uint64_t ink = 0;     // dark pixels inside the margins that are not specks
  uint64_t looked = 0;  // pixels inside the margins
};

// Whether a page of that reading is blank with `inkLimit`: the most ink, as a percent of the
// pixels looked at, in units of 1/kBlankInkUnits percent (the BLANKINK option's units).
bool IsBlank(const BlankReading& reading, int32_t inkLimit);

class BlankMeter {
 public:
  // Rows of `width` pixels in `format`; `height` the rows that will come, where known (0:
  // not known). May throw std::bad_alloc.
  BlankMeter(PixelFormat format, uint32_t width, uint32_t height = 0);

  // The next row, as PagePixels gives it (RowBytes of the format).
  void AddRow(const uint8_t* row);
  // After the last row: what the page held.
  BlankReading Finish();
  // With the height known: the ink found so far inside the margins (the rows judged so far),
  // which only grows: a page with more than its limit is not blank, whatever rows follow.
  uint64_t InkSoFar() const { return inkSoFar_; }

 private:
  void MarkDark(const uint8_t* row, uint8_t* dark);
  // The ink of row y, the rows either side in the window (`below`: the row after it, or
  // clear pixels after the last).
  void JudgeRow(uint32_t y, const uint8_t* below);
  void CountInk(const uint8_t* above, const uint8_t* row, const uint8_t* below);

  PixelFormat format_;
  uint32_t width_;
  uint32_t margin_;  // pixels left and right not looked at
  // Three rows of darkness, a bit a pixel (1 dark): the row before, the row being judged,
  // the row after; rotating.
  std::unique_ptr<uint8_t[]> dark_[3];
  std::unique_ptr<uint8_t[]> clear_;  // beyond the page's first and last rows
  uint32_t rows_ = 0;
  std::vector<uint32_t> inkByRow_;      // the ink of each row judged
  uint32_t firstRow_ = 0, endRow_ = 0;  // with the height known, the rows inside the margins
  uint64_t inkSoFar_ = 0;
};

// Measures the whole page. False when a row could not be had (the page is then not judged).
bool MeasurePage(PagePixels& pixels, BlankReading* reading);
// Whether the page is blank with `inkLimit`, reading its rows only until its ink passes the
// limit. False also when a row could not be had.
bool IsBlankPage(PagePixels& pixels, int32_t inkLimit);

// Whether a page is blank with `inkLimit`; a page that cannot be read (no memory, a broken
// image) is not.
bool IsBlankNativePage(void* image, const PageFacts& facts, int32_t inkLimit);
bool IsBlankRowPage(RowPage* page, uint32_t rows, const PageFacts& facts, int32_t inkLimit);
// A page the source compressed as JPEG, decoded with the platform's decoder.
bool IsBlankJpegPage(const uint8_t* bytes, size_t size, int32_t inkLimit);
