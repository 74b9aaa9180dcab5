// The image export stand-in refuses what CoreGraphics and ImageIO refuse, counts references
// as CoreFoundation does, and draws the virtual scanner's pictures pixel for pixel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ImageIOStandin.h"
#include "standins/virtual-scanner/image/page.h"

namespace {

CFURLRef UrlOf(const std::string& path) {
  CFStringRef s = CFStringCreateWithCString(nullptr, path.c_str(), kCFStringEncodingUTF8);
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, s, kCFURLPOSIXPathStyle, false);
  CFRelease(s);
  return url;
}

class ImageIOTest : public ::testing::Test {
 protected:
  void SetUp() override { live_ = ImageIOStandin_LiveObjects(); }
  void TearDown() override { EXPECT_EQ(ImageIOStandin_LiveObjects(), live_) << "objects left alive"; }
  static CFURLRef Url(const std::string& path) { return UrlOf(path); }
  long live_ = 0;
};

vscan::Raster Page(int pixelType) {
  vscan::ScanSettings s;
  s.pixelType = pixelType;
  s.xres = s.yres = 50;
  s.left = 1;
  s.right = 3.5;
  s.top = 4;
  s.bottom = 7;
  return vscan::RenderPage(s);
}

// An 8-bit bitmap context over `memory` (CoreGraphics before 10.6 takes no context without
// its memory): grey 8 bits a pixel, RGB 32.
CGContextRef NewContext(std::vector<uint8_t>* memory, size_t width, size_t height, CGColorSpaceRef space,
                        CGBitmapInfo info) {
  const size_t row = width * (CGColorSpaceGetNumberOfComponents(space) == 1 ? 1 : 4);
  memory->assign(row * height, 0);
  return CGBitmapContextCreate(memory->data(), width, height, 8, row, space, info);
}

TEST_F(ImageIOTest, BitmapContextsTakeOnlyTheLayoutsCoreGraphicsSupports) {
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  std::vector<uint8_t> m(10 * 40 + 8);
  CGContextRef ok1 = CGBitmapContextCreate(m.data(), 10, 10, 8, 10, grey, kCGImageAlphaNone);
  CGContextRef ok2 = CGBitmapContextCreate(m.data(), 10, 10, 8, 40, rgb, kCGImageAlphaNoneSkipLast);
  EXPECT_NE(ok1, nullptr);
  EXPECT_NE(ok2, nullptr);
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 10, 10, 1, 2, grey, kCGImageAlphaNone), nullptr);  // no 1-bit grey
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 10, 10, 8, 40, rgb, kCGImageAlphaNone), nullptr);  // no 24-bit RGB
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 10, 10, 8, 30, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 10, 10, 8, 10, grey, kCGImageAlphaPremultipliedLast), nullptr);
  // A 1-bit grey image is an image, not a context.
  std::vector<uint8_t> bits(2 * 10, 0xFF);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, bits.data(), bits.size(), nullptr);
  CGImageRef oneBit =
      CGImageCreate(10, 10, 1, 1, 2, grey, kCGImageAlphaNone, p, nullptr, false, kCGRenderingIntentDefault);
  EXPECT_NE(oneBit, nullptr);
  EXPECT_EQ(
      CGImageCreate(10, 10, 1, 1, 1, grey, kCGImageAlphaNone, p, nullptr, false, kCGRenderingIntentDefault),
      nullptr);  // rows too short
  EXPECT_EQ(
      CGImageCreate(10, 11, 1, 1, 2, grey, kCGImageAlphaNone, p, nullptr, false, kCGRenderingIntentDefault),
      nullptr);  // data too short
  CGImageRelease(oneBit);
  CGDataProviderRelease(p);
  CGContextRelease(ok1);
  CGContextRelease(ok2);
  CGColorSpaceRelease(grey);
  CGColorSpaceRelease(rgb);
}

// The declarations of the Mac OS X 10.4u SDK, the oldest the bundle is built for: no
// CGFloat (10.5), float geometry and colours; CGImage.h's CGImageCreate takes
// `const float decode[], bool shouldInterpolate` and an enum intent; CGImageDestination.h's
// CGImageDestinationFinalize answers bool; QDPictToCGContext.h's QDPictGetResolution gives
// floats.
static_assert(
    std::is_same<decltype(&CGImageCreate),
                 CGImageRef (*)(size_t, size_t, size_t, size_t, size_t, CGColorSpaceRef, CGBitmapInfo,
                                CGDataProviderRef, const float*, bool, CGColorRenderingIntent)>::value);
static_assert(std::is_same<decltype(&CGImageDestinationFinalize), bool (*)(CGImageDestinationRef)>::value);
static_assert(std::is_same<decltype(&QDPictGetResolution), void (*)(QDPictRef, float*, float*)>::value);
static_assert(std::is_same<decltype(&CGContextSetRGBFillColor),
                           void (*)(CGContextRef, float, float, float, float)>::value);
static_assert(std::is_same<decltype(CGPoint::x), float>::value);

// One pixel's bytes of a 1 x 1 context of the layout after a fill, or {} when there is no
// such context. The memory starts as 0 (transparent, where the layout has an alpha).
std::vector<uint8_t> Filled(CGColorSpaceRef space, size_t bpc, size_t pixelBytes, CGBitmapInfo info, float red,
                            float green, float blue, float alpha = 1) {
  std::vector<uint8_t> m(pixelBytes, 0);
  CGContextRef c = CGBitmapContextCreate(m.data(), 1, 1, bpc, pixelBytes, space, info);
  if (!c) return {};
  CGContextSetRGBFillColor(c, red, green, blue, alpha);
  CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
  CGContextRelease(c);
  return m;
}

