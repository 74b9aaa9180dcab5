// Helpers for the page and encoder tests: an independent model of the page, byte readers,
// and (Mac build, native) running ImageMagick and tiffinfo on written files.
#ifndef KV_VSCANNER_IMAGE_TESTS_SUPPORT_H
#define KV_VSCANNER_IMAGE_TESTS_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "standins/virtual-scanner/image/page.h"

namespace vscan_test {

// The external readers run natively on Linux only; the Windows build runs under Wine.
#ifdef _WIN32
constexpr bool kExternalReaders = false;
#else
constexpr bool kExternalReaders = true;
#endif

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::string ToString(const Rgb&);

// What pixel (i, j) should show, computed point by point from the page's definition
// (not by the renderer's row-template method), after the pixel type and flavour. For BW and
// GRAY images the result is grey (r == g == b).
Rgb ExpectedPixel(const vscan::ScanSettings&, int i, int j);
// Colour of a raster pixel as a viewer shows it (1-bit: 1 white, 0 black).
Rgb RasterPixel(const vscan::Raster&, int i, int j);

uint32_t LE16(const std::vector<uint8_t>&, size_t at);
uint32_t LE32(const std::vector<uint8_t>&, size_t at);
uint32_t BE16(const std::vector<uint8_t>&, size_t at);
uint32_t BE32(const std::vector<uint8_t>&, size_t at);

// Scratch directory for written files (KV_IMAGE_SCRATCH or /tmp/kv-image/tests), created.
std::string ScratchDir();
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

struct Run {
  int status = -1;
  std::string out, err;
};
Run RunCommand(const std::string& command);

// An image decoded by ImageMagick (`convert file -depth 8 ppm:`), RGB.
struct Decoded {
  bool ok = false;
  std::string error;
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(int i, int j) const;
};
Decoded DecodeWithImageMagick(const std::string& path);

// Counts pixels where the decoded image and the raster differ; describes the first few.
int CompareWithRaster(const Decoded&, const vscan::Raster&, std::string* firstDifferences);

}  // namespace vscan_test

#endif
