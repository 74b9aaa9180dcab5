// A page's pixels as rows, whatever way it arrived: for what reads a page rather than hands
// it to a codec (the PDF writer's lossless images, the blank-page decision). Each build makes
// them, once, in platform/<os>/page_pixels.cpp, from its native image (a Windows packed DIB or
// device bitmap, a Mac picture); a page that came in strips (RowPage) is read the same way in
// both (image/page_pixels.cpp).
//
// Rows come top first, without padding, in one of three formats:
//   kBlackWhite: 1 bit a pixel, the leftmost pixel in the high bit, 0 black and 1 white;
//   kGrey:       8 bits a pixel, 0 black and 255 white;
//   kRgb:        24 bits a pixel, red, green, blue.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/page_facts.h"
#include "image/row_page.h"

enum class PixelFormat : uint8_t { kBlackWhite, kGrey, kRgb };

// A page's pixels where they are held whole in memory, for a codec that reads them where they
// are: rows top first, `stride` bytes apart, each of the page's width in pixels of
// `bitsPerPixel`: the format's own (1, 8, 24: as Row() gives them), or, for kRgb, 32 (red,
// green, blue and a byte to skip). `bytes` null: the page is not held so.
struct HeldRows {
  const uint8_t* bytes = nullptr;
  size_t stride = 0;
  uint16_t bitsPerPixel = 0;
};

class PagePixels {
 public:
  virtual ~PagePixels() = default;
  virtual PixelFormat Format() const = 0;
  virtual uint32_t Width() const = 0;
  virtual uint32_t Height() const = 0;
  // Dots per inch; 0 when neither the image nor the source says.
  virtual double XDpi() const = 0;
  virtual double YDpi() const = 0;
  // Row y (0 the top one), RowBytes() bytes; valid until the next call. Null when the row
  // cannot be made (no memory).
  virtual const uint8_t* Row(uint32_t y) = 0;
  // The page's pixels in place, where they are held whole (HeldRows).
  virtual HeldRows Held() const { return {}; }

  uint32_t RowBytes() const {
    switch (Format()) {
      case PixelFormat::kBlackWhite:
        return (Width() + 7) / 8;
      case PixelFormat::kGrey:
        return Width();
      case PixelFormat::kRgb:
        return Width() * 3;
    }
    return 0;
  }
};

// The page a native transfer handed over (it stays the caller's and must outlive the rows).
// The facts say the page's kind where the image does not (a Mac picture is 32-bit whatever
// the page was). Null with *result set (2: the image fails its check or there is no memory).
std::unique_ptr<PagePixels> NativePagePixels(void* image, const PageFacts& facts, int16_t* result);

// The first `rows` rows of a page that came in strips (it stays the caller's).
std::unique_ptr<PagePixels> RowPagePixels(RowPage* page, uint32_t rows, const PageFacts& facts,
                                          int16_t* result);

// A page's pixels held whole, as a decoder gives them: Height() rows of RowBytes() bytes, one
// after another. The constructor may throw std::bad_alloc.
class HeldPagePixels : public PagePixels {
 public:
  HeldPagePixels(PixelFormat format, uint32_t width, uint32_t height, double xDpi, double yDpi);
  PixelFormat Format() const override { return format_; }
  uint32_t Width() const override { return width_; }
  uint32_t Height() const override { return height_; }
  double XDpi() const override { return xDpi_; }
  double YDpi() const override { return yDpi_; }
  const uint8_t* Row(uint32_t y) override { return pixels_.get() + size_t(RowBytes()) * y; }
  HeldRows Held() const override;
  uint8_t* Pixels() { return pixels_.get(); }
  size_t Size() const { return size_; }

 private:
  PixelFormat format_;
  uint32_t width_, height_;
  double xDpi_, yDpi_;
  size_t size_;
  std::unique_ptr<uint8_t[]> pixels_;
};

// A JPEG stream (a page a source compressed), decoded by the platform's decoder (Windows:
// WIC; Mac: ImageIO): grey or colour as the stream is. Null with *result set (2: the stream
// cannot be decoded or there is no memory).
std::unique_ptr<PagePixels> JpegPagePixels(const uint8_t* bytes, size_t size, int16_t* result);

// `width` pixels of blue, green and red as red, green and blue (`from` and `to` may be one).
void SwapRedBlue(const uint8_t* from, uint32_t width, uint8_t* to);
