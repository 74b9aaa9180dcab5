// The blank-page decision (image/blank_meter.h) on pages drawn pixel by pixel: what is
// ink, what is a speck, where the margins lie, and where the limit falls.
#include "image/blank_meter.h"

#include <gtest/gtest.h>

#include <vector>

#include "options/options.h"

namespace {

// A page of `format` held whole, white to begin with; Put sets one pixel.
class DrawnPixels : public PagePixels {
 public:
  DrawnPixels(PixelFormat format, uint32_t width, uint32_t height)
      : format_(format), width_(width), height_(height) {
    rows_.assign(size_t(RowBytes()) * height, 0xFF);  // white in every format
  }
  PixelFormat Format() const override { return format_; }
  uint32_t Width() const override { return width_; }
  uint32_t Height() const override { return height_; }
  double XDpi() const override { return 100; }
  double YDpi() const override { return 100; }
  const uint8_t* Row(uint32_t y) override { return rows_.data() + size_t(RowBytes()) * y; }

  // Grey `level` at (x, y); on a black-and-white page, black below 128.
  void Put(uint32_t x, uint32_t y, uint8_t level) { PutRgb(x, y, level, level, level); }
  void PutRgb(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* row = rows_.data() + size_t(RowBytes()) * y;
    switch (format_) {
      case PixelFormat::kBlackWhite:
        if (r < 128)
          row[x >> 3] &= uint8_t(~(0x80u >> (x & 7)));
        else
          row[x >> 3] |= uint8_t(0x80u >> (x & 7));
        return;
      case PixelFormat::kGrey:
        row[x] = r;
        return;
      case PixelFormat::kRgb:
        row[3 * x] = r;
        row[3 * x + 1] = g;
        row[3 * x + 2] = b;
        return;
    }
  }
  void Block(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t level = 0) {
    for (uint32_t j = y; j < y + h; ++j)
      for (uint32_t i = x; i < x + w; ++i) Put(i, j, level);
  }

