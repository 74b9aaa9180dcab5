// The page as rendered: sizes, the pixel-centre mapping, colours, and the adjustments.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "standins/virtual-scanner/image/page.h"
#include "standins/virtual-scanner/image/tests/support.h"
#include "tests/support/time_budget.h"

using vscan::Raster;
using vscan::RenderPage;
using vscan::ScanSettings;
using vscan_test::ExpectedPixel;
using vscan_test::RasterPixel;
using vscan_test::Rgb;

namespace {

const Rgb kBarColours[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                            {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
const int kBarGreys[8] = {255, 226, 179, 150, 105, 76, 29, 0};

// Pixel column showing the centre of bar k at resolution dpi on a frame starting at 0.
int BarCentreColumn(int k, double dpi) { return int((k + 0.5) * 8.5 / 8 * dpi); }

ScanSettings Frame(double left, double top, double right, double bottom, double dpi) {
  ScanSettings s;
  s.left = left;
  s.top = top;
  s.right = right;
  s.bottom = bottom;
  s.xres = s.yres = dpi;
  return s;
}

// Every pixel of the raster against the point-by-point model; returns the number of misses.
int CountMismatches(const ScanSettings& s, const Raster& r) {
  int bad = 0;
  for (int j = 0; j < r.height; ++j)
    for (int i = 0; i < r.width; ++i)
      if (!(RasterPixel(r, i, j) == ExpectedPixel(s, i, j))) {
        if (++bad <= 3)
          ADD_FAILURE() << "pixel (" << i << "," << j << ") is " << vscan_test::ToString(RasterPixel(r, i, j))
                        << ", expected " << vscan_test::ToString(ExpectedPixel(s, i, j));
      }
  return bad;
}

}  // namespace

TEST(RenderPage, DefaultIsWholePageRgbAt100Dpi) {
  const Raster r = RenderPage(ScanSettings());
  EXPECT_EQ(850, r.width);
  EXPECT_EQ(1100, r.height);
  EXPECT_EQ(24, r.bitsPerPixel);
  EXPECT_EQ(2552, r.stride());  // 2550 padded to a multiple of 4
  EXPECT_EQ(size_t(2552) * 1100, r.rows.size());
  EXPECT_DOUBLE_EQ(100, r.xres);
  EXPECT_DOUBLE_EQ(100, r.yres);
}

TEST(RenderPage, SizeIsTheRoundedFrameTimesResolution) {
  Raster r = RenderPage(Frame(1, 1, 2, 2, 300));
  EXPECT_EQ(300, r.width);
  EXPECT_EQ(300, r.height);
  r = RenderPage(Frame(0, 0, 0.334, 0.336, 100));  // 33.4 and 33.6
  EXPECT_EQ(33, r.width);
  EXPECT_EQ(34, r.height);
  ScanSettings s;
  s.xres = 200;
  s.yres = 50;
  r = RenderPage(s);
  EXPECT_EQ(1700, r.width);
  EXPECT_EQ(550, r.height);
  EXPECT_DOUBLE_EQ(200, r.xres);
  EXPECT_DOUBLE_EQ(50, r.yres);
}

TEST(RenderPage, FrameWithoutAreaOrBadResolutionGivesEmptyRaster) {
  EXPECT_EQ(0, RenderPage(Frame(2, 2, 2, 3, 100)).width);
  EXPECT_EQ(0, RenderPage(Frame(3, 2, 2, 3, 100)).width);      // right before left
  EXPECT_EQ(0, RenderPage(Frame(0, 0, 0.004, 1, 100)).width);  // 0.4 pixel rounds to none
  EXPECT_TRUE(RenderPage(Frame(0, 0, 1, 1, 0)).rows.empty());
  EXPECT_TRUE(RenderPage(Frame(0, 0, 1, 1, -100)).rows.empty());
  EXPECT_TRUE(RenderPage(Frame(0, 0, 1, 1, std::nan(""))).rows.empty());
  EXPECT_TRUE(RenderPage(Frame(0, 0, std::nan(""), 1, 100)).rows.empty());
  EXPECT_TRUE(RenderPage(Frame(0, 0, 1, 1, INFINITY)).rows.empty());
}

TEST(RenderPage, BarCentresHaveTheirColours) {
  for (double dpi : {100.0, 75.0, 300.0}) {
    ScanSettings s;
    s.xres = s.yres = dpi;
    const Raster r = RenderPage(s);
    const int row = int(2.75 * dpi);
    for (int k = 0; k < 8; ++k)
      EXPECT_EQ(kBarColours[k], RasterPixel(r, BarCentreColumn(k, dpi), row))
          << "bar " << k << " at " << dpi << " dpi";
    // The bars reach from the top edge to the middle of the page.
    EXPECT_EQ(kBarColours[1], RasterPixel(r, BarCentreColumn(1, dpi), 0));
    EXPECT_EQ(kBarColours[6], RasterPixel(r, BarCentreColumn(6, dpi), int(5.5 * dpi) - 1));
  }
}

TEST(RenderPage, BarEdgesFallBetweenTheRightPixels) {
  // At 100 dpi a bar is 106.25 pixels wide: pixel 106 (centre 1.065 in) is bar 1.
  const Raster r = RenderPage(ScanSettings());
  EXPECT_EQ(kBarColours[0], RasterPixel(r, 105, 10));
  EXPECT_EQ(kBarColours[1], RasterPixel(r, 106, 10));
  EXPECT_EQ(kBarColours[6], RasterPixel(r, 743, 10));  // 7 x 106.25 = 743.75
  EXPECT_EQ(kBarColours[7], RasterPixel(r, 744, 10));
  EXPECT_EQ(kBarColours[7], RasterPixel(r, 849, 10));
}

TEST(RenderPage, RampIsFloorOf256XOver8Point5) {
  const Raster r = RenderPage(ScanSettings());
  const int row = 800;  // 8.005 inches down
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(r, 0, row));
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, 849, row));  // floor(255.85)
  for (int i = 0; i < 850; i += 17) {
    const int g = std::min(255, int(std::floor(256 * ((i + 0.5) / 100) / 8.5)));
    EXPECT_EQ((Rgb{g, g, g}), RasterPixel(r, i, row)) << "column " << i;
  }
  // The ramp starts right at the middle of the page.
  EXPECT_EQ(kBarColours[0], RasterPixel(r, 50, 549));
  EXPECT_EQ((Rgb{15, 15, 15}), RasterPixel(r, 50, 550));  // floor(256 x 0.505 / 8.5)
}

