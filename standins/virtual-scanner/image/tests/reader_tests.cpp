// Every encoded file read back by independent readers: ImageMagick (/usr/bin/convert and
// /usr/bin/identify) for BMP, PICT, TIFF and PNG, and tiffinfo for TIFF. These run natively
// (the Mac build); under Wine they are skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "standins/virtual-scanner/image/page.h"
#include "standins/virtual-scanner/image/tests/support.h"

using vscan::Raster;
using vscan::RenderPage;
using vscan::ScanSettings;
using vscan_test::Decoded;
using vscan_test::DecodeWithImageMagick;
using vscan_test::Rgb;
using vscan_test::RunCommand;
using Bytes = std::vector<uint8_t>;

namespace {

struct Format {
  const char* name;
  const char* extension;
  const char* magick;  // what identify reports as the format
  std::function<Bytes(const Raster&)> encode;
};

Bytes PictFile(const Raster& r) {
  Bytes file(512, 0);  // the PICT file header: 512 bytes, here all zero
  const Bytes data = vscan::EncodePICT(r);
  if (data.empty()) return Bytes();
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

const Format kFormats[] = {
    {"bmp", "bmp", "BMP3", vscan::EncodeBMP},
    {"pict", "pict", "PICT", PictFile},
    {"tiff", "tif", "TIFF", vscan::EncodeTIFF},
    {"png", "png", "PNG", vscan::EncodePNG},
};

class ExternalReader : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vscan_test::kExternalReaders) GTEST_SKIP() << "ImageMagick runs natively only";
  }
  std::string Write(const std::string& stem, const Format& f, const Raster& r) {
    const std::string path = vscan_test::ScratchDir() + "/" + stem + "." + f.extension;
    const Bytes bytes = f.encode(r);
    EXPECT_FALSE(bytes.empty()) << path;
    vscan_test::WriteFile(path, bytes);
    return path;
  }
  // Writes, decodes with ImageMagick and compares every pixel with the raster.
  void RoundTrip(const std::string& stem, const Format& f, const Raster& r) {
    const std::string path = Write(stem, f, r);
    const Decoded d = DecodeWithImageMagick(path);
    ASSERT_TRUE(d.ok) << path << ": " << d.error;
    EXPECT_EQ("", d.error) << path << " gave warnings";
    ASSERT_EQ(r.width, d.width) << path;
    ASSERT_EQ(r.height, d.height) << path;
    std::string diff;
    EXPECT_EQ(0, vscan_test::CompareWithRaster(d, r, &diff)) << path << diff;
  }
};

ScanSettings Settings(int pixelType, double dpi = 100) {
  ScanSettings s;
  s.pixelType = pixelType;
  s.xres = s.yres = dpi;
  return s;
}

// A raster with a distinct value in every sample.
Raster Noise(int width, int height, int bits) {
  Raster r;
  r.width = width;
  r.height = height;
  r.bitsPerPixel = bits;
  r.rows.assign(size_t(r.stride()) * height, 0);
  uint32_t seed = 12345u + uint32_t(width * 7 + height);
  for (int j = 0; j < height; ++j)
    for (int k = 0; k < (width * bits + 7) / 8; ++k) {
      seed = seed * 1103515245u + 12345u;
      r.rows[size_t(j) * r.stride() + k] = uint8_t(seed >> 16);
    }
  if (bits == 1 && (width & 7))
    for (int j = 0; j < height; ++j)
      r.rows[size_t(j) * r.stride() + (width - 1) / 8] &= uint8_t(0xFF00 >> (width & 7));
  return r;
}

const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

}  // namespace

TEST_F(ExternalReader, WholePageInEveryFormatAndPixelType) {
  for (const Format& f : kFormats)
    for (int type : {0, 1, 2}) {
      const Raster r = RenderPage(Settings(type));
      RoundTrip("page-" + std::to_string(type), f, r);
    }
}

TEST_F(ExternalReader, BarCentresAndRampByPixelQuery) {
  // ImageMagick's own pixel query at the centres of the bars and along the ramp.
  const Raster r = RenderPage(Settings(2));
  for (const Format& f : kFormats) {
    const std::string path = Write("query", f, r);
    std::string format;
    std::string expected;
    for (int k = 0; k < 8; ++k) {
      const int x = int((k + 0.5) * 106.25);
      format += "%[pixel:p{" + std::to_string(x) + ",275}] ";
      expected += "srgb(" + std::to_string(kBars[k].r) + "," + std::to_string(kBars[k].g) + "," +
                  std::to_string(kBars[k].b) + ") ";
    }
    // The ramp at 0.5, 2.5, 4.5, 6.5 and 8.45 inches: 15, 75, 135, 195, 254.
    for (int x : {50, 250, 450, 650, 845}) format += "%[pixel:p{" + std::to_string(x) + ",825}] ";
    expected += "srgb(15,15,15) srgb(75,75,75) srgb(135,135,135) srgb(195,195,195) srgb(254,254,254) ";
    const auto run = RunCommand("/usr/bin/convert '" + path + "' -format '" + format + "' info:");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(expected, run.out) << f.name;
  }
}