 private:
  PixelFormat format_;
  uint32_t width_, height_;
  std::vector<uint8_t> rows_;
};

BlankReading Read(PagePixels& page) {
  BlankReading reading;
  EXPECT_TRUE(MeasurePage(page, &reading));
  return reading;
}

class BlankPagesByFormat : public ::testing::TestWithParam<PixelFormat> {};

// 203 x 150: margins of 3 and 2 pixels (1 %, rounded up), 197 x 146 looked at.
TEST_P(BlankPagesByFormat, SpecksAreNoInkAndTouchingDarkPixelsAre) {
  DrawnPixels page(GetParam(), 203, 150);
  EXPECT_EQ(Read(page).ink, 0u);
  EXPECT_EQ(Read(page).looked, 197u * 146u);

  page.Put(10, 10, 0);  // a speck
  page.Put(20, 10, 0);  // a pair: one neighbour each, specks too
  page.Put(21, 11, 0);
  EXPECT_EQ(Read(page).ink, 0u);

  page.Block(40, 40, 3, 1);  // a short stroke: its middle has two neighbours
  EXPECT_EQ(Read(page).ink, 1u);
  page.Block(60, 60, 2, 2);  // a dot: three neighbours each
  EXPECT_EQ(Read(page).ink, 5u);
  // Touching the first and last rows and columns of the page: the window's edges.
  page.Block(0, 0, 5, 5);
  page.Block(198, 145, 5, 5);
  EXPECT_EQ(Read(page).ink, 5u + 2 * 3 + 2 * 3);  // 2 x 3 of each inside the margins
}

TEST_P(BlankPagesByFormat, MarginsAreNotLookedAtButDarkenTheirNeighbours) {
  DrawnPixels page(GetParam(), 203, 150);
  page.Block(0, 0, 3, 150);    // a shadow along the left edge, as wide as the margin
  page.Block(0, 148, 203, 2);  // and along the bottom
  EXPECT_EQ(Read(page).ink, 0u);
  page.Put(3, 70, 0);  // the first column looked at, beside the shadow
  EXPECT_EQ(Read(page).ink, 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, BlankPagesByFormat,
                         ::testing::Values(PixelFormat::kBlackWhite, PixelFormat::kGrey, PixelFormat::kRgb),
                         [](const ::testing::TestParamInfo<PixelFormat>& info) {
                           return std::string(info.param == PixelFormat::kBlackWhite ? "BlackWhite"
                                              : info.param == PixelFormat::kGrey     ? "Grey"
                                                                                     : "Rgb");
                         });

TEST(BlankPages, InkIsDarkerThan179InLuminance) {
  DrawnPixels grey(PixelFormat::kGrey, 100, 100);
  grey.Block(20, 20, 10, 10, 179);  // grey paper, 179: no ink
  grey.Block(50, 50, 2, 2, 178);
  EXPECT_EQ(Read(grey).ink, 4u);

  DrawnPixels colour(PixelFormat::kRgb, 100, 100);
  auto dot = [&](uint32_t x, uint8_t r, uint8_t g, uint8_t b) {
    for (uint32_t j = 0; j < 2; ++j)
      for (uint32_t i = 0; i < 2; ++i) colour.PutRgb(x + i, 50 + j, r, g, b);
  };
  dot(10, 255, 255, 0);    // yellow, 226: no ink
  dot(20, 0, 255, 255);    // cyan, 179 (178.755 rounded): no ink
  dot(30, 255, 0, 0);      // red, 76: ink
  dot(40, 179, 179, 178);  // 178.886: rounds to 179, no ink
  dot(50, 178, 179, 179);  // 178.701: rounds to 179, no ink
  dot(60, 178, 178, 179);  // 178.114: ink
  EXPECT_EQ(Read(colour).ink, 8u);
}

TEST(BlankPages, LimitIsAPercentOfThePixelsLookedAt) {
  const BlankReading reading{15, 10000};  // 0.15 %
  EXPECT_TRUE(IsBlank(reading, 1500));
  EXPECT_FALSE(IsBlank(reading, 1499));
  EXPECT_TRUE(IsBlank(BlankReading{0, 10000}, 0));
  EXPECT_FALSE(IsBlank(BlankReading{1, 10000}, 0));
  EXPECT_TRUE(IsBlank(BlankReading{10000, 10000}, 100 * kBlankInkUnits));
  // A page with nothing inside its margins is not judged blank.
  EXPECT_FALSE(IsBlank(BlankReading{0, 0}, 1500));
  DrawnPixels tiny(PixelFormat::kGrey, 2, 2);
  EXPECT_EQ(Read(tiny).looked, 0u);
}

// Read until the ink passes the limit, the page gets the same verdict as when measured whole:
// 197 x 146 pixels looked at hold at most 43 of ink at 0.15 %.
TEST(BlankPages, PageReadUntilItsInkPassesTheLimitGetsTheSameVerdict) {
  DrawnPixels page(PixelFormat::kGrey, 203, 150);
  for (uint32_t i = 0; i < 10; ++i) page.Block(10 + 10 * i, 20, 2, 2);  // 40
  for (uint32_t i = 0; i < 3; ++i) page.Block(10 + 10 * i, 140, 3, 1);  // 3, in the last rows looked at
  EXPECT_EQ(Read(page).ink, 43u);
  EXPECT_TRUE(IsBlank(Read(page), 1500));
  EXPECT_TRUE(IsBlankPage(page, 1500));
  page.Block(100, 140, 3, 1);
  EXPECT_FALSE(IsBlank(Read(page), 1500));
  EXPECT_FALSE(IsBlankPage(page, 1500));
  // Ink in the bottom margin is never counted, however much of it there is.
  DrawnPixels margin(PixelFormat::kGrey, 203, 150);
  margin.Block(0, 148, 203, 2);
  EXPECT_TRUE(IsBlankPage(margin, 0));
}

TEST(BlankPages, OneRowPageHasNothingAboveOrBelow) {
  DrawnPixels page(PixelFormat::kGrey, 300, 1);
  page.Block(100, 0, 50, 1);
  const BlankReading reading = Read(page);  // one row is all margin (1 % of 1, rounded up)
  EXPECT_EQ(reading.looked, 0u);
}

}  // namespace