// The Quartz 2D Programming Guide's "Supported Pixel Formats" as of Mac OS X 10.4 for grey
// and RGB (CGBitmapContext.h of 10.4: "bitsPerComponent ... currently must be 5, 8 or 32"):
// grey 8 bits; RGB 5 bits in 16 (NoneSkipFirst); RGB 8 in 32 (NoneSkipFirst/Last,
// PremultipliedFirst/Last); 32-bit float grey (None) and RGB in 128 (NoneSkipLast,
// PremultipliedLast). 16-bit components came with 10.5. CGImage.h: the byte order flags say
// how a pixel's 16- or 32-bit words lie in memory (Default: big-endian); a premultiplied
// context keeps the alpha.
TEST_F(ImageIOTest, BitmapContextsLayTheirPixelsOutAsTiger) {
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(Filled(rgb, 8, 4, kCGImageAlphaNoneSkipFirst, 1, 0, 0), (Bytes{0, 0xFF, 0, 0}));
  EXPECT_EQ(Filled(rgb, 8, 4, kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little, 1, 0, 0),
            (Bytes{0, 0, 0xFF, 0}));  // BGRX
  EXPECT_EQ(Filled(rgb, 8, 4, kCGImageAlphaNoneSkipLast | kCGBitmapByteOrder32Big, 0, 0, 1),
            (Bytes{0, 0, 0xFF, 0}));
  EXPECT_EQ(Filled(rgb, 8, 4, kCGImageAlphaPremultipliedLast, 1, 1, 1), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  // Half a red over nothing: alpha and red (premultiplied) a half.
  EXPECT_EQ(Filled(rgb, 8, 4, kCGImageAlphaPremultipliedFirst, 1, 0, 0, 0.5f), (Bytes{0x80, 0x80, 0, 0}));
  // 5 bits a component: x RRRRR GGGGG BBBBB.
  EXPECT_EQ(Filled(rgb, 5, 2, kCGImageAlphaNoneSkipFirst, 1, 0, 0), (Bytes{0x7C, 0x00}));
  EXPECT_EQ(Filled(rgb, 5, 2, kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder16Little, 0, 0, 1),
            (Bytes{0x1F, 0x00}));
  // Floats: white grey (1.0, 0x3F800000), and RGB with its alpha.
  EXPECT_EQ(Filled(grey, 32, 4, kCGImageAlphaNone | kCGBitmapFloatComponents, 1, 1, 1),
            (Bytes{0x3F, 0x80, 0, 0}));
  EXPECT_EQ(
      Filled(grey, 32, 4, kCGImageAlphaNone | kCGBitmapFloatComponents | kCGBitmapByteOrder32Little, 1, 1, 1),
      (Bytes{0, 0, 0x80, 0x3F}));
  const Bytes f = Filled(rgb, 32, 16, kCGImageAlphaPremultipliedLast | kCGBitmapFloatComponents, 0, 1, 0);
  EXPECT_EQ(f, (Bytes{0, 0, 0, 0, 0x3F, 0x80, 0, 0, 0, 0, 0, 0, 0x3F, 0x80, 0, 0}));
  EXPECT_FALSE(Filled(rgb, 32, 16, kCGImageAlphaNoneSkipLast | kCGBitmapFloatComponents, 0, 1, 0).empty());

  // What 10.4 has no context for: 16-bit components, integer 32-bit ones, floats of another
  // size or layout, 24-bit RGB, alpha with grey, byte orders that do not fit the pixel, bits
  // CGImage.h does not define.
  EXPECT_TRUE(Filled(grey, 16, 2, kCGImageAlphaNone, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 16, 8, kCGImageAlphaPremultipliedLast, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(grey, 32, 4, kCGImageAlphaNone, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(grey, 8, 1, kCGImageAlphaNone | kCGBitmapFloatComponents, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 32, 16, kCGImageAlphaNoneSkipFirst | kCGBitmapFloatComponents, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 8, 3, kCGImageAlphaNone, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 5, 2, kCGImageAlphaNoneSkipLast, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(grey, 8, 2, kCGImageAlphaPremultipliedLast, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(grey, 8, 1, kCGImageAlphaNone | kCGBitmapByteOrder32Little, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 8, 4, kCGImageAlphaNoneSkipLast | kCGBitmapByteOrder16Little, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 5, 2, kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Big, 1, 1, 1).empty());
  EXPECT_TRUE(Filled(rgb, 8, 4, kCGImageAlphaNoneSkipLast | (1u << 9), 1, 1, 1).empty());
  CGColorSpaceRelease(grey);
  CGColorSpaceRelease(rgb);
}

// A 4 x 1 image of the bytes as the layout describes them (the bytes must outlive it).
CGImageRef ImageOf(const std::vector<uint8_t>& bytes, size_t bpc, size_t bpp, CGColorSpaceRef space,
                   CGBitmapInfo info, const float* decode = nullptr) {
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, bytes.data(), bytes.size(), nullptr);
  CGImageRef image =
      CGImageCreate(4, 1, bpc, bpp, bytes.size(), space, info, p, decode, false, kCGRenderingIntentDefault);
  CGDataProviderRelease(p);  // the image holds it
  return image;
}

// The image drawn over white into a 4 x 1 context of the space: its bytes (RGB: three a pixel).
std::vector<uint8_t> DrawnOverWhite(CGImageRef image, CGColorSpaceRef space) {
  const bool colour = CGColorSpaceGetNumberOfComponents(space) == 3;
  std::vector<uint8_t> m(colour ? 16 : 4);
  CGContextRef c = CGBitmapContextCreate(m.data(), 4, 1, 8, m.size(), space,
                                         colour ? kCGImageAlphaNoneSkipLast : kCGImageAlphaNone);
  CGContextSetGrayFillColor(c, 1, 1);
  CGContextFillRect(c, CGRectMake(0, 0, 4, 1));
  CGContextDrawImage(c, CGRectMake(0, 0, 4, 1), image);
  CGContextRelease(c);
  if (!colour) return m;
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < 4; ++i) rgb.insert(rgb.end(), m.begin() + 4 * i, m.begin() + 4 * i + 3);
  return rgb;
}

// The image written as a TIFF through a destination and read back through a source.
CGImageRef ThroughTiff(CGImageRef image) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-depths.tif";
  CFStringRef s = CFStringCreateWithCString(nullptr, path.c_str(), kCFStringEncodingUTF8);
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, s, kCFURLPOSIXPathStyle, false);
  CFRelease(s);
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, CFSTR("public.tiff"), 1, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  const bool written = CGImageDestinationFinalize(d);
  CFRelease(d);
  CGImageSourceRef source = written ? CGImageSourceCreateWithURL(url, nullptr) : nullptr;
  CGImageRef back = source ? CGImageSourceCreateImageAtIndex(source, 0, nullptr) : nullptr;
  if (source) CFRelease(source);
  CFRelease(url);
  return back;
}

// CGImage.h / CGImageCreate's reference: components of 1, 2, 4, 5, 8, 16 or 32 bits (32 also
// as floats, kCGBitmapFloatComponents), the byte order flags for 16- and 32-bit words, a
// decode array of a low and a high value for each colour component that its samples map
// to, and an alpha (premultiplied or not) that covers what the image is drawn over. Each
// draws as its levels, and ImageIO writes it (alpha over white, the Background colour
// CGImageDestination.h names for a file without alpha; 1-bit as 1-bit, the others at 8).
TEST_F(ImageIOTest, ImagesOfEveryComponentSizeDecodeAndAlphaDrawAndWrite) {
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  using Bytes = std::vector<uint8_t>;
  const float invert[] = {1, 0};
  struct Case {
    const char* name;
    Bytes bytes;
    size_t bpc, bpp;
    CGBitmapInfo info;
    const float* decode;
    Bytes drawn;
  };
  const Case greys[] = {
      {"1-bit, inverted", {0xA0}, 1, 1, kCGImageAlphaNone, invert, {0, 255, 0, 255}},
      {"2-bit", {0x1B}, 2, 2, kCGImageAlphaNone, nullptr, {0, 85, 170, 255}},
      {"4-bit", {0x0F, 0x8A}, 4, 4, kCGImageAlphaNone, nullptr, {0, 255, 136, 170}},
      {"16-bit",
       {0, 0, 0xFF, 0xFF, 0x80, 0x80, 0x40, 0},
       16,
       16,
       kCGImageAlphaNone,
       nullptr,
       {0, 255, 128, 64}},
      {"16-bit little-endian",
       {0, 0, 0xFF, 0xFF, 0x80, 0x80, 0, 0x40},
       16,
       16,
       kCGImageAlphaNone | kCGBitmapByteOrder16Little,
       nullptr,
       {0, 255, 128, 64}},
      {"32-bit float",
       {0, 0, 0, 0, 0x3F, 0x80, 0, 0, 0x3F, 0, 0, 0, 0x40, 0, 0, 0},  // 0, 1, 0.5, 2 (as 1)
       32,
       32,
       kCGImageAlphaNone | kCGBitmapFloatComponents,
       nullptr,
       {0, 255, 128, 255}},
      {"8-bit, alpha last",
       {0, 255, 0, 0, 0, 128, 255, 255},
       8,
       16,
       kCGImageAlphaLast,
       nullptr,
       {0, 255, 127, 255}},
  };
  for (const Case& t : greys) {
    SCOPED_TRACE(t.name);
    CGImageRef image = ImageOf(t.bytes, t.bpc, t.bpp, grey, t.info, t.decode);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(DrawnOverWhite(image, grey), t.drawn);
    CGImageRef back = ThroughTiff(image);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(CGImageGetBitsPerComponent(back), t.bpc == 1 ? 1u : 8u);
    EXPECT_EQ(DrawnOverWhite(back, grey), t.drawn);
    CGImageRelease(back);
    CGImageRelease(image);
  }
  // RGB: 5 bits in 16 (red, green, blue, white); 8 bits with half a red, straight and
  // premultiplied, over white: red stays, green and blue half.
  const Case colours[] = {
      {"5-bit",
       {0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF},
       5,
       16,
       kCGImageAlphaNoneSkipFirst,
       nullptr,
       {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
      {"alpha last",
       {255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 0, 255, 0, 0, 255},
       8,
       32,
       kCGImageAlphaLast,
       nullptr,
       {255, 127, 127, 255, 127, 127, 255, 255, 255, 255, 0, 0}},
      {"premultiplied first, 32-bit little-endian",
       {0, 0, 128, 128, 0, 0, 128, 128, 0, 0, 0, 0, 0, 0, 255, 255},
       8,
       32,
       kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
       nullptr,
       {255, 127, 127, 255, 127, 127, 255, 255, 255, 255, 0, 0}},
  };
  for (const Case& t : colours) {
    SCOPED_TRACE(t.name);
    CGImageRef image = ImageOf(t.bytes, t.bpc, t.bpp, rgb, t.info, t.decode);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(DrawnOverWhite(image, rgb), t.drawn);
    CGImageRef back = ThroughTiff(image);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(DrawnOverWhite(back, rgb), t.drawn);
    CGImageRelease(back);
    CGImageRelease(image);
  }
  // What CGImageCreate refuses: a component size outside its list, bits a pixel that do not
  // hold the components and alpha (or, without alpha, more than they need), float components
  // of another size, an alpha without colour, a byte order wider than the pixel.
  const Bytes room(64, 0);
  EXPECT_EQ(ImageOf(room, 3, 3, grey, kCGImageAlphaNone), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 16, grey, kCGImageAlphaNone), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 32, rgb, kCGImageAlphaNone), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 24, rgb, kCGImageAlphaPremultipliedLast), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 24, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_EQ(ImageOf(room, 16, 16, grey, kCGImageAlphaNone | kCGBitmapFloatComponents), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 8, grey, kCGImageAlphaOnly), nullptr);
  EXPECT_EQ(ImageOf(room, 8, 24, rgb, kCGImageAlphaNone | kCGBitmapByteOrder32Little), nullptr);
  CGImageRef fits = ImageOf(room, 8, 24, rgb, kCGImageAlphaNone);
  EXPECT_NE(fits, nullptr);
  CGImageRelease(fits);
  CGColorSpaceRelease(grey);
  CGColorSpaceRelease(rgb);
}

