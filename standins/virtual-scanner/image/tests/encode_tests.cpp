// The encoders' header fields, read byte by byte (both builds). The pixels of every format,
// the strips, chunks, checksums and packed rows are checked by the external readers in
// reader_tests.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "standins/virtual-scanner/image/page.h"
#include "standins/virtual-scanner/image/tests/support.h"

using vscan::Raster;
using vscan::RenderPage;
using vscan::ScanSettings;
using vscan_test::BE16;
using vscan_test::BE32;
using vscan_test::LE16;
using vscan_test::LE32;
using vscan_test::RasterPixel;
using vscan_test::Rgb;
using Bytes = std::vector<uint8_t>;

namespace {

Raster Page(int pixelType, double dpi = 100, double right = 8.5, double bottom = 11) {
  ScanSettings s;
  s.pixelType = pixelType;
  s.xres = s.yres = dpi;
  s.right = right;
  s.bottom = bottom;
  return RenderPage(s);
}

// A raster with a distinct value in every sample, to catch swapped or shifted bytes.
Raster Pattern(int width, int height, int bits) {
  Raster r;
  r.width = width;
  r.height = height;
  r.bitsPerPixel = bits;
  r.rows.resize(size_t(r.stride()) * height);
  for (int j = 0; j < height; ++j)
    for (int k = 0; k < (width * bits + 7) / 8; ++k)
      r.rows[size_t(j) * r.stride() + k] = uint8_t(j * 31 + k * 7 + 1);
  if (bits == 1 && (width & 7)) {  // keep bits past the last pixel clear
    for (int j = 0; j < height; ++j)
      r.rows[size_t(j) * r.stride() + (width - 1) / 8] &= uint8_t(0xFF00 >> (width & 7));
  }
  return r;
}

}  // namespace

TEST(EncodeDIB, Rgb24HeaderAndBottomUpBgrRows) {
  const Raster r = Pattern(5, 3, 24);  // 15 bytes a row, stride 16
  const Bytes d = vscan::EncodeDIB(r);
  ASSERT_EQ(40u + 16 * 3, d.size());
  EXPECT_EQ(40u, LE32(d, 0));
  EXPECT_EQ(5u, LE32(d, 4));
  EXPECT_EQ(3u, LE32(d, 8));  // positive height: bottom-up
  EXPECT_EQ(1u, LE16(d, 12));
  EXPECT_EQ(24u, LE16(d, 14));
  EXPECT_EQ(0u, LE32(d, 16));     // BI_RGB
  EXPECT_EQ(48u, LE32(d, 20));    // biSizeImage
  EXPECT_EQ(3937u, LE32(d, 24));  // 100 dpi
  EXPECT_EQ(3937u, LE32(d, 28));
  EXPECT_EQ(0u, LE32(d, 32));  // no colour table
  EXPECT_EQ(0u, LE32(d, 36));
  for (int j = 0; j < 3; ++j) {
    const size_t row = 40 + size_t(2 - j) * 16;  // raster row j is DIB row 2 - j
    for (int i = 0; i < 5; ++i) {
      const Rgb c = RasterPixel(r, i, j);
      EXPECT_EQ(c.b, d[row + 3 * i]);
      EXPECT_EQ(c.g, d[row + 3 * i + 1]);
      EXPECT_EQ(c.r, d[row + 3 * i + 2]);
    }
    EXPECT_EQ(0, d[row + 15]);
  }
}

TEST(EncodeDIB, Grey8HasTwoHundredFiftySixGreys) {
  const Raster r = Page(1);
  const Bytes d = vscan::EncodeDIB(r);
  ASSERT_EQ(40u + 1024 + 852u * 1100, d.size());
  EXPECT_EQ(8u, LE16(d, 14));
  EXPECT_EQ(852u * 1100, LE32(d, 20));
  EXPECT_EQ(256u, LE32(d, 32));
  for (uint32_t k = 0; k < 256; ++k) EXPECT_EQ(k * 0x010101u, LE32(d, 40 + 4 * k)) << k;
  // The last DIB row is the page's top row (bars); the first is the bottom (ramp).
  EXPECT_EQ(226, d[40 + 1024 + 852u * 1099 + 150]);  // yellow
  EXPECT_EQ(r.rows[852u * 1099 + 400], d[40 + 1024 + 400]);
}

