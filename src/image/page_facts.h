// What the source said of a page before its transfer, as the page writers and readers use it.
#pragma once
#include <cstdint>

#include "twain/twain.h"

// What the source said of the page before its transfer (DAT_IMAGEINFO).
// Windows: the DIB says its own depth and resolution; the facts give the resolution only
// where the DIB has none (0) and for a device bitmap. Mac: a picture's pixels are 32-bit
// whatever the page was, and its frame need not count pixels: the facts give the depth
// (black and white 1 bit, grey 8, colour 24), the size in pixels and the resolution; the
// picture's frame and header resolution count only where the facts have none.
struct PageFacts {
  int16_t pixelType = TWPT_RGB;  // TWPT_BW, TWPT_GRAY, TWPT_RGB (anything else: colour)
  int32_t width = 0;             // pixels; 0 when unknown
  int32_t height = 0;
  double xResolution = 0;  // dots per inch; 0 when unknown
  double yResolution = 0;
};
PageFacts PageFactsOf(const TW_IMAGEINFO& info);

// The JPEG files and pages the extension writes are at this quality (1 to 100) unless the
// option JPEGQUALITY says otherwise.
constexpr int kDefaultJpegQuality = 85;
