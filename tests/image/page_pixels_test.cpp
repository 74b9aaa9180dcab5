// A page's pixels (image/page_pixels.h) in each of their formats, from the build's native
// image of the virtual scanner's chart and from a page assembled in strips: the same pixels
// as the raster the chart was rendered to, top row first, 1-bit rows 0 for black, colour red
// first.
#include "image/page_pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standins/virtual-scanner/image/page.h"
#include "tests/support/failing_new.h"
#include "tests/support/test_pages.h"
#include "twain/result_codes.h"

namespace {

// The chart in a frame that takes both halves, the mark column and the bars, at an odd
// width so that rows are padded and a 1-bit row ends inside a byte.
vscan::Raster Chart(int pixelType) {
  vscan::ScanSettings s;
  s.pixelType = pixelType;
  s.xres = 50;
  s.yres = 40;
  s.left = 0.1;
  s.right = 8.37;
  s.top = 4.5;
  s.bottom = 7;
  s.mark = 1;
  return vscan::RenderPage(s);
}

// The raster's pixel (x, y) as the port's formats have it (1-bit: the bit; grey: the byte;
// colour: the three bytes as one number).
uint32_t RasterPixel(const vscan::Raster& r, int x, int y) {
  const uint8_t* row = r.rows.data() + size_t(r.stride()) * y;
  if (r.bitsPerPixel == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1u;
  if (r.bitsPerPixel == 8) return row[x];
  return uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2];
}

uint32_t PortPixel(PixelFormat format, const uint8_t* row, int x) {
  switch (format) {
    case PixelFormat::kBlackWhite:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case PixelFormat::kGrey:
      return row[x];
    case PixelFormat::kRgb:
      break;
  }
  return uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2];
}

PixelFormat FormatOf(int bitsPerPixel) {
  return bitsPerPixel == 1   ? PixelFormat::kBlackWhite
         : bitsPerPixel == 8 ? PixelFormat::kGrey
                             : PixelFormat::kRgb;
}

// Pixels that differ between the port's rows and the raster (a mismatch in size: all).
long Differing(PagePixels& pixels, const vscan::Raster& r) {
  if (pixels.Width() != uint32_t(r.width) || pixels.Height() != uint32_t(r.height))
    return long(r.width) * r.height;
  long differing = 0;
  for (int y = 0; y < r.height; ++y) {
    const uint8_t* row = pixels.Row(uint32_t(y));
    if (!row) return long(r.width) * r.height;
    for (int x = 0; x < r.width; ++x) differing += PortPixel(pixels.Format(), row, x) != RasterPixel(r, x, y);
  }
  return differing;
}

// The raster as a memory transfer leaves it: a RowPage filled row by row, as the platform
// keeps colour (blue first on Windows). `firstRoom`: rows it makes room for at once.
RowPage* PageInStrips(const vscan::Raster& r, uint32_t firstRoom) {
  RowPage* page = NewRowPage(uint32_t(r.width), uint16_t(r.bitsPerPixel), firstRoom);
  if (!page) return nullptr;
  const size_t bytes = (size_t(r.width) * r.bitsPerPixel + 7) / 8;
  for (int y = 0; y < r.height; ++y) {
    uint8_t* row = RowPageRow(page, uint32_t(y));
    if (!row) {
      FreeRowPage(page);
      return nullptr;
    }
    std::memcpy(row, r.rows.data() + size_t(r.stride()) * y, bytes);
    if (kRowPageBlueFirst && r.bitsPerPixel == 24)
      for (int x = 0; x < r.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
  }
  return page;
}

// Channels of the page's pixels further than JPEG's error from the raster's.
long FarFromRaster(PagePixels& pixels, const vscan::Raster& r) {
  const int channels = r.bitsPerPixel / 8;
  if (pixels.Width() != uint32_t(r.width) || pixels.Height() != uint32_t(r.height))
    return long(r.width) * r.height * channels;
  long far = 0;
  for (int y = 0; y < r.height; ++y) {
    const uint8_t* row = pixels.Row(uint32_t(y));
    const uint8_t* want = r.rows.data() + size_t(r.stride()) * y;
    for (int i = 0; i < r.width * channels; ++i) far += std::abs(int(row[i]) - int(want[i])) > 48;
  }
  return far;
}

class PagePixelsByType : public ::testing::TestWithParam<int> {};

TEST_P(PagePixelsByType, NativePageGivesTheScannedPixels) {
  const vscan::Raster r = Chart(GetParam());
  void* image = kvtest::NativeImage(r);
  int16_t result = -1;
  auto pixels = NativePagePixels(image, kvtest::FactsOf(r), &result);
  ASSERT_EQ(result, kResultOk);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->Format(), FormatOf(r.bitsPerPixel));
  EXPECT_EQ(pixels->RowBytes(), (uint32_t(r.width) * r.bitsPerPixel + 7) / 8);
  EXPECT_NEAR(pixels->XDpi(), 50, 0.01);
  EXPECT_NEAR(pixels->YDpi(), 40, 0.01);
  EXPECT_EQ(Differing(*pixels, r), 0);
  pixels.reset();
  kvtest::FreeImage(image);
}