TEST(EncodeDIB, Bilevel1HasBlackThenWhite) {
  const Raster r = Page(0);
  const Bytes d = vscan::EncodeDIB(r);
  ASSERT_EQ(40u + 8 + 108u * 1100, d.size());
  EXPECT_EQ(1u, LE16(d, 14));
  EXPECT_EQ(108u * 1100, LE32(d, 20));
  EXPECT_EQ(2u, LE32(d, 32));
  EXPECT_EQ(0x00000000u, LE32(d, 40));  // entry 0: black
  EXPECT_EQ(0x00FFFFFFu, LE32(d, 44));  // entry 1: white
  for (int j = 0; j < 1100; j += 99)
    EXPECT_EQ(0, std::memcmp(&d[48 + size_t(1099 - j) * 108], &r.rows[size_t(j) * 108], 108));
}

TEST(EncodeDIB, FlavourOneKeepsTheColourTable) {
  ScanSettings s;
  s.pixelType = 0;
  s.pixelFlavor = 1;
  const Bytes d = vscan::EncodeDIB(RenderPage(s));
  EXPECT_EQ(0x00000000u, LE32(d, 40));
  EXPECT_EQ(0x00FFFFFFu, LE32(d, 44));
  EXPECT_EQ(0x00, d[48 + 108u * 1099]);  // the white bar's first pixels are now 0 bits
  s.pixelType = 1;
  const Bytes g = vscan::EncodeDIB(RenderPage(s));
  EXPECT_EQ(0x00FFFFFFu, LE32(g, 40 + 4 * 255));
  EXPECT_EQ(0, g[40 + 1024 + 852u * 1099]);
}

TEST(EncodeDIB, ResolutionGoesToPelsPerMetre) {
  Raster r = Pattern(4, 4, 8);
  r.xres = 300;
  r.yres = 72;
  const Bytes d = vscan::EncodeDIB(r);
  EXPECT_EQ(11811u, LE32(d, 24));
  EXPECT_EQ(2835u, LE32(d, 28));
}

TEST(EncodeBMP, FileHeaderPointsAtThePixels) {
  struct Case {
    int bits;
    uint32_t offset;
  } cases[] = {{24, 54}, {8, 1078}, {1, 62}};
  for (const auto& c : cases) {
    const Raster r = Page(c.bits == 24 ? 2 : c.bits == 8 ? 1 : 0, 100, 1.23, 0.5);
    const Bytes b = vscan::EncodeBMP(r);
    const Bytes d = vscan::EncodeDIB(r);
    ASSERT_EQ(d.size() + 14, b.size());
    EXPECT_EQ('B', b[0]);
    EXPECT_EQ('M', b[1]);
    EXPECT_EQ(b.size(), LE32(b, 2)) << c.bits;
    EXPECT_EQ(0u, LE32(b, 6));
    EXPECT_EQ(c.offset, LE32(b, 10)) << c.bits;
    EXPECT_EQ(0, std::memcmp(b.data() + 14, d.data(), d.size()));
  }
}

TEST(Encoders, RefuseRastersTheyCannotRepresent) {
  Raster empty;
  Raster shortRows = Pattern(10, 10, 24);
  shortRows.rows.resize(shortRows.rows.size() - 1);
  Raster badDepth = Pattern(10, 10, 8);
  badDepth.bitsPerPixel = 16;
  Raster negative = Pattern(10, 10, 8);
  negative.height = -10;
  for (const Raster* r : {&empty, &shortRows, &badDepth, &negative}) {
    EXPECT_TRUE(vscan::EncodeDIB(*r).empty());
    EXPECT_TRUE(vscan::EncodeBMP(*r).empty());
    EXPECT_TRUE(vscan::EncodePICT(*r).empty());
    EXPECT_TRUE(vscan::EncodeTIFF(*r).empty());
    EXPECT_TRUE(vscan::EncodePNG(*r).empty());
  }
  Raster wide;  // QuickDraw's 32-bit rowBytes stops at 4095 pixels
  wide.width = 4096;
  wide.height = 1;
  wide.rows.resize(size_t(wide.stride()));
  EXPECT_TRUE(vscan::EncodePICT(wide).empty());
  wide.width = 4095;
  EXPECT_FALSE(vscan::EncodePICT(wide).empty());
}