// CFRuntime.c gives an object's memory back when its count reaches zero; what a later
// CFRetain, CFRelease or any other call then reads there is undefined (a crash, or the
// count of whichever object took the address). The stand-in halts on each such call,
// naming it, and keeps freed objects' addresses from new objects so that it can tell.
TEST_F(ImageIOTest, ReferencesAreCountedAndAReleaseTooManyHalts) {
  CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  CFRetain(s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  CFRelease(s);
  EXPECT_DEATH(CFRelease(s), "CFRelease\\(\\): 0x[0-9a-f]+ is a freed object");
  EXPECT_DEATH(CFRetain(s), "CFRetain\\(\\): .* freed object");
  EXPECT_DEATH(CFGetRetainCount(s), "CFGetRetainCount\\(\\): .* freed object");
  EXPECT_DEATH(CFGetTypeID(s), "CFGetTypeID\\(\\): .* freed object");
  char buffer[8];
  EXPECT_DEATH(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8), "freed object");
  // An address that never was an object.
  EXPECT_DEATH(CFRelease(buffer), "CFRelease\\(\\): 0x[0-9a-f]+ is not a CF object");
  EXPECT_DEATH(CFRelease(nullptr), "CFRelease\\(\\) called with NULL");
  EXPECT_DEATH(CFGetTypeID(nullptr), "called with NULL");
  // A dictionary keeps what it holds alive.
  double one = 1;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberDoubleType, &one);
  const void* keys[] = {kCGImagePropertyDPIWidth};
  const void* values[] = {n};
  CFDictionaryRef d = CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks);
  CFRelease(n);
  EXPECT_EQ(CFGetRetainCount(n), 1);
  CFRelease(d);
  EXPECT_DEATH(CFNumberGetValue(n, kCFNumberDoubleType, &one), "CFNumberGetValue\\(\\): .* freed object");
  // A dictionary of CF types retains what it is given: a freed value halts there.
  CFMutableDictionaryRef m =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  EXPECT_DEATH(CFDictionarySetValue(m, kCGImagePropertyDPIWidth, n), "CFRetain\\(\\): .* freed object");
  CFRelease(m);
}

// The heap hands a freed block to the next allocation of its size at once; were it to do so
// here, a stale reference would be taken for the new object and its misuse go unseen.
TEST_F(ImageIOTest, AFreedObjectsAddressIsNotTakenByTheObjectsMadeAfterIt) {
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  uint8_t pixels[16];
  CGContextRef freed = CGBitmapContextCreate(pixels, 4, 4, 8, 4, grey, kCGImageAlphaNone);
  CGContextRelease(freed);
  std::vector<CGContextRef> made;
  for (int i = 0; i < 1000; ++i)
    made.push_back(CGBitmapContextCreate(pixels, 4, 4, 8, 4, grey, kCGImageAlphaNone));
  size_t reused = 0;
  for (CGContextRef c : made) reused += c == freed;
  EXPECT_EQ(reused, 0u);
  EXPECT_DEATH(CGContextRelease(freed), "CGContextRelease\\(\\): .* freed object");
  EXPECT_DEATH(CGContextFillRect(freed, CGRectMake(0, 0, 1, 1)), "CGContextFillRect\\(\\): .* freed object");
  for (CGContextRef c : made) CGContextRelease(c);
  CGColorSpaceRelease(grey);
}

// CoreFoundation's functions read what they are given as their own type: CFInternal.h's
// __CFGenericValidateType ("pointer %p is not a %s") checks it only in Apple's debug builds,
// and CFDictionary.h and the others call anything else undefined. The stand-in halts. The
// same for CoreGraphics, ImageIO and QDPict, which read their objects' fields the same way
// (a context that CGContextFillRect finds not to be one it only logs, but no correct caller
// gives one). NULL is where they differ: CF halts (CFRuntime.c: "CFGetTypeID() called with
// NULL"), CG answers nothing ("CGImageRelease: If image is NULL, this function does nothing";
// CGContextFillRect logs "invalid context 0x0" and returns), ImageIO answers failure.
TEST_F(ImageIOTest, AnObjectOfAnotherTypeHaltsAndNullIsTakenAsEachFrameworkTakesIt) {
  CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
  CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  uint8_t pixels[16] = {};
  CGContextRef c = CGBitmapContextCreate(pixels, 4, 4, 8, 4, grey, kCGImageAlphaNone);
  CGImageRef image = CGBitmapContextCreateImage(c);
  CGImageDestinationRef d = CGImageDestinationCreateWithData(data, CFSTR("public.png"), 1, nullptr);
  ASSERT_NE(d, nullptr);
  double v = 0;
  char buffer[4];
  EXPECT_DEATH(CFDictionaryGetValue(reinterpret_cast<CFDictionaryRef>(s), s),
               "is a CFString, not a CFDictionary");
  EXPECT_DEATH(CFNumberGetValue(reinterpret_cast<CFNumberRef>(data), kCFNumberDoubleType, &v),
               "CFNumberGetValue\\(\\): .* is a CFData, not a CFNumber");
  EXPECT_DEATH(CFStringGetCString(reinterpret_cast<CFStringRef>(image), buffer, 4, kCFStringEncodingUTF8),
               "is a CGImage, not a CFString");
  EXPECT_DEATH(CFDataGetLength(nullptr), "CFDataGetLength\\(\\) called with NULL");
  EXPECT_DEATH(CGImageDestinationAddImage(d, reinterpret_cast<CGImageRef>(c), nullptr),
               "CGImageDestinationAddImage\\(\\): .* is a CGContext, not a CGImage");
  EXPECT_DEATH(CGImageDestinationAddImage(d, image, reinterpret_cast<CFDictionaryRef>(s)),
               "is a CFString, not a CFDictionary");
  EXPECT_DEATH(CGImageDestinationFinalize(reinterpret_cast<CGImageDestinationRef>(data)),
               "is a CFData, not a CGImageDestination");
  EXPECT_DEATH(CGImageRelease(reinterpret_cast<CGImageRef>(grey)),
               "CGImageRelease\\(\\): .* is a CGColorSpace");
  EXPECT_DEATH(CGContextFillRect(reinterpret_cast<CGContextRef>(image), CGRectMake(0, 0, 1, 1)),
               "is a CGImage, not a CGContext");
  EXPECT_DEATH(QDPictGetBounds(reinterpret_cast<QDPictRef>(image)), "is a CGImage, not a QDPict");
  // NULL.
  CGImageRelease(nullptr);
  CGContextRelease(nullptr);
  CGColorSpaceRelease(nullptr);
  CGContextFillRect(nullptr, CGRectMake(0, 0, 1, 1));
  EXPECT_EQ(CGImageGetWidth(nullptr), 0u);
  CGImageDestinationAddImage(d, nullptr, nullptr);
  EXPECT_FALSE(CGImageDestinationFinalize(nullptr));
  EXPECT_FALSE(CGImageDestinationFinalize(d));  // the NULL image was not taken
  // A freed image given to a destination.
  CGImageRelease(image);
  CGImageDestinationRef another = CGImageDestinationCreateWithData(data, CFSTR("public.png"), 1, nullptr);
  EXPECT_DEATH(CGImageDestinationAddImage(another, image, nullptr),
               "CGImageDestinationAddImage\\(\\): .* freed object");
  CFRelease(another);
  CFRelease(d);
  CGContextRelease(c);
  CGColorSpaceRelease(grey);
  CFRelease(s);
  CFRelease(data);
}

