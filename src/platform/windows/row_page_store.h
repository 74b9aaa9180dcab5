// How Windows keeps a RowPage (row_page.cpp): its rows in a window over a spool file, read back
// by the writers (page_file.cpp, page_book.cpp) a window at a time.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/row_page.h"
#include "platform/windows/page_rows.h"

struct RowPage {
  ~RowPage() {
    if (spool != INVALID_HANDLE_VALUE) CloseHandle(spool);  // deletes it
    std::free(window);
  }
  uint32_t width = 0;
  uint16_t bits = 0;
  uint32_t stride = 0;  // bytes a row, a multiple of 4
  uint32_t rows = 0;    // rows made so far (white until a strip fills them)
  HANDLE spool = INVALID_HANDLE_VALUE;
  uint8_t* window = nullptr;
  uint32_t base = 0;       // the window's first row
  uint32_t capacity = 0;   // rows the window holds
  bool dirty = false;      // the window holds rows the spool does not
  bool spoolLost = false;  // the spool refused rows and the page could not come into memory
};

// Row y of the rows made, to be read (the window moved over it); null when it cannot be read.
const uint8_t* ReadRow(RowPage* page, uint32_t y);

// The page read back for a WIC frame: `height` rows of its pixel format, a window at a time.
// A black-and-white page for JPEG becomes grey.
class SpooledRows : public FrameRows {
 public:
  SpooledRows(RowPage* page, uint32_t height, const PageFacts& facts, bool oneBit) : page_(page) {
    format_ = page->bits == 1   ? (oneBit ? RowFormat::kBlackWhite : RowFormat::kGrey)
              : page->bits == 8 ? RowFormat::kGrey
                                : RowFormat::kColour;
    width_ = page->width;
    height_ = height;
    xDpi_ = facts.xResolution;
    yDpi_ = facts.yResolution;
    if (page->bits == 1 && !oneBit) grey_.resize(width_);
  }
  const BYTE* Row(UINT y) override {
    const uint8_t* row = ReadRow(page_, y);
    if (!row || grey_.empty()) return row;
    for (UINT x = 0; x < width_; ++x) grey_[x] = (row[x >> 3] >> (7 - (x & 7))) & 1u ? 255 : 0;
    return grey_.data();
  }

 private:
  RowPage* page_;
  std::vector<BYTE> grey_;
};
