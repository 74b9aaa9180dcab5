// Test pages for the page writers (image/image_platform.h), shared by their suite and by
// bench/page_bench: the virtual scanner's chart as the build's native transfer hands it over,
// what a scan knows of it, and file names in the host's form.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_platform.h"
#include "image/page_pixels.h"
#include "standins/virtual-scanner/image/page.h"

namespace kvtest {

// `bytes` as the native transfer hands an image over: in global memory on Windows (a packed
// DIB), in a handle on the Mac (a picture). Freed with FreeImage.
void* NativeImage(const std::vector<uint8_t>& bytes);
// The raster as the build's native image: a packed DIB, or a picture.
void* NativeImage(const vscan::Raster& r);
void FreeImage(void* image);

// The raster's pixel type, size and resolution, as a scan reports them.
PageFacts FactsOf(const vscan::Raster& r);

// The virtual scanner's chart, `pixelType` 0 to 2, at that resolution over the frame of the
// page from (0.5, 1) to (`right`, `bottom`), in inches.
vscan::Raster Chart(int pixelType, double xDpi, double yDpi, double right = 4.25, double bottom = 5.5);

// A file name as the host passes it: a C string on Windows, a Pascal string (its length
// first, NUL-terminated as well) on the Mac.
std::vector<uint8_t> HostName(const std::string& name);

// A raster's rows as a page's pixels (image/page_pixels.h), for the writers that read a page
// as rows; rows from `failAt` on cannot be made. The raster must outlive it.
class RasterPixels : public PagePixels {
 public:
  explicit RasterPixels(const vscan::Raster& r, uint32_t failAt = UINT32_MAX) : r_(r), failAt_(failAt) {}
  PixelFormat Format() const override {
    return r_.bitsPerPixel == 1 ? PixelFormat::kBlackWhite
                                : (r_.bitsPerPixel == 8 ? PixelFormat::kGrey : PixelFormat::kRgb);
  }
  uint32_t Width() const override { return static_cast<uint32_t>(r_.width); }
  uint32_t Height() const override { return static_cast<uint32_t>(r_.height); }
  double XDpi() const override { return r_.xres; }
  double YDpi() const override { return r_.yres; }
  const uint8_t* Row(uint32_t y) override {
    return y >= failAt_ ? nullptr : r_.rows.data() + static_cast<size_t>(r_.stride()) * y;
  }

 private:
  const vscan::Raster& r_;
  uint32_t failAt_;
};

}  // namespace kvtest