TEST(RenderPage, EveryPixelMatchesThePageModel) {
  ScanSettings s;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
  s = Frame(0.3, 5.2, 6.1, 6.0, 150);  // a frame across both halves
  s.xres = 150;
  s.yres = 72;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
  s.pixelType = 1;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
  s.pixelType = 0;
  s.threshold = 100;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
}

// Pages of a batch carry the number of pages before them in binary, in the white bar.
TEST(RenderPage, TheMarkTellsPagesApart) {
  ScanSettings s;
  const Raster first = RenderPage(s);
  s.mark = 5;  // bits 0 and 2
  const Raster sixth = RenderPage(s);
  EXPECT_EQ(0, CountMismatches(s, sixth));
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(sixth, 37, 37));        // bit 0: y 0.25 to 0.5 in
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(sixth, 37, 68));  // bit 1 clear
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(sixth, 25, 100));       // bit 2: y 0.875 to 1.125 in
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(sixth, 50, 37));  // right of the column
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(sixth, 37, 24));  // above the first square
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(first, 37, 37));
  // Only the squares differ: 2 squares of 25 x 25 pixels.
  int differ = 0;
  for (int j = 0; j < first.height; ++j)
    for (int i = 0; i < first.width; ++i) differ += !(RasterPixel(first, i, j) == RasterPixel(sixth, i, j));
  EXPECT_EQ(2 * 25 * 25, differ);
  // Every bit, in grey and in black and white, on another frame at another resolution.
  s = Frame(0.1, 0.2, 1.0, 5.0, 72);
  s.pixelType = 1;
  s.mark = 0x7FFF;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
  s.pixelType = 0;
  s.pixelFlavor = 1;
  EXPECT_EQ(0, CountMismatches(s, RenderPage(s)));
}