// CFData.h, CFDataAppendBytes: "theData: A CFMutableData object. If you pass an immutable
// CFData object, the behavior is undefined." CF halts on it, as on a dictionary.
TEST_F(ImageIOTest, BytesAreAppendedOnlyToMutableData) {
  const UInt8 bytes[] = {1, 2, 3};
  CFMutableDataRef mutableData = CFDataCreateMutable(nullptr, 0);
  CFDataAppendBytes(mutableData, bytes, 3);
  EXPECT_EQ(CFDataGetLength(mutableData), 3);
  CFDataRef fixed = CFDataCreate(nullptr, bytes, 3);
  EXPECT_DEATH(CFDataAppendBytes(reinterpret_cast<CFMutableDataRef>(const_cast<__CFData*>(fixed)), bytes, 1),
               "CFDataAppendBytes\\(\\): .* is an immutable CFData");
  EXPECT_EQ(CFDataGetLength(fixed), 3);
  CFRelease(fixed);
  CFRelease(mutableData);
}

// CFDictionary.h: the callbacks decide how keys and values are held. NULL callbacks (or a
// NULL field) retain nothing and compare keys by pointer; the CFType callbacks retain and
// compare with CFEqual; a value set for an existing key replaces the value and keeps the
// key. CFDictionaryCreate makes an immutable dictionary, and "if this parameter is not a
// valid mutable CFDictionary, the behavior is undefined": CF halts. NULL where a dictionary
// belongs halts too, and so does CFStringCreateWithCString(NULL), whose length CF takes with
// strlen.
struct Counted {
  static int retains, releases, equals;
  static const void* Retain(CFAllocatorRef, const void* v) { return ++retains, v; }
  static void Release(CFAllocatorRef, const void*) { ++releases; }
  static Boolean Equal(const void* a, const void* b) {
    return ++equals, std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b)) == 0;
  }
};
int Counted::retains, Counted::releases, Counted::equals;

TEST_F(ImageIOTest, DictionariesHonourTheirCallbacksAndHaltOnMisuse) {
  double one = 1, two = 2;
  CFNumberRef n1 = CFNumberCreate(nullptr, kCFNumberDoubleType, &one);
  CFNumberRef n2 = CFNumberCreate(nullptr, kCFNumberDoubleType, &two);
  char a1[] = "a", a2[] = "a";

  // No callbacks: nothing retained, keys by pointer.
  CFMutableDictionaryRef plain = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
  CFDictionarySetValue(plain, a1, n1);
  CFDictionarySetValue(plain, a2, n2);
  EXPECT_EQ(CFDictionaryGetCount(plain), 2);
  EXPECT_EQ(CFDictionaryGetValue(plain, a1), n1);
  EXPECT_EQ(CFGetRetainCount(n1), 1);
  CFRelease(plain);
  EXPECT_EQ(CFGetRetainCount(n1), 1);

  // The caller's callbacks: its equality, and a retain and release for every value held.
  const CFDictionaryKeyCallBacks keys = {0,       Counted::Retain, Counted::Release,
                                         nullptr, Counted::Equal,  nullptr};
  const CFDictionaryValueCallBacks values = {0, Counted::Retain, Counted::Release, nullptr, nullptr};
  CFMutableDictionaryRef own = CFDictionaryCreateMutable(nullptr, 0, &keys, &values);
  CFDictionarySetValue(own, a1, "first");
  CFDictionarySetValue(own, a2, "second");  // the same key: a1 stays, the value is replaced
  EXPECT_EQ(CFDictionaryGetCount(own), 1);
  EXPECT_STREQ(static_cast<const char*>(CFDictionaryGetValue(own, a2)), "second");
  EXPECT_GE(Counted::equals, 1);
  EXPECT_EQ(Counted::retains, 3);   // key a1, "first", "second"
  EXPECT_EQ(Counted::releases, 1);  // "first"
  CFRelease(own);
  EXPECT_EQ(Counted::releases, 3);

  // The CFType callbacks: equal strings are one key; the first key object stays.
  CFStringRef k1 = CFStringCreateWithCString(nullptr, "k", kCFStringEncodingUTF8);
  CFStringRef k2 = CFStringCreateWithCString(nullptr, "k", kCFStringEncodingUTF8);
  CFMutableDictionaryRef typed =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CFDictionarySetValue(typed, k1, n1);
  CFDictionarySetValue(typed, k2, n2);
  EXPECT_EQ(CFDictionaryGetCount(typed), 1);
  EXPECT_EQ(CFDictionaryGetValue(typed, k1), n2);
  EXPECT_EQ(CFGetRetainCount(k1), 2);
  EXPECT_EQ(CFGetRetainCount(k2), 1);
  EXPECT_EQ(CFGetRetainCount(n1), 1);
  EXPECT_EQ(CFGetRetainCount(n2), 2);
  CFRelease(typed);

  const void* k[] = {k1};
  const void* v[] = {n1};
  CFDictionaryRef fixed =
      CFDictionaryCreate(nullptr, k, v, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  EXPECT_DEATH(CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed), k2, n2), "");
  EXPECT_EQ(CFDictionaryGetValue(fixed, k2), n1);
  EXPECT_DEATH(CFDictionaryGetValue(nullptr, k1), "");
  EXPECT_DEATH(CFDictionaryGetCount(nullptr), "");
  EXPECT_DEATH(CFDictionarySetValue(nullptr, k1, n1), "");
  EXPECT_DEATH(CFDictionaryGetValue(reinterpret_cast<CFDictionaryRef>(k1), k1), "");  // a string
  EXPECT_DEATH(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), "");
  CFRelease(fixed);
  CFRelease(k1);
  CFRelease(k2);
  CFRelease(n1);
  CFRelease(n2);
}

// CGImageDestination.h: `count` is the number of images the file will contain. A PNG, JPEG
// or BMP file contains one, so a destination of those for two images is NULL, as is one of a
// type ImageIO does not write. The Image I/O Programming Guide lists com.microsoft.bmp
// (kUTTypeBMP) among the types CGImageDestinationCopyTypeIdentifiers answers.
TEST_F(ImageIOTest, DestinationsKeepToTheirCountAndType) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-count.tif";
  CFURLRef url = Url(path);
  EXPECT_EQ(CGImageDestinationCreateWithURL(url, CFSTR("public.plain-text"), 1, nullptr), nullptr);
  EXPECT_EQ(CGImageDestinationCreateWithURL(url, kUTTypeTIFF, 0, nullptr), nullptr);
  for (CFStringRef single : {kUTTypePNG, kUTTypeJPEG, kUTTypeBMP}) {
    EXPECT_EQ(CGImageDestinationCreateWithURL(url, single, 2, nullptr), nullptr);
    CGImageDestinationRef one = CGImageDestinationCreateWithURL(url, single, 1, nullptr);
    EXPECT_NE(one, nullptr);
    if (one) CFRelease(one);
  }

  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  std::vector<uint8_t> memory;
  CGContextRef c = NewContext(&memory, 8, 8, grey, kCGImageAlphaNone);
  CGImageRef image = CGBitmapContextCreateImage(c);
  // Fewer images than announced: nothing is written.
  std::remove(path.c_str());
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, kUTTypeTIFF, 2, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  EXPECT_FALSE(CGImageDestinationFinalize(d));
  EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
  CFRelease(d);
  // More than announced: the extra one is ignored; a second Finalize fails.
  d = CGImageDestinationCreateWithURL(url, kUTTypePNG, 1, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  EXPECT_TRUE(CGImageDestinationFinalize(d));
  EXPECT_FALSE(CGImageDestinationFinalize(d));
  CFRelease(d);
  CGImageRelease(image);
  CGContextRelease(c);
  CGColorSpaceRelease(grey);
  CFRelease(url);
}