TEST_F(ExternalReader, IdentifyGivesSizeDepthAndResolution) {
  struct Case {
    int type;
    const char* kind;
  } cases[] = {{2, "TrueColor"}, {1, "Grayscale"}, {0, "Bilevel"}};
  for (const Format& f : kFormats)
    for (const auto& c : cases) {
      const Raster r = RenderPage(Settings(c.type));
      const std::string path = Write("identify", f, r);
      const auto run =
          RunCommand("/usr/bin/identify -units PixelsPerInch -format '%m %wx%h %[type] %x' '" + path + "'");
      ASSERT_EQ(0, run.status) << run.err;
      // ImageMagick reports 72 dpi for every PICT, whatever the picture says.
      const std::string dpi = std::string(f.name) == "pict" ? "72" : "100";
      EXPECT_EQ(std::string(f.magick) + " 850x1100 " + c.kind + " " + dpi, run.out) << path;
      EXPECT_EQ("", run.err) << path;
    }
}

TEST_F(ExternalReader, ThreeHundredDpiOneInchFrame) {
  ScanSettings s = Settings(2, 300);
  s.left = 3.0;
  s.top = 5.0;
  s.right = 4.0;
  s.bottom = 6.0;
  const Raster r = RenderPage(s);
  ASSERT_EQ(300, r.width);
  for (const Format& f : kFormats) RoundTrip("inch300", f, r);
  const std::string path = Write("inch300", kFormats[3], r);
  const auto run = RunCommand("/usr/bin/identify -units PixelsPerInch -format '%wx%h %x %y' '" + path + "'");
  EXPECT_EQ("300x300 300 300", run.out);
}

TEST_F(ExternalReader, AdjustedAndInvertedPages) {
  ScanSettings s = Settings(2, 50);
  s.brightness = 150;
  s.contrast = 300;
  for (const Format& f : kFormats) RoundTrip("adjusted", f, RenderPage(s));
  s.pixelType = 1;
  s.pixelFlavor = 1;
  for (const Format& f : kFormats) RoundTrip("gray-flavour1", f, RenderPage(s));
  s.pixelType = 0;
  s.threshold = 200;
  for (const Format& f : kFormats) RoundTrip("bw-flavour1", f, RenderPage(s));
  // Flavour 1 keeps the colour table: the white bar reads back black.
  const std::string path = Write("bw-flavour1", kFormats[0], RenderPage(s));
  const auto run = RunCommand("/usr/bin/convert '" + path + "' -format '%[pixel:p{50,50}]' info:");
  EXPECT_EQ("srgb(0,0,0)", run.out);
}

TEST_F(ExternalReader, PictAtRealisticAndAwkwardSizes) {
  const Format& pict = kFormats[1];
  // 64 x 48 and the widths where the row count changes from one byte to two.
  for (int w : {64, 48, 62, 63, 66, 67, 68, 250, 851})
    for (int bits : {1, 8, 24}) RoundTrip("pict-" + std::to_string(w), pict, Noise(w, 48, bits));
  // Tiny pictures, including the 2 x 2 that ImageMagick's own writer cannot round-trip.
  for (int w : {1, 2, 3})
    for (int h : {1, 2, 5}) RoundTrip("pict-tiny", pict, Noise(w, h, 24));
  ScanSettings s = Settings(2);
  s.right = 0.64;
  s.bottom = 0.48;
  RoundTrip("pict-64x48-page", pict, RenderPage(s));
}

TEST_F(ExternalReader, OddSizesInEveryFormat) {
  for (const Format& f : kFormats)
    for (int bits : {1, 8, 24})
      for (int w : {1, 7, 9, 33}) RoundTrip("odd", f, Noise(w, w == 33 ? 3 : 5, bits));
}

TEST_F(ExternalReader, LargePageSpansManyPngAndTiffPieces) {
  const Raster r = RenderPage(Settings(2, 300));  // 25 MB: many stored blocks and IDATs
  RoundTrip("page300", kFormats[3], r);
  RoundTrip("page300", kFormats[2], r);
}

TEST_F(ExternalReader, TiffinfoReadsTheTags) {
  struct Case {
    int type;
    const char* bits;
    const char* samples;
    const char* photometric;
  } cases[] = {{2, "Bits/Sample: 8", "Samples/Pixel: 3", "Photometric Interpretation: RGB color"},
               {1, "Bits/Sample: 8", "Samples/Pixel: 1", "Photometric Interpretation: min-is-black"},
               {0, "Bits/Sample: 1", "Samples/Pixel: 1", "Photometric Interpretation: min-is-black"}};
  for (const auto& c : cases) {
    const std::string path = Write("tiffinfo", kFormats[2], RenderPage(Settings(c.type)));
    const auto run = RunCommand("/usr/bin/tiffinfo -s '" + path + "'");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    for (const char* want :
         {"Image Width: 850 Image Length: 1100", "Resolution: 100, 100 pixels/inch", c.bits, c.samples,
          c.photometric, "Compression Scheme: None", "Planar Configuration: single image plane"})
      EXPECT_NE(std::string::npos, run.out.find(want)) << want << "\n" << run.out;
  }
}