TEST(RenderPage, PixelCentresOnEdgesBelongToTheRightAndLowerSide) {
  // Column 212 at 100 dpi is centred on x = 2.125 in, where the ramp reaches exactly 64.
  Raster r = RenderPage(ScanSettings());
  EXPECT_EQ((Rgb{64, 64, 64}), RasterPixel(r, 212, 800));
  EXPECT_EQ((Rgb{63, 63, 63}), RasterPixel(r, 211, 800));
  // From 0.3 in at 150 dpi, column 592 is centred on 4.25 in: the left edge of bar 4.
  r = RenderPage(Frame(0.3, 0, 8.5, 1, 150));
  EXPECT_EQ(kBarColours[3], RasterPixel(r, 591, 10));
  EXPECT_EQ(kBarColours[4], RasterPixel(r, 592, 10));
  // At 1 dpi row 5 is centred on y = 5.5 in, the top of the ramp; column 8 on x = 8.5 in.
  ScanSettings s;
  s.xres = s.yres = 1;
  r = RenderPage(s);
  ASSERT_EQ(11, r.height);
  EXPECT_EQ(kBarColours[0], RasterPixel(r, 0, 4));
  EXPECT_EQ((Rgb{15, 15, 15}), RasterPixel(r, 0, 5));     // the ramp at x = 0.5 in
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, 8, 5));  // 8.5 in: off the page
  EXPECT_EQ((Rgb{225, 225, 225}), RasterPixel(r, 7, 5));  // floor(256 x 7.5 / 8.5)
}

TEST(RenderPage, FrameIsOffsetIntoThePage) {
  // A 1-inch frame starting at the left edge of bar 2 (2.125 in) and at 5 inches down.
  const Raster r = RenderPage(Frame(2.125, 5.0, 3.125, 6.0, 100));
  EXPECT_EQ(kBarColours[2], RasterPixel(r, 0, 0));
  EXPECT_EQ(kBarColours[2], RasterPixel(r, 99, 49));  // 3.12 in is still bar 2
  const int g = int(std::floor(256 * 2.13 / 8.5));
  EXPECT_EQ((Rgb{g, g, g}), RasterPixel(r, 0, 50));
}

TEST(RenderPage, OutsideThePageIsWhite) {
  const Raster r = RenderPage(Frame(8.0, 10.5, 9.0, 11.5, 100));
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, 99, 99));  // beyond both edges
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, 60, 10));  // right of the ramp
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, 10, 60));  // below the ramp
  EXPECT_EQ((Rgb{244, 244, 244}), RasterPixel(r, 10, 10));  // floor(256 x 8.105 / 8.5)
  const Raster above = RenderPage(Frame(-0.5, -0.5, 0.5, 0.5, 100));
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(above, 10, 10));
  EXPECT_EQ(kBarColours[0], RasterPixel(above, 80, 80));
}

TEST(RenderPage, GreyIsTheWeightedSumRounded) {
  ScanSettings s;
  s.pixelType = 1;
  const Raster r = RenderPage(s);
  ASSERT_EQ(8, r.bitsPerPixel);
  EXPECT_EQ(852, r.stride());
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(kBarGreys[k], r.rows[size_t(300) * 852 + size_t(BarCentreColumn(k, 100))]) << k;
}

TEST(RenderPage, BlackAndWhiteFollowsTheThreshold) {
  ScanSettings s;
  s.pixelType = 0;
  s.threshold = 150;  // green's grey is exactly 150: it reaches the threshold
  Raster r = RenderPage(s);
  ASSERT_EQ(1, r.bitsPerPixel);
  EXPECT_EQ(108, r.stride());  // 850 bits = 107 bytes, padded to 108
  const Rgb white{255, 255, 255}, black{0, 0, 0};
  EXPECT_EQ(white, RasterPixel(r, BarCentreColumn(3, 100), 300));  // green, 150
  EXPECT_EQ(black, RasterPixel(r, BarCentreColumn(4, 100), 300));  // magenta, 105
  EXPECT_EQ(white, RasterPixel(r, BarCentreColumn(2, 100), 300));  // cyan, 179
  s.threshold = 151;
  r = RenderPage(s);
  EXPECT_EQ(black, RasterPixel(r, BarCentreColumn(3, 100), 300));
  // MSB first: the first byte is the first eight (white) pixels, then bits past 850 are 0.
  EXPECT_EQ(0xFF, r.rows[0]);
  EXPECT_EQ(0x00, r.rows[106] & 0x3F);  // pixels 848, 849 black; 6 padding bits
  EXPECT_EQ(0xC0 & r.rows[106], 0x00);
  EXPECT_EQ(0x00, r.rows[107]);
  // On the ramp the change from black to white is where floor(256 x / 8.5) reaches 151.
  const int row = 800;
  int firstWhite = -1;
  for (int i = 0; i < 850 && firstWhite < 0; ++i)
    if (RasterPixel(r, i, row) == white) firstWhite = i;
  EXPECT_EQ(501, firstWhite);  // 256 x 5.015 / 8.5 = 151.04; 5.005 gives 150.7
}