// The scanner's picture, with and without the file's 512-byte header, drawn into RGB and
// grey contexts: the raster's own pixels.
// A destination into a CFData appends the file's bytes to it when finalized, and only then.
TEST_F(ImageIOTest, ADestinationIntoDataFillsItWhenFinalized) {
  CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
  EXPECT_EQ(CGImageDestinationCreateWithData(data, CFSTR("public.plain-text"), 1, nullptr), nullptr);
  EXPECT_EQ(CGImageDestinationCreateWithData(nullptr, CFSTR("public.jpeg"), 1, nullptr), nullptr);
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  std::vector<uint8_t> memory;
  CGContextRef c = NewContext(&memory, 16, 8, grey, kCGImageAlphaNone);
  CGImageRef image = CGBitmapContextCreateImage(c);
  CGImageDestinationRef d = CGImageDestinationCreateWithData(data, CFSTR("public.jpeg"), 1, nullptr);
  ASSERT_NE(d, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  EXPECT_EQ(CFDataGetLength(data), 0);
  EXPECT_TRUE(CGImageDestinationFinalize(d));
  ASSERT_GT(CFDataGetLength(data), 4);
  const UInt8* bytes = CFDataGetBytePtr(data);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);  // a JPEG stream's start
  CFRelease(d);
  EXPECT_EQ(CFGetRetainCount(data), 1);  // the destination held it while it lived
  CFRelease(data);
  CGImageRelease(image);
  CGContextRelease(c);
  CGColorSpaceRelease(grey);
}

TEST_F(ImageIOTest, PicturesDrawAsTheirPixels) {
  const vscan::Raster r = Page(2);
  std::vector<uint8_t> pict = vscan::EncodePICT(r);
  std::vector<uint8_t> file(512, 0);
  file.insert(file.end(), pict.begin(), pict.end());
  for (const std::vector<uint8_t>* data : {&pict, &file}) {
    CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, data->data(), data->size(), nullptr);
    QDPictRef q = QDPictCreateWithProvider(p);
    ASSERT_NE(q, nullptr);
    CGRect b = QDPictGetBounds(q);  // at 72 dpi: the 50 dpi raster's size x 72 / 50
    EXPECT_NEAR(b.size.width, r.width * 72.0 / 50, 1e-3);
    EXPECT_NEAR(b.size.height, r.height * 72.0 / 50, 1e-3);
    float x = 0, y = 0;
    QDPictGetResolution(q, &x, &y);
    EXPECT_EQ(x, 50);
    for (bool colour : {true, false}) {
      CGColorSpaceRef space = colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray();
      std::vector<uint8_t> memory;
      CGContextRef c = NewContext(&memory, r.width, r.height, space,
                                  colour ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaNone);
      ASSERT_EQ(QDPictDrawToCGContext(c, CGRectMake(0, 0, r.width, r.height), q), 0);
      const uint8_t* px = static_cast<const uint8_t*>(CGBitmapContextGetData(c));
      const size_t row = CGBitmapContextGetBytesPerRow(c);
      int wrong = 0;
      for (int j = 0; j < r.height; ++j) {
        for (int i = 0; i < r.width; ++i) {
          const uint8_t* want = r.rows.data() + j * r.stride() + 3 * i;
          if (colour) {
            wrong += std::memcmp(px + j * row + 4 * i + 1, want, 3) != 0;
          } else if (want[0] == want[1] && want[1] == want[2]) {
            wrong += px[j * row + i] != want[0];
          }
        }
      }
      EXPECT_EQ(wrong, 0) << (colour ? "colour" : "grey");
      CGContextRelease(c);
      CGColorSpaceRelease(space);
    }
    QDPictRelease(q);
    CGDataProviderRelease(p);
  }
  // No version 2 picture, and an opcode QuickDraw draws but this stand-in does not know.
  std::vector<uint8_t> junk(600, 0x11);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, junk.data(), junk.size(), nullptr);
  EXPECT_EQ(QDPictCreateWithProvider(p), nullptr);
  CGDataProviderRelease(p);
  std::vector<uint8_t> line = pict;
  line[14 + 26] = 0x00;  // the clip opcode becomes 0x0020, a line
  line[14 + 27] = 0x20;
  p = CGDataProviderCreateWithData(nullptr, line.data(), line.size(), nullptr);
  QDPictRef q = QDPictCreateWithProvider(p);
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  std::vector<uint8_t> memory;
  CGContextRef c = NewContext(&memory, r.width, r.height, grey, kCGImageAlphaNone);
  EXPECT_EQ(QDPictDrawToCGContext(c, CGRectMake(0, 0, r.width, r.height), q), -4);
  CGContextRelease(c);
  CGColorSpaceRelease(grey);
  QDPictRelease(q);
  CGDataProviderRelease(p);
}

// QDPictToCGContext.h: QDPictGetBounds answers the picture's frame at 72 dpi, so a picture
// of other resolutions is as large in units as it is in inches; Inside Macintosh: Imaging With
// QuickDraw, OpenCPicParams: the frame scales by destination / source resolution. Its pixels
// are the bounds x resolution / 72. QDPictRelease, like CFRelease, takes no NULL.
TEST_F(ImageIOTest, PictureBoundsAreAt72DpiAndANullPictureIsNotReleased) {
  vscan::ScanSettings s;
  s.pixelType = 2;
  s.xres = 300;
  s.yres = 150;
  s.right = 2;
  s.bottom = 1;
  const vscan::Raster r = vscan::RenderPage(s);
  ASSERT_EQ(r.width, 600);
  ASSERT_EQ(r.height, 150);
  std::vector<uint8_t> pict = vscan::EncodePICT(r);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, pict.data(), pict.size(), nullptr);
  QDPictRef q = QDPictCreateWithProvider(p);
  ASSERT_NE(q, nullptr);
  const CGRect b = QDPictGetBounds(q);
  EXPECT_EQ(b.origin.x, 0);
  EXPECT_EQ(b.origin.y, 0);
  EXPECT_NEAR(b.size.width, 144, 1e-3);  // two inches
  EXPECT_NEAR(b.size.height, 72, 1e-3);  // one inch
  float x = 0, y = 0;
  QDPictGetResolution(q, &x, &y);
  EXPECT_NEAR(b.size.width * x / 72, r.width, 1e-3);
  EXPECT_NEAR(b.size.height * y / 72, r.height, 1e-3);
  QDPictRelease(q);
  CGDataProviderRelease(p);
  EXPECT_DEATH(QDPictRelease(nullptr), "");
  EXPECT_DEATH(QDPictRelease(q), "QDPictRelease\\(\\): .* freed object");
  EXPECT_DEATH(QDPictDrawToCGContext(nullptr, b, q), "QDPictDrawToCGContext\\(\\): .* freed object");
}

// What a shell command prints on standard output (a tool that reads a file back).
std::string Output(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
  pclose(p);
  return text;
}

// An immutable dictionary of CFType keys and values.
CFDictionaryRef Dictionary(std::initializer_list<std::pair<CFStringRef, CFTypeRef>> items) {
  std::vector<const void*> keys, values;
  for (const auto& [k, v] : items) {
    keys.push_back(k);
    values.push_back(v);
  }
  return CFDictionaryCreate(nullptr, keys.data(), values.data(), static_cast<CFIndex>(keys.size()),
                            &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
}

// An image of the virtual scanner's page of the pixel type (0 black and white, 1 grey, 2
// colour), over its raster (which must outlive it).
CGImageRef PageImage(const vscan::Raster& r, int pixelType) {
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, r.rows.data(), r.rows.size(), nullptr);
  CGColorSpaceRef space = pixelType == 2 ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray();
  CGImageRef image = CGImageCreate(r.width, r.height, pixelType == 0 ? 1 : 8, r.bitsPerPixel, r.stride(), space,
                                   kCGImageAlphaNone, p, nullptr, false, kCGRenderingIntentDefault);
  CGColorSpaceRelease(space);
  CGDataProviderRelease(p);
  return image;
}

