// Windows: a native page's pixels are the rows the page writers read (page_rows.h), a
// black-and-white page kept at 1 bit; colour comes blue first there and is turned to red
// first here.
#include "acquire/page_pixels.h"

#include <new>
#include <vector>

#include "platform/windows/page_rows.h"
#include "twain/result_codes.h"

namespace {

class DibPixels : public PagePixels {
 public:
  DibPixels(void* image, const PageFacts& facts) : rows_(image, facts, true) {
    if (rows_.Ok() && rows_.Format() == RowFormat::kColour) rgb_.resize(RowBytes());
  }
  bool Ok() const { return rows_.Ok(); }

  PixelFormat Format() const override {
    switch (rows_.Format()) {
      case RowFormat::kBlackWhite:
        return PixelFormat::kBlackWhite;
      case RowFormat::kGrey:
        return PixelFormat::kGrey;
      case RowFormat::kColour:
        break;
    }
    return PixelFormat::kRgb;
  }
  uint32_t Width() const override { return rows_.Width(); }
  uint32_t Height() const override { return rows_.Height(); }
  double XDpi() const override { return rows_.XDpi(); }
  double YDpi() const override { return rows_.YDpi(); }

  const uint8_t* Row(uint32_t y) override {
    const BYTE* row = rows_.Row(y);
    if (rgb_.empty()) return row;
    SwapRedBlue(row, rows_.Width(), rgb_.data());
    return rgb_.data();
  }

 private:
  PageRows rows_;
  std::vector<uint8_t> rgb_;  // a colour row, red first
};

}  // namespace

std::unique_ptr<PagePixels> NativePagePixels(void* image, const PageFacts& facts, int16_t* result) {
  *result = kResultNoMemory;
  try {
    auto pixels = std::make_unique<DibPixels>(image, facts);
    if (!pixels->Ok()) return nullptr;
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