TEST_P(PagePixelsByType, PageInStripsGivesItsRowsInThePortsOrder) {
  const vscan::Raster r = Chart(GetParam());
  RowPage* page = PageInStrips(r, 8);  // grows past 8 rows
  ASSERT_NE(page, nullptr);
  PageFacts facts = kvtest::FactsOf(r);
  facts.width = facts.height = 0;  // the page's own counts
  int16_t result = -1;
  auto pixels = RowPagePixels(page, uint32_t(r.height), facts, &result);
  ASSERT_EQ(result, kResultOk);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->Format(), FormatOf(r.bitsPerPixel));
  EXPECT_EQ(pixels->XDpi(), 50);
  EXPECT_EQ(Differing(*pixels, r), 0);

  // The first rows only: a page that ended early.
  auto firstRows = RowPagePixels(page, 3, facts, &result);
  ASSERT_TRUE(firstRows);
  EXPECT_EQ(firstRows->Height(), 3u);
  // More rows than the page holds, or none, are no page.
  EXPECT_FALSE(RowPagePixels(page, uint32_t(r.height) + 1, facts, &result));
  EXPECT_EQ(result, kResultUnusablePage);
  EXPECT_FALSE(RowPagePixels(page, 0, facts, &result));
  EXPECT_EQ(result, kResultUnusablePage);
  pixels.reset();
  firstRows.reset();
  FreeRowPage(page);
}

INSTANTIATE_TEST_SUITE_P(EveryPixelType, PagePixelsByType, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0   ? "BlackWhite"
                                              : info.param == 1 ? "Grey"
                                                                : "Colour");
                         });

// A JPEG stream (as a source sends one) decoded by the platform's decoder: grey stays grey,
// colour comes red first, each pixel within JPEG's error of the page.
TEST(PagePixels, JpegStreamDecodesToThePagesPixels) {
  for (int pixelType : {1, 2}) {
    SCOPED_TRACE(pixelType);
    const vscan::Raster r = Chart(pixelType);
    void* image = kvtest::NativeImage(r);
    const std::string name = "page-pixels.jpg";
    std::remove(name.c_str());
    ASSERT_EQ(WritePageFile(image, kvtest::FactsOf(r), TWFF_JFIF, kvtest::HostName(name).data()), kResultOk);
    kvtest::FreeImage(image);
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(name.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
    std::fclose(f);
    std::remove(name.c_str());
    int16_t result = -1;
    auto pixels = JpegPagePixels(bytes.data(), bytes.size(), &result);
    ASSERT_EQ(result, kResultOk);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->Format(), FormatOf(r.bitsPerPixel));
    ASSERT_EQ(pixels->Width(), uint32_t(r.width));
    ASSERT_EQ(pixels->Height(), uint32_t(r.height));
    const int channels = r.bitsPerPixel / 8;
    EXPECT_LT(FarFromRaster(*pixels, r), long(r.width) * r.height * channels / 100);  // the bars' edges ring
    // Bytes that are no JPEG stream, or a stream cut short.
    EXPECT_FALSE(JpegPagePixels(bytes.data(), 100, &result));
    EXPECT_EQ(result, kResultUnusablePage);
    const uint8_t junk[] = {1, 2, 3, 4};
    EXPECT_FALSE(JpegPagePixels(junk, sizeof junk, &result));
  }
}