// Writes one image through a destination of `type` at `path`: Finalize's answer.
bool WriteImage(const std::string& path, CFStringRef type, CGImageRef image, CFDictionaryRef props) {
  CFURLRef url = UrlOf(path);
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, type, 1, nullptr);
  CFRelease(url);
  if (!d) return false;
  CGImageDestinationAddImage(d, image, props);
  const bool written = CGImageDestinationFinalize(d);
  CFRelease(d);
  return written;
}

// What the code in between writes on standard error, through a pipe (which no file size
// limit cuts short); past the pipe's capacity it is dropped rather than waited for.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    if (pipe(fds_) != 0) return;
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    saved_ = dup(2);
    dup2(fds_[1], 2);
    close(fds_[1]);
  }
  std::string Take() {
    if (saved_ < 0) return "(stderr not captured)";
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    close(fds_[0]);
    return text;
  }
  ~StderrCapture() {
    if (saved_ >= 0) Take();
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

// Files of this process may not grow past `bytes` (a disk that fills): a write beyond fails
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    signal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, signal_);
  }

 private:
  rlimit saved_{};
  void (*signal_)(int) = nullptr;
};

// CGBitmapContext.h of 10.4 (and 10.5): `data` points to at least bytesPerRow x height
// bytes, and bytesPerRow is at least the row's pixels; NULL data (and with it bytesPerRow 0)
// arrived with 10.6. Apple asks nothing more of bytesPerRow: a row that is no multiple of
// the pixel's size is drawn where it lies.
TEST_F(ImageIOTest, BitmapContextsTakeTheCallersMemoryAndRowsOfAnyLengthFromThePixels) {
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  StderrCapture printed;
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 3, 2, 8, 12, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 3, 2, 8, 0, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  std::vector<uint8_t> m(2 * 13, 0xEE);
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 3, 2, 8, 0, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(m.data(), 3, 2, 8, 11, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_NE(printed.Take().find("CGBitmapContextCreate"), std::string::npos);  // a console message
  CGContextRef c = CGBitmapContextCreate(m.data(), 3, 2, 8, 13, rgb, kCGImageAlphaNoneSkipLast);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(CGBitmapContextGetData(c), m.data());
  CGContextSetRGBFillColor(c, 1, 0, 0, 1);
  CGContextFillRect(c, CGRectMake(2, 0, 1, 1));  // the bottom row's last pixel: bytes 21..24
  std::vector<uint8_t> want(2 * 13, 0xEE);
  want[21] = 0xFF;
  want[22] = want[23] = 0;
  EXPECT_EQ(m, want);
  CGContextRelease(c);
  CGColorSpaceRelease(rgb);
}

// A TIFF destination of two pages, read back through a source page by page; cut short (a
// copy that stopped), the pages whose directory is there, and nothing printed.
TEST_F(ImageIOTest, TiffPagesReadBackThroughASource) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-pages.tif";
  CFURLRef url = Url(path);
  const vscan::Raster r = Page(1);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, r.rows.data(), r.rows.size(), nullptr);
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGImageRef image = CGImageCreate(r.width, r.height, 8, 8, r.stride(), grey, kCGImageAlphaNone, p, nullptr,
                                   false, kCGRenderingIntentDefault);
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, CFSTR("public.tiff"), 2, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  ASSERT_TRUE(CGImageDestinationFinalize(d));
  CFRelease(d);
  CGImageSourceRef s = CGImageSourceCreateWithURL(url, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CGImageSourceGetCount(s), 2u);
  CGImageRef back = CGImageSourceCreateImageAtIndex(s, 1, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(CGImageGetWidth(back), static_cast<size_t>(r.width));
  EXPECT_EQ(CGImageGetBitsPerPixel(back), 8u);
  EXPECT_EQ(CGImageSourceCreateImageAtIndex(s, 2, nullptr), nullptr);
  CGImageRelease(back);
  CFRelease(s);

  // Each page's strips come before its directory: three quarters of the file hold the first
  // page and half the second's pixels, a quarter half the first page's pixels.
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  for (auto [keep, pages] : {std::pair<long, size_t>{size * 3 / 4, 1}, {size / 4, 0}}) {
    SCOPED_TRACE(keep);
    ASSERT_EQ(truncate(path.c_str(), keep), 0);
    StderrCapture printed;
    s = CGImageSourceCreateWithURL(url, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CGImageSourceGetCount(s), pages);
    if (pages > 0) {
      CGImageRef first = CGImageSourceCreateImageAtIndex(s, 0, nullptr);
      EXPECT_NE(first, nullptr);
      CGImageRelease(first);
    }
    CFRelease(s);
    EXPECT_EQ(printed.Take(), "");
  }
  CGImageRelease(image);
  CGColorSpaceRelease(grey);
  CGDataProviderRelease(p);
  CFRelease(url);
}

// ImageIO's LZW TIFF carries the horizontal differencing predictor on 8-bit samples (grey and
// colour; it has no property to ask for one): libtiff says so, and the pixels read back.
TEST_F(ImageIOTest, LzwTiffOfEightBitSamplesCarriesThePredictor) {
  for (int t : {0, 1, 2}) {
    SCOPED_TRACE(t);
    const std::string path = std::string(KV_OUT_DIR) + "/imageio-lzw.tif";
    CFURLRef url = Url(path);
    const vscan::Raster r = Page(t);
    CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, r.rows.data(), r.rows.size(), nullptr);
    CGColorSpaceRef space = t == 2 ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray();
    const size_t bits = t == 0 ? 1 : 8;
    CGImageRef image = CGImageCreate(r.width, r.height, bits, r.bitsPerPixel, r.stride(), space,
                                     kCGImageAlphaNone, p, nullptr, false, kCGRenderingIntentDefault);
    ASSERT_NE(image, nullptr);
    const int lzw = 5;
    CFNumberRef compression = CFNumberCreate(nullptr, kCFNumberIntType, &lzw);
    const void* tiffKeys[] = {kCGImagePropertyTIFFCompression};
    const void* tiffValues[] = {compression};
    CFDictionaryRef tiff = CFDictionaryCreate(nullptr, tiffKeys, tiffValues, 1, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
    const void* keys[] = {kCGImagePropertyTIFFDictionary};
    const void* values[] = {tiff};
    CFDictionaryRef props = CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                               &kCFTypeDictionaryValueCallBacks);
    CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, CFSTR("public.tiff"), 1, nullptr);
    CGImageDestinationAddImage(d, image, props);
    ASSERT_TRUE(CGImageDestinationFinalize(d));
    CFRelease(d);
    const std::string text = Output("tiffinfo '" + path + "' 2>&1");
    EXPECT_NE(text.find("LZW"), std::string::npos) << text;
    EXPECT_EQ(text.find("Predictor: horizontal differencing") != std::string::npos, t != 0) << text;
    CGImageSourceRef s = CGImageSourceCreateWithURL(url, nullptr);
    CGImageRef back = s ? CGImageSourceCreateImageAtIndex(s, 0, nullptr) : nullptr;
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(CGImageGetBitsPerPixel(back), static_cast<size_t>(r.bitsPerPixel));
    CGImageRelease(back);
    CFRelease(s);
    CFRelease(props);
    CFRelease(tiff);
    CFRelease(compression);
    CGImageRelease(image);
    CGColorSpaceRelease(space);
    CGDataProviderRelease(p);
    CFRelease(url);
  }
}

