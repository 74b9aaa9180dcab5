// The image export stand-in refuses what CoreGraphics and ImageIO refuse, counts references
// as CoreFoundation does, and draws the virtual scanner's pictures pixel for pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImageIOStandin.h"
#include "standins/virtual-scanner/image/page.h"

namespace {

class ImageIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = ImageIOStandin_LiveObjects();
    bad_ = ImageIOStandin_BadReleases();
  }
  void TearDown() override {
    EXPECT_EQ(ImageIOStandin_LiveObjects(), live_) << "objects left alive";
    EXPECT_EQ(ImageIOStandin_BadReleases(), bad_);
  }
  static CFURLRef Url(const std::string& path) {
    CFStringRef s = CFStringCreateWithCString(nullptr, path.c_str(), kCFStringEncodingUTF8);
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, s, kCFURLPOSIXPathStyle, false);
    CFRelease(s);
    return url;
  }
  long live_ = 0, bad_ = 0;
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

TEST_F(ImageIOTest, BitmapContextsTakeOnlyTheLayoutsCoreGraphicsSupports) {
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  CGContextRef ok1 = CGBitmapContextCreate(nullptr, 10, 10, 8, 0, grey, kCGImageAlphaNone);
  CGContextRef ok2 = CGBitmapContextCreate(nullptr, 10, 10, 8, 40, rgb, kCGImageAlphaNoneSkipLast);
  EXPECT_NE(ok1, nullptr);
  EXPECT_NE(ok2, nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 10, 10, 1, 0, grey, kCGImageAlphaNone), nullptr);  // no 1-bit grey
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, rgb, kCGImageAlphaNone), nullptr);   // no 24-bit RGB
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 10, 10, 8, 30, rgb, kCGImageAlphaNoneSkipLast), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, grey, kCGImageAlphaPremultipliedLast), nullptr);
  // A 1-bit grey image is an image, not a context.
  std::vector<uint8_t> bits(2 * 10, 0xFF);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, bits.data(), bits.size(), nullptr);
  CGImageRef oneBit = CGImageCreate(10, 10, 1, 1, 2, grey, kCGImageAlphaNone, p, nullptr, false, 0);
  EXPECT_NE(oneBit, nullptr);
  EXPECT_EQ(CGImageCreate(10, 10, 1, 1, 1, grey, kCGImageAlphaNone, p, nullptr, false, 0),
            nullptr);  // rows too short
  EXPECT_EQ(CGImageCreate(10, 11, 1, 1, 2, grey, kCGImageAlphaNone, p, nullptr, false, 0),
            nullptr);  // data too short
  CGImageRelease(oneBit);
  CGDataProviderRelease(p);
  CGContextRelease(ok1);
  CGContextRelease(ok2);
  CGColorSpaceRelease(grey);
  CGColorSpaceRelease(rgb);
}

TEST_F(ImageIOTest, ReferencesAreCountedAndAStrayReleaseIsSeen) {
  CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  CFRetain(s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  CFRelease(s);
  EXPECT_EQ(ImageIOStandin_BadReleases(), bad_);
  CFRelease(s);  // gone already
  EXPECT_EQ(ImageIOStandin_BadReleases(), bad_ + 1);
  bad_ = ImageIOStandin_BadReleases();
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
}

TEST_F(ImageIOTest, DestinationsKeepToTheirCountAndType) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-count.png";
  CFURLRef url = Url(path);
  EXPECT_EQ(CGImageDestinationCreateWithURL(url, CFSTR("com.microsoft.bmp"), 1, nullptr), nullptr);
  EXPECT_EQ(CGImageDestinationCreateWithURL(url, CFSTR("public.png"), 0, nullptr), nullptr);

  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGContextRef c = CGBitmapContextCreate(nullptr, 8, 8, 8, 0, grey, kCGImageAlphaNone);
  CGImageRef image = CGBitmapContextCreateImage(c);
  // Fewer images than announced: nothing is written.
  std::remove(path.c_str());
  CGImageDestinationRef d = CGImageDestinationCreateWithURL(url, CFSTR("public.png"), 2, nullptr);
  CGImageDestinationAddImage(d, image, nullptr);
  EXPECT_FALSE(CGImageDestinationFinalize(d));
  EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
  CFRelease(d);
  // More than announced: the extra one is ignored; a second Finalize fails.
  d = CGImageDestinationCreateWithURL(url, CFSTR("public.png"), 1, nullptr);
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
TEST_F(ImageIOTest, PicturesDrawAsTheirPixels) {
  const vscan::Raster r = Page(2);
  std::vector<uint8_t> pict = vscan::EncodePICT(r);
  std::vector<uint8_t> file(512, 0);
  file.insert(file.end(), pict.begin(), pict.end());
  for (const std::vector<uint8_t>* data : {&pict, &file}) {
    CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, data->data(), data->size(), nullptr);
    QDPictRef q = QDPictCreateWithProvider(p);
    ASSERT_NE(q, nullptr);
    CGRect b = QDPictGetBounds(q);
    EXPECT_EQ(b.size.width, r.width);
    EXPECT_EQ(b.size.height, r.height);
    CGFloat x = 0, y = 0;
    QDPictGetResolution(q, &x, &y);
    EXPECT_EQ(x, 50);
    for (bool colour : {true, false}) {
      CGColorSpaceRef space = colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray();
      CGContextRef c = CGBitmapContextCreate(nullptr, r.width, r.height, 8, 0, space,
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
  CGContextRef c = CGBitmapContextCreate(nullptr, r.width, r.height, 8, 0, grey, kCGImageAlphaNone);
  EXPECT_EQ(QDPictDrawToCGContext(c, CGRectMake(0, 0, r.width, r.height), q), -4);
  CGContextRelease(c);
  CGColorSpaceRelease(grey);
  QDPictRelease(q);
  CGDataProviderRelease(p);
}

// A TIFF destination of two pages, read back through a source page by page.
TEST_F(ImageIOTest, TiffPagesReadBackThroughASource) {
  const std::string path = std::string(KV_OUT_DIR) + "/imageio-pages.tif";
  CFURLRef url = Url(path);
  const vscan::Raster r = Page(1);
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, r.rows.data(), r.rows.size(), nullptr);
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  CGImageRef image =
      CGImageCreate(r.width, r.height, 8, 8, r.stride(), grey, kCGImageAlphaNone, p, nullptr, false, 0);
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
  CGImageRelease(image);
  CGColorSpaceRelease(grey);
  CGDataProviderRelease(p);
  CFRelease(url);
}

}  // namespace