TEST(RenderPage, BrightnessAddsAndContrastScalesAround128) {
  ScanSettings s = Frame(0, 0, 8.5, 11, 100);
  s.brightness = 100;  // +25.5
  Raster r = RenderPage(s);
  EXPECT_EQ((Rgb{255, 255, 26}), RasterPixel(r, BarCentreColumn(1, 100), 100));  // yellow
  EXPECT_EQ((Rgb{26, 26, 26}), RasterPixel(r, BarCentreColumn(7, 100), 100));
  EXPECT_EQ(0, CountMismatches(s, r));

  s.brightness = 0;
  s.contrast = 500;  // x 1.5 around 128
  r = RenderPage(s);
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(r, 0, 800));
  EXPECT_EQ(0, CountMismatches(s, r));
  // Ramp grey 100 (x = 3.3203 in, column 332) becomes 86, grey 200 (column 664) 236.
  EXPECT_EQ(100, int(std::floor(256 * 3.325 / 8.5)));
  EXPECT_EQ((Rgb{86, 86, 86}), RasterPixel(r, 332, 800));
  EXPECT_EQ(200, int(std::floor(256 * 6.645 / 8.5)));
  EXPECT_EQ((Rgb{236, 236, 236}), RasterPixel(r, 664, 800));

  s.brightness = -200;  // -51, then x 0.5: 255 -> 166, 0 -> 39 (38.5 rounds up)
  s.contrast = -500;
  r = RenderPage(s);
  EXPECT_EQ((Rgb{166, 166, 166}), RasterPixel(r, BarCentreColumn(0, 100), 100));
  EXPECT_EQ((Rgb{39, 39, 39}), RasterPixel(r, BarCentreColumn(7, 100), 100));

  s.brightness = 1000;
  s.contrast = 0;
  r = RenderPage(s);
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, BarCentreColumn(7, 100), 100));
  s.brightness = 0;
  s.contrast = -1000;  // everything becomes 128
  r = RenderPage(s);
  EXPECT_EQ((Rgb{128, 128, 128}), RasterPixel(r, BarCentreColumn(1, 100), 100));
  EXPECT_EQ((Rgb{128, 128, 128}), RasterPixel(r, 0, 800));
}

TEST(RenderPage, AdjustmentsComeBeforeThePixelType) {
  ScanSettings s;
  s.pixelType = 1;
  s.brightness = -300;  // -76.5: yellow (255, 255, 0) -> (179, 179, 0) -> grey 159
  Raster r = RenderPage(s);
  EXPECT_EQ((Rgb{159, 159, 159}), RasterPixel(r, BarCentreColumn(1, 100), 100));
  EXPECT_EQ(0, CountMismatches(s, r));
  s.pixelType = 0;
  s.threshold = 160;
  r = RenderPage(s);
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(r, BarCentreColumn(1, 100), 100));
  s.threshold = 159;
  r = RenderPage(s);
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, BarCentreColumn(1, 100), 100));
}

TEST(RenderPage, FlavourOneInvertsGreyAndBlackAndWhiteOnly) {
  ScanSettings s = Frame(0, 0, 8.5, 11, 50);
  s.pixelFlavor = 1;
  const Raster rgb = RenderPage(s);
  EXPECT_EQ(kBarColours[1], RasterPixel(rgb, BarCentreColumn(1, 50), 50));

  s.pixelType = 1;
  Raster r = RenderPage(s);
  for (int k = 0; k < 8; ++k) {
    const int g = 255 - kBarGreys[k];
    EXPECT_EQ((Rgb{g, g, g}), RasterPixel(r, BarCentreColumn(k, 50), 50)) << k;
  }
  EXPECT_EQ(0, CountMismatches(s, r));

  s.pixelType = 0;
  r = RenderPage(s);
  EXPECT_EQ((Rgb{0, 0, 0}), RasterPixel(r, BarCentreColumn(0, 50), 50));  // white bar
  EXPECT_EQ((Rgb{255, 255, 255}), RasterPixel(r, BarCentreColumn(7, 50), 50));
  EXPECT_EQ(0, CountMismatches(s, r));
  // 425 pixels: the padding bits after the last pixel stay zero when inverted.
  EXPECT_EQ(56, r.stride());
  EXPECT_EQ(0x80, r.rows[53]);  // pixel 424 (black bar, inverted: 1), then 7 zero bits
  EXPECT_EQ(0, r.rows[54] | r.rows[55]);
}