// A JPEG stream in memory (CFData) reads back through a source, and its image draws into a
// context of either space; bytes that are no JPEG stream make a source of no image.
TEST_F(ImageIOTest, JpegStreamInMemoryReadsBackAndDraws) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-stream.jpg";
  CFURLRef url = Url(path);
  const vscan::Raster r = Page(2);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, r.rows.data(), r.rows.size(), nullptr);
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  CGImageRef image = CGImageCreate(r.width, r.height, 8, 24, r.stride(), rgb, kCGImageAlphaNone, p, nullptr,
                                   false, kCGRenderingIntentDefault);
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, CFSTR("public.jpeg"), 1, nullptr);
  const double dpi = 50;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberDoubleType, &dpi);
  const void* keys[] = {kCGImagePropertyDPIWidth, kCGImagePropertyDPIHeight};
  const void* values[] = {n, n};
  CFDictionaryRef props = CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                             &kCFTypeDictionaryValueCallBacks);
  CGImageDestinationAddImage(d, image, props);
  ASSERT_TRUE(CGImageDestinationFinalize(d));
  CFRelease(d);
  CFRelease(props);
  CFRelease(n);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> bytes(1 << 20);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);

  CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
  ASSERT_EQ(CFDataGetLength(data), static_cast<CFIndex>(bytes.size()));
  EXPECT_NE(CFDataGetBytePtr(data), bytes.data());  // a copy
  CGImageSourceRef s = CGImageSourceCreateWithData(data, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CGImageSourceGetCount(s), 1u);
  CFDictionaryRef read = CGImageSourceCopyPropertiesAtIndex(s, 0, nullptr);
  double x = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(read, kCGImagePropertyDPIWidth)),
                   kCFNumberDoubleType, &x);
  EXPECT_EQ(x, 50);
  CFRelease(read);
  CGImageRef back = CGImageSourceCreateImageAtIndex(s, 0, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(CGImageGetWidth(back), size_t(r.width));
  EXPECT_EQ(CGImageGetHeight(back), size_t(r.height));
  EXPECT_EQ(CGImageGetBitsPerPixel(back), 24u);
  // Drawn at its size: the bars' colours, within JPEG's error, in RGB and in grey.
  std::vector<uint8_t> colourMemory, greyMemory;
  CGContextRef colour = NewContext(&colourMemory, r.width, r.height, rgb, kCGImageAlphaNoneSkipLast);
  CGColorSpaceRef greySpace = CGColorSpaceCreateDeviceGray();
  CGContextRef grey = NewContext(&greyMemory, r.width, r.height, greySpace, kCGImageAlphaNone);
  const CGRect all = CGRectMake(0, 0, r.width, r.height);
  CGContextDrawImage(colour, all, back);
  CGContextDrawImage(grey, all, back);
  const uint8_t* c = static_cast<const uint8_t*>(CGBitmapContextGetData(colour));
  const uint8_t* g = static_cast<const uint8_t*>(CGBitmapContextGetData(grey));
  const size_t row = 10, col = 25;  // the yellow bar, top half (frame from x = 1 inch, y = 4)
  const uint8_t* raster = r.rows.data() + size_t(r.stride()) * row + 3 * col;
  const uint8_t* drawn = c + CGBitmapContextGetBytesPerRow(colour) * row + 4 * col;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(drawn[k], raster[k], 8) << k;
  EXPECT_NEAR(g[CGBitmapContextGetBytesPerRow(grey) * row + col],
              (299 * raster[0] + 587 * raster[1] + 114 * raster[2]) / 1000, 8);
  CGContextRelease(grey);
  CGContextRelease(colour);
  CGColorSpaceRelease(greySpace);
  CGImageRelease(back);
  CFRelease(s);
  CFRelease(data);

  // Not a JPEG stream, or a stream cut short.
  const uint8_t junk[] = {0x89, 'P', 'N', 'G'};
  data = CFDataCreate(nullptr, junk, sizeof junk);
  s = CGImageSourceCreateWithData(data, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CGImageSourceGetCount(s), 0u);
  EXPECT_EQ(CGImageSourceCreateImageAtIndex(s, 0, nullptr), nullptr);
  CFRelease(s);
  CFRelease(data);
  data = CFDataCreate(nullptr, bytes.data(), 200);
  s = CGImageSourceCreateWithData(data, nullptr);
  EXPECT_EQ(CGImageSourceGetCount(s), 1u);
  EXPECT_EQ(CGImageSourceCreateImageAtIndex(s, 0, nullptr), nullptr);
  CFRelease(s);
  CFRelease(data);
  EXPECT_EQ(CFDataCreate(nullptr, nullptr, 4), nullptr);

  CGImageRelease(image);
  CGColorSpaceRelease(rgb);
  CGDataProviderRelease(p);
  CFRelease(url);
}

// A disk that fills while ImageIO writes: Finalize answers false, as on the Mac, and the
// codecs print nothing (the extension, which handles the failure, shows no stray lines).
// The pixels are noise, so that no format compresses them into the room left.
TEST_F(ImageIOTest, AWriteThatFailsAnswersFalseAndPrintsNothing) {
  const size_t width = 300, height = 200;
  std::vector<uint8_t> noise(width * height * 3);
  uint32_t seed = 12345;
  for (uint8_t& b : noise) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, noise.data(), noise.size(), nullptr);
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  CGImageRef image = CGImageCreate(width, height, 8, 24, width * 3, rgb, kCGImageAlphaNone, p, nullptr, false,
                                   kCGRenderingIntentDefault);
  ASSERT_NE(image, nullptr);
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-full";
  CFURLRef url = Url(path);
  for (const char* type : {"public.png", "public.jpeg", "public.tiff"}) {
    // No room at all, room for the file's start, room for a good part of it (the smallest,
    // the JPEG, takes some 35 KB).
    for (rlim_t room : {rlim_t{0}, rlim_t{1000}, rlim_t{20000}}) {
      SCOPED_TRACE(std::string(type) + ", room for " + std::to_string(room) + " bytes");
      std::remove(path.c_str());
      CFStringRef uti = CFStringCreateWithCString(nullptr, type, kCFStringEncodingUTF8);
      CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, uti, 1, nullptr);
      CFRelease(uti);
      ASSERT_NE(d, nullptr);
      CGImageDestinationAddImage(d, image, nullptr);
      StderrCapture printed;
      bool written;
      {
        FileSizeLimit limit(room);
        written = CGImageDestinationFinalize(d);
      }
      EXPECT_FALSE(written);
      EXPECT_EQ(printed.Take(), "");
      CFRelease(d);
    }
  }
  std::remove(path.c_str());
  CFRelease(url);
  CGImageRelease(image);
  CGColorSpaceRelease(rgb);
  CGDataProviderRelease(p);
}

}  // namespace

// Apple's ImageApp sample (ImageDoc.m) sets kCGImagePropertyTIFFDictionary >
// kCGImagePropertyTIFFCompression "to specify the compression type to use when writing to a
// tiff image destination. 1=no compression, 5=LZW, 32773=PackBits", and developers' code
// writes CCITT Group 4 through it (4) from 1-bit images. Nothing documents another value, nor
// Group 4 of an 8-bit image (AppKit's NSTIFFCompressionCCITTFAX4 is "1 bps only"): such a
// page is not written, Finalize answers false, rather than a file of a compression nobody
// asked for. A compression that is no CFNumber (CGImageProperties.h's values are CFNumbers) is
// no compression asked: the page is written uncompressed.
TEST_F(ImageIOTest, TiffIsWrittenOnlyInTheCompressionsImageIOWrites) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-compression.tif";
  struct Case {
    int pixelType;
    int compression;      // -1: kCFBooleanTrue
    const char* written;  // tiffinfo's name of the compression, or null: Finalize is false
  };
  const Case cases[] = {
      {0, 1, "None"},  {0, 4, "CCITT Group 4"}, {0, 5, "LZW"},   {0, 32773, "PackBits"}, {1, 32773, "PackBits"},
      {2, 1, "None"},  {1, 4, nullptr},         {2, 4, nullptr}, {0, 3, nullptr},        {1, 7, nullptr},
      {1, 8, nullptr}, {0, 2, nullptr},         {1, -1, "None"}};
  const vscan::Raster rasters[] = {Page(0), Page(1), Page(2)};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pixelType) + " " + std::to_string(c.compression));
    CGImageRef image = PageImage(rasters[c.pixelType], c.pixelType);
    ASSERT_NE(image, nullptr);
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &c.compression);
    CFDictionaryRef tiff = Dictionary({{kCGImagePropertyTIFFCompression,
                                        c.compression < 0 ? static_cast<CFTypeRef>(kCFBooleanTrue) : number}});
    CFDictionaryRef props = Dictionary({{kCGImagePropertyTIFFDictionary, tiff}});
    std::remove(path.c_str());
    EXPECT_EQ(WriteImage(path, kUTTypeTIFF, image, props), c.written != nullptr);
    if (c.written) {
      const std::string info = Output("tiffinfo '" + path + "' 2>&1");
      EXPECT_NE(info.find(std::string("Compression Scheme: ") + c.written + "\n"), std::string::npos) << info;
    }
    CFRelease(props);
    CFRelease(tiff);
    CFRelease(number);
    CGImageRelease(image);
  }
}

