// JPEG into memory on the Mac (the pages of a PDF): the rows as one CGImage, written by an
// ImageIO destination into a CFData. ImageIO takes an image whole: a page whose pixels are
// held whole already (a page that came in strips, a drawn picture, a decoded page) is read
// where it is; only a page that has no such block is copied row by row into one.
#include <ApplicationServices/ApplicationServices.h>

#include <cstring>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/macos/page_image.h"
#include "twain/result_codes.h"

namespace {

// The page's rows, one after the other; false when a row cannot be had. May throw
// std::bad_alloc.
bool CopyRows(PagePixels& page, std::vector<uint8_t>* rows) {
  const size_t bytes = page.RowBytes();
  rows->resize(bytes * page.Height());
  for (uint32_t y = 0; y < page.Height(); ++y) {
    const uint8_t* row = page.Row(y);
    if (!row) return false;
    std::memcpy(rows->data() + bytes * y, row, bytes);
  }
  return true;
}

}  // namespace

int16_t EncodeJpeg(PagePixels& page, int quality, std::vector<uint8_t>* jpeg) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (page.Format() == PixelFormat::kBlackWhite || page.Width() == 0 || page.Height() == 0)
      return kResultUnusablePage;
    const bool colour = page.Format() == PixelFormat::kRgb;
    HeldRows held = page.Held();
    std::vector<uint8_t> rows;
    if (!held.bytes) {
      if (!CopyRows(page, &rows)) return kResultUnusablePage;
      held.bytes = rows.data();
      held.stride = page.RowBytes();
      held.bitsPerPixel = colour ? 24 : 8;
    }
    const size_t size = held.stride * (page.Height() - 1) + (size_t(page.Width()) * held.bitsPerPixel + 7) / 8;
    Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
    Ref<CGDataProviderRef> provider(CGDataProviderCreateWithData(nullptr, held.bytes, size, nullptr));
    if (!space || !provider) return kResultUnusablePage;
    PageImage image;
    image.depth = colour ? Depth::kColour : Depth::kGrey;
    image.jpegQuality = quality;
    image.xDpi = page.XDpi() > 0 ? page.XDpi() : 72;
    image.yDpi = page.YDpi() > 0 ? page.YDpi() : 72;
    image.image = CGImageCreate(page.Width(), page.Height(), 8, held.bitsPerPixel, held.stride, space.get(),
                                held.bitsPerPixel == 32 ? kCGImageAlphaNoneSkipLast : kCGImageAlphaNone,
                                provider.get(), nullptr, false, kCGRenderingIntentDefault);
    const Ref<CGImageRef, CGImageRelease> kept(image.image);
    Ref<CFMutableDataRef> data(CFDataCreateMutable(nullptr, 0));
    if (!image.image || !data) return kResultUnusablePage;
    Ref<CGImageDestinationRef> destination(
        CGImageDestinationCreateWithData(data.get(), CFSTR("public.jpeg"), 1, nullptr));
    Ref<CFDictionaryRef> props(ImageProperties(image, TWFF_JFIF));
    if (!destination || !props) return kResultUnusablePage;
    CGImageDestinationAddImage(destination.get(), image.image, props.get());
    if (!CGImageDestinationFinalize(destination.get())) return kResultUnusablePage;
    const UInt8* bytes = CFDataGetBytePtr(data.get());
    const CFIndex length = CFDataGetLength(data.get());
    if (!bytes || length <= 0) return kResultUnusablePage;
    jpeg->assign(bytes, bytes + length);
    return kResultOk;
  });
}
