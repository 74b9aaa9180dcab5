// The pixels of a page that came in strips: its rows as they are, 1-bit rows already 1 for
// white and colour turned to red first where the platform keeps it blue first.
#include "image/page_pixels.h"

#include <new>

#include "twain/result_codes.h"

namespace {

class StripPagePixels : public PagePixels {
 public:
  StripPagePixels(RowPage* page, uint32_t rows, const PageFacts& facts)
      : page_(page),
        size_(RowPageSizeOf(page)),
        rows_(rows),
        xDpi_(facts.xResolution),
        yDpi_(facts.yResolution) {
    if (kRowPageBlueFirst && size_.bitsPerPixel == 24) rgb_ = std::make_unique<uint8_t[]>(RowBytes());
  }

  PixelFormat Format() const override {
    return size_.bitsPerPixel == 1   ? PixelFormat::kBlackWhite
           : size_.bitsPerPixel == 8 ? PixelFormat::kGrey
                                     : PixelFormat::kRgb;
  }
  uint32_t Width() const override { return size_.width; }
  uint32_t Height() const override { return rows_; }
  double XDpi() const override { return xDpi_; }
  double YDpi() const override { return yDpi_; }

  const uint8_t* Row(uint32_t y) override {
    const uint8_t* row = RowPageRow(page_, y);
    if (!row || !rgb_) return row;
    SwapRedBlue(row, size_.width, rgb_.get());
    return rgb_.get();
  }

  // Rows kept as they are read, where the build keeps the page in one block.
  HeldRows Held() const override {
    HeldRows held;
    if (rgb_) return held;
    held.bytes = RowPageBlock(page_);
    held.stride = RowBytes();
    held.bitsPerPixel = size_.bitsPerPixel;
    return held;
  }

 private:
  RowPage* page_;
  RowPageSize size_;
  uint32_t rows_;
  double xDpi_, yDpi_;
  std::unique_ptr<uint8_t[]> rgb_;  // a colour row, red first
};

}  // namespace

HeldPagePixels::HeldPagePixels(PixelFormat format, uint32_t width, uint32_t height, double xDpi, double yDpi)
    : format_(format), width_(width), height_(height), xDpi_(xDpi), yDpi_(yDpi) {
  size_ = size_t(RowBytes()) * height;
  pixels_ = std::make_unique<uint8_t[]>(size_);
}

HeldRows HeldPagePixels::Held() const {
  HeldRows held;
  held.bytes = pixels_.get();
  held.stride = RowBytes();
  held.bitsPerPixel = format_ == PixelFormat::kBlackWhite ? 1 : format_ == PixelFormat::kGrey ? 8 : 24;
  return held;
}

void SwapRedBlue(const uint8_t* from, uint32_t width, uint8_t* to) {
  for (uint32_t x = 0; x < width; ++x, from += 3, to += 3) {
    const uint8_t blue = from[0];
    to[0] = from[2];
    to[1] = from[1];
    to[2] = blue;
  }
}

std::unique_ptr<PagePixels> RowPagePixels(RowPage* page, uint32_t rows, const PageFacts& facts,
                                          int16_t* result) {
  *result = kResultUnusablePage;
  if (!page || rows == 0 || rows > RowPageSizeOf(page).rows) return nullptr;
  try {
    auto pixels = std::make_unique<StripPagePixels>(page, rows, facts);
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