TEST(PagePixels, ImageThatIsNoPageAnswersTwo) {
  const std::vector<uint8_t> junk(64, 0x5A);
  void* image = kvtest::NativeImage(junk);
  int16_t result = -1;
  EXPECT_FALSE(NativePagePixels(image, PageFacts{}, &result));
  EXPECT_EQ(result, kResultUnusablePage);
  kvtest::FreeImage(image);
}

#if KV_WINDOWS_BUILD
// A 1-bit DIB whose table has white first: its pixels still come 0 for black.
TEST(PagePixels, OneBitDibWithWhiteFirstComesBlackAsZero) {
  const vscan::Raster r = Chart(0);
  std::vector<uint8_t> dib = vscan::EncodeDIB(r);
  uint8_t* table = dib.data() + 40;
  std::swap_ranges(table, table + 4, table + 4);
  for (size_t i = 40 + 8; i < dib.size(); ++i) dib[i] = uint8_t(~dib[i]);
  void* image = kvtest::NativeImage(dib);
  int16_t result = -1;
  auto pixels = NativePagePixels(image, kvtest::FactsOf(r), &result);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->Format(), PixelFormat::kBlackWhite);
  EXPECT_EQ(Differing(*pixels, r), 0);
  pixels.reset();
  kvtest::FreeImage(image);
}
#endif

// A page held whole, as it came in strips or as it was drawn, is encoded as JPEG where it lies:
// nothing near its size is allocated beside it while it is encoded (a band of rows at most),
// and the stream decodes to the page.
TEST(PagePixels, JpegEncodingHoldsThePageOnce) {
  for (int pixelType : {1, 2}) {
    SCOPED_TRACE(pixelType);
    vscan::ScanSettings s;
    s.pixelType = pixelType;
    s.xres = s.yres = 75;  // a letter page: taller than twice the rows a band holds
    const vscan::Raster r = vscan::RenderPage(s);
    const unsigned long pageBytes = (unsigned long)(r.width) * (r.bitsPerPixel / 8) * r.height;
    RowPage* strips = PageInStrips(r, uint32_t(r.height));
    ASSERT_NE(strips, nullptr);
    void* image = kvtest::NativeImage(r);
    int16_t result = -1;
    std::unique_ptr<PagePixels> pages[] = {
        RowPagePixels(strips, uint32_t(r.height), kvtest::FactsOf(r), &result),
        NativePagePixels(image, kvtest::FactsOf(r), &result)};
    for (auto& page : pages) {
      ASSERT_TRUE(page);
      std::vector<uint8_t> jpeg;
      kvtest::LargestNewSince();
      ASSERT_EQ(EncodeJpeg(*page, 85, &jpeg), kResultOk);
      EXPECT_LT(kvtest::LargestNewSince(), pageBytes / 2) << "a page of " << pageBytes << " bytes";
      auto decoded = JpegPagePixels(jpeg.data(), jpeg.size(), &result);
      ASSERT_TRUE(decoded);
      EXPECT_LT(FarFromRaster(*decoded, r), long(pageBytes) / 100);
    }
    for (auto& page : pages) page.reset();
    kvtest::FreeImage(image);
    FreeRowPage(strips);
  }
}

}  // namespace
