// Mac: a native page's pixels are read from the picture drawn as the page writers draw it
// (page_picture.h); a black-and-white page is packed from its grey as its files are.
#include "acquire/page_pixels.h"

#include <new>
#include <vector>

#include "platform/macos/page_picture.h"
#include "twain/result_codes.h"

namespace {

class PicturePixels : public PagePixels {
 public:
  PicturePixels() = default;
  bool Draw(void* picture, const PageFacts& facts) {
    if (!DrawPagePicture(picture, facts, &page_)) return false;
    pixels_ = static_cast<const uint8_t*>(CGBitmapContextGetData(page_.context.get()));
    stride_ = CGBitmapContextGetBytesPerRow(page_.context.get());
    if (!pixels_) return false;
    if (page_.depth != Depth::kGrey) row_.resize(RowBytes());
    return true;
  }

  PixelFormat Format() const override {
    switch (page_.depth) {
      case Depth::kOneBit:
        return PixelFormat::kBlackWhite;
      case Depth::kGrey:
        return PixelFormat::kGrey;
      case Depth::kColour:
        break;
    }
    return PixelFormat::kRgb;
  }
  uint32_t Width() const override { return static_cast<uint32_t>(page_.width); }
  uint32_t Height() const override { return static_cast<uint32_t>(page_.height); }
  double XDpi() const override { return page_.xDpi; }
  double YDpi() const override { return page_.yDpi; }

  const uint8_t* Row(uint32_t y) override {
    const uint8_t* drawn = pixels_ + stride_ * y;
    switch (page_.depth) {
      case Depth::kGrey:
        return drawn;
      case Depth::kOneBit:
        PackGreyRow(drawn, page_.width, row_.data());
        return row_.data();
      case Depth::kColour:
        break;
    }
    // Red, green, blue and a skipped byte.
    uint8_t* to = row_.data();
    for (size_t x = 0; x < page_.width; ++x, drawn += 4, to += 3) {
      to[0] = drawn[0];
      to[1] = drawn[1];
      to[2] = drawn[2];
    }
    return row_.data();
  }

 private:
  DrawnPage page_;
  const uint8_t* pixels_ = nullptr;
  size_t stride_ = 0;
  std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<PagePixels> NativePagePixels(void* image, const PageFacts& facts, int16_t* result) {
  *result = kResultNoMemory;
  try {
    auto pixels = std::make_unique<PicturePixels>();
    if (!pixels->Draw(image, facts)) return nullptr;
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ImageIO here reads TIFF only (CGImageSourceCreateWithURL): a JPEG stream is not decoded,
// and a page that came as one is not judged.
std::unique_ptr<PagePixels> JpegPagePixels(const uint8_t*, size_t, int16_t* result) {
  *result = kResultNoMemory;
  return nullptr;
}