TEST(RenderPage, RowPaddingIsZero) {
  const Raster r = RenderPage(Frame(0, 0, 0.33, 0.05, 100));  // 33 x 5 white
  ASSERT_EQ(33, r.width);
  EXPECT_EQ(100, r.stride());
  for (int j = 0; j < r.height; ++j) EXPECT_EQ(0, r.rows[size_t(j) * 100 + 99]);
  EXPECT_EQ(255, r.rows[98]);
}

TEST(RenderPage, UnknownPixelTypeRendersRgb) {
  ScanSettings s;
  s.pixelType = 9;
  EXPECT_EQ(24, RenderPage(s).bitsPerPixel);
}

TEST(Performance, FullPageAt300DpiRendersAndEncodesQuickly) {
  ScanSettings s;
  s.xres = s.yres = 300;
  const auto start = std::chrono::steady_clock::now();
  const Raster r = RenderPage(s);
  const std::vector<uint8_t> dib = vscan::EncodeDIB(r);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(2550, r.width);
  EXPECT_EQ(3300, r.height);
  EXPECT_EQ(40 + size_t(7652) * 3300, dib.size());
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("2550x3300 RGB render + DIB: %.3f s\n", seconds);
  EXPECT_LT(seconds, 1.0 * TimeFactor());
}

// ---- blank and nearly blank sheets

namespace {

struct SheetCount {
  long paper = 0, specks = 0, shadow = 0, ink = 0, other = 0;
  bool specksIsolated = true;
};

// The pixels of a 300 dpi letter sheet by kind.
SheetCount CountSheet(int sheet) {
  ScanSettings s;
  s.xres = s.yres = 300;
  s.sheet = sheet;
  s.mark = 5;  // no mark on a sheet
  const Raster r = RenderPage(s);
  SheetCount c;
  const int shadowColumns = (3 * r.width + 399) / 400;  // 400 i < 3 width
  for (int j = 0; j < r.height; ++j) {
    for (int i = 0; i < r.width; ++i) {
      const Rgb p = RasterPixel(r, i, j);
      if (p == Rgb{244, 240, 230}) {
        ++c.paper;
      } else if (p == Rgb{60, 60, 60}) {
        ++c.specks;
        for (int dj = -1; dj <= 1; ++dj)
          for (int di = -1; di <= 1; ++di)
            if ((di || dj) && i + di >= 0 && i + di < r.width && j + dj >= 0 && j + dj < r.height &&
                RasterPixel(r, i + di, j + dj) == Rgb{60, 60, 60})
              c.specksIsolated = false;
      } else if (p == Rgb{40, 40, 40} && i < shadowColumns) {
        ++c.shadow;
      } else if (p == Rgb{0, 0, 0}) {
        ++c.ink;
      } else {
        ++c.other;
      }
    }
  }
  EXPECT_EQ(c.shadow, long(shadowColumns) * r.height);
  EXPECT_LT(shadowColumns, r.width / 100);  // inside 1 % of the border
  return c;
}

}  // namespace

TEST(RenderSheet, BlankSheetIsPaperWithIsolatedSpecksAndAnEdgeShadow) {
  const SheetCount c = CountSheet(1);
  const double pixels = 2550.0 * 3300.0;
  EXPECT_EQ(c.other, 0);
  EXPECT_EQ(c.ink, 0);
  EXPECT_TRUE(c.specksIsolated);
  EXPECT_NEAR(c.specks / pixels, 0.0005, 0.0001);
}

TEST(RenderSheet, NearlyBlankSheetCarriesAboutThreeTenthsOfAPercentOfInk) {
  const SheetCount c = CountSheet(2);
  const double pixels = 2550.0 * 3300.0;
  EXPECT_EQ(c.other, 0);
  EXPECT_NEAR(c.ink / pixels, 0.003, 0.0005);
}

TEST(RenderSheet, SheetTakesThePixelTypeAndFlavour) {
  ScanSettings s;
  s.sheet = 1;
  s.pixelType = 1;
  const Raster grey = RenderPage(s);
  EXPECT_EQ(grey.rows[size_t(grey.stride()) * 501 + 501], 240);  // paper: no speck on an odd row
  s.pixelType = 0;
  const Raster bw = RenderPage(s);
  EXPECT_EQ(bw.rows[0] & 0x80, 0);                                  // the shadow is black
  EXPECT_EQ(bw.rows[size_t(bw.stride()) * 501 + 62] & 0x40, 0x40);  // pixel 497: paper is white
  s.pixelFlavor = 1;
  const Raster inverted = RenderPage(s);
  EXPECT_EQ(inverted.rows[0] & 0x80, 0x80);
}
