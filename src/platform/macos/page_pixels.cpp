// Mac: a native page's pixels are read from the picture drawn as the page writers draw it
// (page_picture.h); a black-and-white page is packed from its grey as its files are. A JPEG
// stream is decoded by ImageIO and its image drawn the same way.
#include "image/page_pixels.h"

#include <memory>
#include <new>

#include "platform/macos/page_picture.h"
#include "twain/result_codes.h"

namespace {

// The pixels of a page drawn into a context.
class PicturePixels : public PagePixels {
 public:
  PicturePixels() = default;
  bool Draw(void* picture, const PageFacts& facts) { return DrawPagePicture(picture, facts, &page_) && Take(); }
  bool Draw(CGImageRef image) {
    page_.width = CGImageGetWidth(image);
    page_.height = CGImageGetHeight(image);
    page_.depth = CGImageGetBitsPerPixel(image) == 8 ? Depth::kGrey : Depth::kColour;
    if (page_.width == 0 || page_.height == 0 || !NewPageContext(&page_)) return false;
    CGContextDrawImage(page_.context.get(), PageRect(page_), image);
    return Take();
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
        PackGreyRow(drawn, page_.width, row_.get());
        return row_.get();
      case Depth::kColour:
        break;
    }
    // Red, green, blue and a skipped byte.
    uint8_t* to = row_.get();
    for (size_t x = 0; x < page_.width; ++x, drawn += 4, to += 3) {
      to[0] = drawn[0];
      to[1] = drawn[1];
      to[2] = drawn[2];
    }
    return row_.get();
  }

  // The drawn pixels: grey as they are, colour with its skipped byte; a black-and-white page
  // is packed from its grey row by row.
  HeldRows Held() const override {
    HeldRows held;
    if (page_.depth == Depth::kOneBit) return held;
    held.bytes = pixels_;
    held.stride = stride_;
    held.bitsPerPixel = page_.depth == Depth::kGrey ? 8 : 32;
    return held;
  }

 private:
  // The drawn page's pixels.
  bool Take() {
    pixels_ = static_cast<const uint8_t*>(CGBitmapContextGetData(page_.context.get()));
    stride_ = CGBitmapContextGetBytesPerRow(page_.context.get());
    if (!pixels_) return false;
    if (page_.depth != Depth::kGrey) row_ = std::make_unique<uint8_t[]>(RowBytes());
    return true;
  }

  DrawnPage page_;
  const uint8_t* pixels_ = nullptr;
  size_t stride_ = 0;
  std::unique_ptr<uint8_t[]> row_;  // a row made from the drawn one
};

}  // namespace

std::unique_ptr<PagePixels> NativePagePixels(void* image, const PageFacts& facts, int16_t* result) {
  *result = kResultUnusablePage;
  try {
    auto pixels = std::make_unique<PicturePixels>();
    if (!pixels->Draw(image, facts)) return nullptr;
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ImageIO decodes the stream; the image is drawn into a context to be read.
std::unique_ptr<PagePixels> JpegPagePixels(const uint8_t* bytes, size_t size, int16_t* result) {
  *result = kResultUnusablePage;
  if (!bytes || size == 0 || size > 0x7FFFFFFF) return nullptr;
  try {
    Ref<CFDataRef> data(CFDataCreate(nullptr, bytes, static_cast<CFIndex>(size)));
    Ref<CGImageSourceRef> source(data ? CGImageSourceCreateWithData(data.get(), nullptr) : nullptr);
    if (!source || CGImageSourceGetCount(source.get()) < 1) return nullptr;
    Ref<CGImageRef, CGImageRelease> image(CGImageSourceCreateImageAtIndex(source.get(), 0, nullptr));
    auto pixels = std::make_unique<PicturePixels>();
    if (!image || !pixels->Draw(image.get())) return nullptr;
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
