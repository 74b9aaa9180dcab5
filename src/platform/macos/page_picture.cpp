#include "platform/macos/page_picture.h"

#include <Carbon/Carbon.h>

#include <cmath>
#include <cstring>
#include <new>

namespace {

// Grey from which a pixel of a black-and-white page is white.
constexpr uint8_t kWhiteFrom = 128;

}  // namespace

bool NewPageContext(DrawnPage* page) {
  const bool colour = page->depth == Depth::kColour;
  const size_t pixelBytes = colour ? 4 : 1;
  page->context.reset(nullptr);
  page->pixels.reset();
  if (page->width == 0 || page->height == 0 || page->width > SIZE_MAX / pixelBytes / page->height) return false;
  const size_t rowBytes = page->width * pixelBytes;
  page->pixels.reset(new (std::nothrow) uint8_t[rowBytes * page->height]);
  if (!page->pixels) return false;
  Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
  page->context.reset(CGBitmapContextCreate(page->pixels.get(), page->width, page->height, 8, rowBytes,
                                            space.get(),
                                            colour ? kCGImageAlphaNoneSkipLast : kCGImageAlphaNone));
  if (!page->context) return false;
  CGContextSetGrayFillColor(page->context.get(), 1, 1);
  CGContextFillRect(page->context.get(), PageRect(*page));
  return true;
}

Depth DepthOf(const PageFacts& facts) {
  if (facts.pixelType == TWPT_BW) return Depth::kOneBit;
  if (facts.pixelType == TWPT_GRAY) return Depth::kGrey;
  return Depth::kColour;
}

bool DrawPagePicture(void* picture, const PageFacts& facts, DrawnPage* page) {
  Handle h = static_cast<Handle>(picture);
  if (!h || !*h) return false;
  const SInt8 state = HGetState(h);
  HLock(h);
  bool drawn = false;
  {
    Ref<CGDataProviderRef> provider(
        CGDataProviderCreateWithData(nullptr, *h, static_cast<size_t>(GetHandleSize(h)), nullptr));
    Ref<QDPictRef, QDPictRelease> pict(provider ? QDPictCreateWithProvider(provider.get()) : nullptr);
    if (pict) {
      const CGRect bounds = QDPictGetBounds(pict.get());
      float xRes = 72, yRes = 72;
      QDPictGetResolution(pict.get(), &xRes, &yRes);
      // The bounds are at 72 dpi: the picture's pixels are its inches at its own resolution.
      const long width = facts.width > 0 ? facts.width : std::lround(bounds.size.width * xRes / 72);
      const long height = facts.height > 0 ? facts.height : std::lround(bounds.size.height * yRes / 72);
      page->depth = DepthOf(facts);
      page->xDpi = facts.xResolution > 0 ? facts.xResolution : xRes;
      page->yDpi = facts.yResolution > 0 ? facts.yResolution : yRes;
      if (width > 0 && height > 0) {
        page->width = static_cast<size_t>(width);
        page->height = static_cast<size_t>(height);
        drawn = NewPageContext(page) &&
                QDPictDrawToCGContext(page->context.get(), PageRect(*page), pict.get()) == noErr;
      }
    }
  }
  HSetState(h, state);
  return drawn;
}

void PackGreyRow(const uint8_t* grey, size_t width, uint8_t* bits) {
  std::memset(bits, 0, (width + 7) / 8);
  for (size_t x = 0; x < width; ++x)
    if (grey[x] >= kWhiteFrom) bits[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
}