TEST(EncodePICT, HeaderOpcodesAndFrame) {
  const Raster r = Page(2);
  const Bytes p = vscan::EncodePICT(r);
  ASSERT_GT(p.size(), 200u);
  EXPECT_EQ(p.size() & 0xFFFF, BE16(p, 0));  // picSize
  EXPECT_EQ(0u, BE32(p, 2));                 // frame top, left
  EXPECT_EQ(1100u, BE16(p, 6));              // bottom
  EXPECT_EQ(850u, BE16(p, 8));               // right
  EXPECT_EQ(0x0011u, BE16(p, 10));
  EXPECT_EQ(0x02FFu, BE16(p, 12));
  EXPECT_EQ(0x0C00u, BE16(p, 14));
  EXPECT_EQ(0xFFFEu, BE16(p, 16));
  EXPECT_EQ(100u << 16, BE32(p, 20));  // hRes, vRes
  EXPECT_EQ(100u << 16, BE32(p, 24));
  EXPECT_EQ(1100u, BE16(p, 32));
  EXPECT_EQ(850u, BE16(p, 34));
  EXPECT_EQ(0x0001u, BE16(p, 40));  // clip
  EXPECT_EQ(10u, BE16(p, 42));
  EXPECT_EQ(0x009Au, BE16(p, 52));
  EXPECT_EQ(0x8000u | 3400, BE16(p, 58));  // rowBytes, PixMap flag
  EXPECT_EQ(4u, BE16(p, 70));              // packType
  EXPECT_EQ(100u << 16, BE32(p, 76));      // PixMap hRes
  EXPECT_EQ(16u, BE16(p, 84));             // RGBDirect
  EXPECT_EQ(32u, BE16(p, 86));             // pixelSize
  EXPECT_EQ(3u, BE16(p, 88));              // cmpCount
  EXPECT_EQ(8u, BE16(p, 90));              // cmpSize
  EXPECT_EQ(0u, p.size() & 1);
  EXPECT_EQ(0x00FFu, BE16(p, p.size() - 2));
}

TEST(EncodeTIFF, SingleStripFitsInTheTags) {
  const Raster r = Pattern(3, 2, 24);
  const Bytes t = vscan::EncodeTIFF(r);
  EXPECT_EQ(t.size(), size_t(8 + 2 + 14 * 12 + 4 + 8 + 16 + 18));
  EXPECT_EQ(0, std::memcmp(&t[t.size() - 18], r.rows.data(), 9));
  EXPECT_EQ(0, std::memcmp(&t[t.size() - 9], r.rows.data() + r.stride(), 9));
}

TEST(EncodeTIFF, FractionalResolutionIsARational) {
  Raster r = Pattern(3, 2, 8);
  r.xres = 150.5;
  const Bytes t = vscan::EncodeTIFF(r);
  const size_t e = 8 + 2 + 12 * 10;  // the eleventh tag, XResolution
  ASSERT_EQ(282u, LE16(t, e));
  const uint32_t at = LE32(t, e + 8);
  EXPECT_EQ(150500u, LE32(t, at));
  EXPECT_EQ(1000u, LE32(t, at + 4));
}

// The comment goes behind SOI and the APPn segments (JFIF's APP0 stays first); a stream that
// is not one, or whose segments run past its end, is left alone.
TEST(JpegComment, GoesAfterTheApplicationSegments) {
  const Bytes app0 = {0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'};
  const Bytes app1 = {0xFF, 0xE1, 0x00, 0x03, 0x7A};
  const Bytes rest = {0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9};
  Bytes stream = {0xFF, 0xD8};
  for (const Bytes* part : {&app0, &app1, &rest}) stream.insert(stream.end(), part->begin(), part->end());
  Bytes expected = {0xFF, 0xD8};
  for (const Bytes* part : {&app0, &app1}) expected.insert(expected.end(), part->begin(), part->end());
  for (uint8_t b : Bytes{0xFF, 0xFE, 0x00, 0x04, 'h', 'i'}) expected.push_back(b);
  expected.insert(expected.end(), rest.begin(), rest.end());
  ASSERT_TRUE(vscan::InsertJpegComment(stream, "hi"));
  EXPECT_EQ(stream, expected);

  Bytes bare = {0xFF, 0xD8, 0xFF, 0xD9};
  ASSERT_TRUE(vscan::InsertJpegComment(bare, ""));
  EXPECT_EQ(bare, (Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x02, 0xFF, 0xD9}));

  for (Bytes bad : {Bytes{0x89, 'P', 'N', 'G'}, Bytes{0xFF}, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x09, 1, 2},
                    Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 1, 2}}) {
    const Bytes before = bad;
    EXPECT_FALSE(vscan::InsertJpegComment(bad, "x"));
    EXPECT_EQ(bad, before);
  }
}