// CGImageProperties.h: kCGImagePropertyDPIWidth and kCGImagePropertyDPIHeight, "if present,
// the value of these keys is a CFNumberRef". A CFBoolean there is no resolution: the image is
// written at 72 dpi that way, and at the number's resolution the other.
TEST_F(ImageIOTest, AResolutionIsReadOnlyFromANumber) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-dpi.tif";
  const vscan::Raster r = Page(1);
  CGImageRef image = PageImage(r, 1);
  const double dpi = 200;
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberDoubleType, &dpi);
  CFDictionaryRef props =
      Dictionary({{kCGImagePropertyDPIWidth, kCFBooleanTrue}, {kCGImagePropertyDPIHeight, number}});
  ASSERT_TRUE(WriteImage(path, kUTTypeTIFF, image, props));
  CFURLRef url = Url(path);
  CGImageSourceRef s = CGImageSourceCreateWithURL(url, nullptr);
  CFDictionaryRef read = s ? CGImageSourceCopyPropertiesAtIndex(s, 0, nullptr) : nullptr;
  ASSERT_NE(read, nullptr);
  double x = 0, y = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(read, kCGImagePropertyDPIWidth)),
                   kCFNumberDoubleType, &x);
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(read, kCGImagePropertyDPIHeight)),
                   kCFNumberDoubleType, &y);
  EXPECT_EQ(x, 72);
  EXPECT_EQ(y, 200);
  CFRelease(read);
  CFRelease(s);
  CFRelease(url);
  CFRelease(props);
  CFRelease(number);
  CGImageRelease(image);
}

// A BMP destination (com.microsoft.bmp, kUTTypeBMP: a type the Image I/O Programming Guide
// lists) writes a file ImageMagick reads as the same pixels the PNG destination writes, of the
// page's depth (1-bit, 8-bit grey, 24-bit colour) and at its resolution.
TEST_F(ImageIOTest, BmpFilesReadBackAsThePixelsWritten) {
  const std::string bmp = std::string(KV_OUT_DIR) + "/imageio-page.bmp";
  const std::string png = std::string(KV_OUT_DIR) + "/imageio-page.png";
  const int depths[] = {1, 8, 24};
  for (int t : {0, 1, 2}) {
    SCOPED_TRACE(t);
    const vscan::Raster r = Page(t);
    CGImageRef image = PageImage(r, t);
    const double dpi = 150;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberDoubleType, &dpi);
    CFDictionaryRef props =
        Dictionary({{kCGImagePropertyDPIWidth, number}, {kCGImagePropertyDPIHeight, number}});
    ASSERT_TRUE(WriteImage(bmp, kUTTypeBMP, image, props));
    ASSERT_TRUE(WriteImage(png, kUTTypePNG, image, props));
    const std::string pixels = t == 2 ? " -depth 8 rgb:-" : " -depth 8 gray:-";
    const std::string fromBmp = Output("convert '" + bmp + "'" + pixels);
    EXPECT_EQ(fromBmp.size(), static_cast<size_t>(r.width) * r.height * (t == 2 ? 3 : 1));
    EXPECT_TRUE(fromBmp == Output("convert '" + png + "'" + pixels)) << "the pixels differ";
    EXPECT_EQ(
        Output("identify -units PixelsPerInch -format '%[fx:round(resolution.x)] %[fx:round(resolution.y)]' '" +
               bmp + "'"),
        "150 150");
    const std::string header = Output("od -An -tu2 -j28 -N2 '" + bmp + "'");  // biBitCount
    EXPECT_EQ(std::stoi(header), depths[t]);
    CFRelease(props);
    CFRelease(number);
    CGImageRelease(image);
  }
  // Grey of 2, 4 and 16 bits a sample is written with 8, as in the other files.
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  const struct {
    size_t bpc;
    std::vector<uint8_t> bytes;
  } cases[] = {{2, {0x1B}}, {4, {0x0F, 0x5A}}, {16, {0, 0, 0x55, 0x55, 0xAA, 0xAA, 0xFF, 0xFF}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bpc);
    CGImageRef image = ImageOf(c.bytes, c.bpc, c.bpc, grey, kCGImageAlphaNone);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(WriteImage(bmp, kUTTypeBMP, image, nullptr));
    ASSERT_TRUE(WriteImage(png, kUTTypePNG, image, nullptr));
    const std::string fromBmp = Output("convert '" + bmp + "' -depth 8 gray:-");
    EXPECT_EQ(fromBmp.size(), 4u);
    EXPECT_TRUE(fromBmp == Output("convert '" + png + "' -depth 8 gray:-")) << "the pixels differ";
    EXPECT_EQ(std::stoi(Output("od -An -tu2 -j28 -N2 '" + bmp + "'")), 8);
    CGImageRelease(image);
  }
  CGColorSpaceRelease(grey);
}

// Mac Roman bytes become their characters: the extension's host texts take this way to
// Unicode. What a string holds comes back as UTF-8 and UTF-16, and as Mac Roman only where
// every character has a byte there.
TEST(ImageIOStrings, MacRomanBytesBecomeTheirCharacters) {
  const char roman[] = "Caf\x8E \xA5 \xDB \xF0 (\xD2x\xD3)";
  CFStringRef s = CFStringCreateWithCString(nullptr, roman, kCFStringEncodingMacRoman);
  ASSERT_NE(nullptr, s);
  char utf8[64];
  ASSERT_TRUE(CFStringGetCString(s, utf8, sizeof utf8, kCFStringEncodingUTF8));
  EXPECT_STREQ("Caf\xC3\xA9 \xE2\x80\xA2 \xE2\x82\xAC \xEF\xA3\xBF (\xE2\x80\x9Cx\xE2\x80\x9D)", utf8);
  ASSERT_EQ(16, CFStringGetLength(s));
  UniChar units[16];
  CFStringGetCharacters(s, CFRangeMake(0, 16), units);
  EXPECT_EQ(0x00E9, units[3]);
  EXPECT_EQ(0x2022, units[5]);
  EXPECT_EQ(0x20AC, units[7]);
  EXPECT_EQ(0xF8FF, units[9]);
  EXPECT_EQ(0x201C, units[12]);
  char back[64];
  ASSERT_TRUE(CFStringGetCString(s, back, sizeof back, kCFStringEncodingMacRoman));
  EXPECT_STREQ(roman, back);
  EXPECT_FALSE(CFStringGetCString(s, back, sizeof back, kCFStringEncodingASCII));
  EXPECT_FALSE(CFStringGetCString(s, back, 5, kCFStringEncodingUTF8));  // no room
  CFRelease(s);
  // A character Mac Roman lacks; bytes that are no UTF-8.
  CFStringRef polish = CFStringCreateWithCString(nullptr,
                                                 "\xC5\x81"
                                                 "odz",
                                                 kCFStringEncodingUTF8);
  ASSERT_NE(nullptr, polish);
  EXPECT_EQ(4, CFStringGetLength(polish));
  EXPECT_FALSE(CFStringGetCString(polish, back, sizeof back, kCFStringEncodingMacRoman));
  CFRelease(polish);
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, "\xC5", kCFStringEncodingUTF8));
}
