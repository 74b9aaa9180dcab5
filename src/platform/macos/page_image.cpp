// The page drawn into a CoreGraphics bitmap context (QDPictDrawToCGContext) of the page's own
// depth becomes the image ImageIO writes. CoreGraphics has no 1-bit contexts: a
// black-and-white page is drawn in grey and packed into a 1-bit grey image.
#include "platform/macos/page_image.h"

#include <cstdlib>

#include "platform/macos/row_page_store.h"

namespace {

// ImageIO's TIFF compression values.
constexpr int kTiffLzw = 5;
constexpr int kTiffGroup4 = 4;

void FreeBits(void*, const void* data, size_t) { std::free(const_cast<void*>(data)); }

// Grey pixels of a context, packed 1 bit a pixel (1 = white from half-way up), as an image.
CGImageRef PackOneBit(CGContextRef grey, size_t width, size_t height) {
  const uint8_t* pixels = static_cast<const uint8_t*>(CGBitmapContextGetData(grey));
  const size_t rowBytes = CGBitmapContextGetBytesPerRow(grey);
  const size_t packedRow = (width + 7) / 8;
  uint8_t* bits = static_cast<uint8_t*>(std::calloc(height, packedRow));
  if (!pixels || !bits) {
    std::free(bits);
    return nullptr;
  }
  for (size_t y = 0; y < height; ++y) PackGreyRow(pixels + y * rowBytes, width, bits + y * packedRow);
  Ref<CGDataProviderRef> provider(CGDataProviderCreateWithData(nullptr, bits, height * packedRow, FreeBits));
  if (!provider) {
    std::free(bits);
    return nullptr;
  }
  Ref<CGColorSpaceRef> space(CGColorSpaceCreateDeviceGray());
  return CGImageCreate(width, height, 1, 1, packedRow, space.get(), kCGImageAlphaNone, provider.get(), nullptr,
                       false, kCGRenderingIntentDefault);
}

}  // namespace

bool MakePageImage(void* picture, const PageFacts& facts, PageImage* page) {
  DrawnPage drawn;
  if (!DrawPagePicture(picture, facts, &drawn)) return false;
  page->depth = drawn.depth;
  page->xDpi = drawn.xDpi;
  page->yDpi = drawn.yDpi;
  page->image = drawn.depth == Depth::kOneBit ? PackOneBit(drawn.context.get(), drawn.width, drawn.height)
                                              : CGBitmapContextCreateImage(drawn.context.get());
  return page->image != nullptr;
}

bool MakeRowImage(RowPage* page, uint32_t rows, const PageFacts& facts, PageImage* image) {
  if (rows == 0 || rows > page->made) return false;
  const bool colour = page->bits == 24;
  Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
  Ref<CGDataProviderRef> provider(
      CGDataProviderCreateWithData(nullptr, page->rows, page->rowBytes * rows, nullptr));
  if (!space || !provider) return false;
  image->depth = page->bits == 1 ? Depth::kOneBit : colour ? Depth::kColour : Depth::kGrey;
  image->xDpi = facts.xResolution > 0 ? facts.xResolution : 72;
  image->yDpi = facts.yResolution > 0 ? facts.yResolution : 72;
  image->image =
      CGImageCreate(page->width, rows, page->bits == 1 ? 1 : 8, page->bits, page->rowBytes, space.get(),
                    kCGImageAlphaNone, provider.get(), nullptr, false, kCGRenderingIntentDefault);
  return image->image != nullptr;
}

CFDictionaryRef ImageProperties(const PageImage& page, TW_UINT16 format) {
  CFMutableDictionaryRef props =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  if (!props) return nullptr;
  auto put = [&](CFMutableDictionaryRef dict, CFStringRef key, CFNumberType type, const void* value) {
    Ref<CFNumberRef> number(CFNumberCreate(nullptr, type, value));
    if (number) CFDictionarySetValue(dict, key, number.get());
  };
  put(props, kCGImagePropertyDPIWidth, kCFNumberDoubleType, &page.xDpi);
  put(props, kCGImagePropertyDPIHeight, kCFNumberDoubleType, &page.yDpi);
  const double quality = page.jpegQuality / 100.0;
  if (format == TWFF_JFIF)
    put(props, kCGImageDestinationLossyCompressionQuality, kCFNumberDoubleType, &quality);
  if (format == TWFF_TIFF || format == TWFF_TIFFMULTI) {
    Ref<CFMutableDictionaryRef> tiff(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks));
    if (tiff) {
      const int compression = page.depth == Depth::kOneBit ? kTiffGroup4 : kTiffLzw;
      put(tiff.get(), kCGImagePropertyTIFFCompression, kCFNumberIntType, &compression);
      CFDictionarySetValue(props, kCGImagePropertyTIFFDictionary, tiff.get());
    }
  }
  return props;
}

CFURLRef UrlOf(const FSSpec& location) {
  FSRef ref;
  if (FSpMakeFSRef(&location, &ref) != noErr) return nullptr;
  return CFURLCreateFromFSRef(nullptr, &ref);
}

bool Export(const FSSpec& location, const FileKind& kind, TW_UINT16 format, const PageImage& page) {
  Ref<CFURLRef> url(UrlOf(location));
  if (!url) return false;
  Ref<CGImageDestinationRef> destination(CGImageDestinationCreateWithURL(url.get(), kind.uti, 1, nullptr));
  Ref<CFDictionaryRef> props(ImageProperties(page, format));
  if (!destination || !props) return false;
  CGImageDestinationAddImage(destination.get(), page.image, props.get());
  return CGImageDestinationFinalize(destination.get());
}
