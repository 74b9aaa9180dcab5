// The encoders' bytes, read field by field. The external readers check the same files in
// reader_tests.cpp; these tests pin the exact layout and run in both builds.
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

// Unpacks PackBits data of exactly `n` bytes; false if the data runs short or over.
bool UnpackBits(const uint8_t* p, size_t packed, size_t n, Bytes& out) {
  out.clear();
  size_t i = 0;
  while (i < packed) {
    const int c = int8_t(p[i++]);
    if (c >= 0) {
      if (i + size_t(c) + 1 > packed) return false;
      out.insert(out.end(), p + i, p + i + c + 1);
      i += size_t(c) + 1;
    } else if (c != -128) {
      if (i >= packed) return false;
      out.insert(out.end(), size_t(1 - c), p[i++]);
    }
  }
  return out.size() == n;
}

struct PictPixels {
  bool ok = false;
  std::string error;
  size_t endAt = 0;
  std::vector<Rgb> pixels;
};

// Reads our own DirectBitsRect back (the structure written by EncodePICT only).
PictPixels ReadOwnPict(const Bytes& b, int w, int h) {
  PictPixels result;
  const size_t dataAt = 2 + 8 + 4 + 2 + 24 + 12 + 2 + 4 + 46 + 8 + 8 + 2;
  size_t at = dataAt;
  const bool word = w * 3 > 200;
  Bytes row;
  for (int j = 0; j < h; ++j) {
    size_t n;
    if (w * 3 < 8) {  // one or two pixels: stored unpacked
      for (int i = 0; i < w; ++i)
        result.pixels.push_back({b.at(at + i), b.at(at + w + i), b.at(at + 2 * w + i)});
      at += 3 * size_t(w);
      continue;
    }
    if (word) {
      n = BE16(b, at);
      at += 2;
    } else {
      n = b.at(at++);
    }
    if (at + n > b.size() || !UnpackBits(b.data() + at, n, size_t(w) * 3, row)) {
      result.error = "row " + std::to_string(j) + " does not unpack";
      return result;
    }
    at += n;
    for (int i = 0; i < w; ++i) result.pixels.push_back({row[i], row[w + i], row[2 * w + i]});
  }
  result.endAt = at;
  result.ok = true;
  return result;
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
  EXPECT_EQ(0u, LE32(d, 16));        // BI_RGB
  EXPECT_EQ(48u, LE32(d, 20));       // biSizeImage
  EXPECT_EQ(3937u, LE32(d, 24));     // 100 dpi
  EXPECT_EQ(3937u, LE32(d, 28));
  EXPECT_EQ(0u, LE32(d, 32));        // no colour table
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
  struct Case { int bits; uint32_t offset; } cases[] = {{24, 54}, {8, 1078}, {1, 62}};
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

TEST(EncodePICT, RowsUnpackToThePixels) {
  // Widths around the switch from one-byte to two-byte row counts (66 and 67 pixels).
  for (int w : {1, 2, 3, 8, 62, 66, 67, 100, 850}) {
    for (int bits : {1, 8, 24}) {
      const Raster r = w == 850 ? Page(bits == 24 ? 2 : bits == 8 ? 1 : 0) : Pattern(w, 7, bits);
      const Bytes p = vscan::EncodePICT(r);
      const PictPixels got = ReadOwnPict(p, r.width, r.height);
      ASSERT_TRUE(got.ok) << got.error << " width " << w << " bits " << bits;
      int bad = 0;
      for (int j = 0; j < r.height; ++j)
        for (int i = 0; i < r.width; ++i)
          bad += !(got.pixels[size_t(j) * r.width + i] == RasterPixel(r, i, j));
      EXPECT_EQ(0, bad) << "width " << w << " bits " << bits;
      // After the rows: an optional pad byte, then the end opcode and nothing else.
      EXPECT_EQ(p.size() - 2 - (got.endAt & 1), got.endAt) << w;
    }
  }
}

TEST(EncodePICT, PackBitsHandlesLongRunsAndNoise) {
  Raster r = Pattern(400, 2, 24);  // row 0 noise (literals), row 1 one colour (long runs)
  for (int k = 0; k < 1200; ++k) r.rows[size_t(r.stride()) + k] = 9;
  const Bytes p = vscan::EncodePICT(r);
  const PictPixels got = ReadOwnPict(p, 400, 2);
  ASSERT_TRUE(got.ok) << got.error;
  EXPECT_EQ((Rgb{9, 9, 9}), got.pixels[400 + 399]);
  // A single-colour row of 1200 bytes packs into ten repeats of at most 128: 20 bytes.
  const size_t secondRow = 2 + 8 + 4 + 2 + 24 + 12 + 2 + 4 + 46 + 8 + 8 + 2 +
                           2 + BE16(p, 2 + 8 + 4 + 2 + 24 + 12 + 2 + 4 + 46 + 8 + 8 + 2);
  EXPECT_EQ(20u, BE16(p, secondRow));
}

TEST(EncodeTIFF, BaselineTagsForEachDepth) {
  struct Case { int type; uint32_t bps, photometric, spp; } cases[] = {
      {2, 8, 2, 3}, {1, 8, 1, 1}, {0, 1, 1, 1}};
  for (const auto& c : cases) {
    const Raster r = Page(c.type);
    const Bytes t = vscan::EncodeTIFF(r);
    ASSERT_GT(t.size(), 1000u);
    EXPECT_EQ('I', t[0]);
    EXPECT_EQ(42u, LE16(t, 2));
    const uint32_t ifd = LE32(t, 4);
    const uint32_t n = LE16(t, ifd);
    uint32_t lastTag = 0;
    uint32_t width = 0, height = 0, bps = 0, photometric = 0, spp = 0, offsets = 0, counts = 0,
             strips = 0, rowsPerStrip = 0, xres = 0;
    for (uint32_t k = 0; k < n; ++k) {
      const size_t e = ifd + 2 + 12 * k;
      const uint32_t tag = LE16(t, e), type = LE16(t, e + 2), count = LE32(t, e + 4);
      const uint32_t value = type == 3 && count == 1 ? LE16(t, e + 8) : LE32(t, e + 8);
      EXPECT_GT(tag, lastTag);  // ascending
      lastTag = tag;
      if (tag == 256) width = value;
      if (tag == 257) height = value;
      if (tag == 258) bps = count == 1 ? value : LE16(t, value);
      if (tag == 262) photometric = value;
      if (tag == 277) spp = value;
      if (tag == 273) { offsets = value; strips = count; }
      if (tag == 279) counts = value;
      if (tag == 278) rowsPerStrip = value;
      if (tag == 282) xres = LE32(t, value) / LE32(t, value + 4);
    }
    EXPECT_EQ(850u, width);
    EXPECT_EQ(1100u, height);
    EXPECT_EQ(c.bps, bps);
    EXPECT_EQ(c.photometric, photometric);
    EXPECT_EQ(c.spp, spp);
    EXPECT_EQ(100u, xres);
    const uint32_t rowBytes = (850 * c.bps * c.spp + 7) / 8;
    EXPECT_EQ((1100 + rowsPerStrip - 1) / rowsPerStrip, strips);
    EXPECT_LE(rowsPerStrip * rowBytes, 8192u);
    // Strips follow one another and end at the end of the file; row j starts where it should.
    ASSERT_GT(strips, 1u);
    uint64_t total = 0;
    for (uint32_t k = 0; k < strips; ++k) total += LE32(t, counts + 4 * k);
    EXPECT_EQ(uint64_t(rowBytes) * 1100, total);
    EXPECT_EQ(t.size(), LE32(t, offsets + 4 * (strips - 1)) + LE32(t, counts + 4 * (strips - 1)));
    const size_t row700 = LE32(t, offsets + 4 * (700 / rowsPerStrip)) +
                          size_t(700 % rowsPerStrip) * rowBytes;
    EXPECT_EQ(0, std::memcmp(&t[row700], &r.rows[size_t(r.stride()) * 700], rowBytes));
  }
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

TEST(EncodePNG, ChunksAndStoredBlocks) {
  const Raster r = Page(2);  // 2551 x 1100 bytes of image data: 43 stored blocks
  const Bytes p = vscan::EncodePNG(r);
  const uint8_t signature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  ASSERT_EQ(0, std::memcmp(p.data(), signature, 8));
  size_t at = 8;
  std::vector<std::string> types;
  Bytes zlib;
  while (at + 12 <= p.size()) {
    const uint32_t len = BE32(p, at);
    types.emplace_back(p.begin() + long(at + 4), p.begin() + long(at + 8));
    if (types.back() == "IDAT") zlib.insert(zlib.end(), p.begin() + long(at + 8), p.begin() + long(at + 8 + len));
    at += 12 + len;
  }
  EXPECT_EQ(p.size(), at);
  ASSERT_GE(types.size(), 4u);
  EXPECT_EQ("IHDR", types.front());
  EXPECT_EQ("pHYs", types[1]);
  EXPECT_EQ("IEND", types.back());
  EXPECT_EQ(13u, BE32(p, 8));
  EXPECT_EQ(850u, BE32(p, 16));
  EXPECT_EQ(1100u, BE32(p, 20));
  EXPECT_EQ(8, p[24]);
  EXPECT_EQ(2, p[25]);
  EXPECT_EQ(0, (zlib[0] * 256 + zlib[1]) % 31);
  // Walk the stored blocks: each has LEN and ~LEN, only the last is final.
  size_t z = 2, data = 0;
  bool final = false;
  while (!final) {
    ASSERT_LT(z + 5, zlib.size());
    final = zlib[z] & 1;
    EXPECT_EQ(0, zlib[z] & 6);
    const uint32_t len = zlib[z + 1] | zlib[z + 2] << 8, nlen = zlib[z + 3] | zlib[z + 4] << 8;
    EXPECT_EQ(0xFFFFu, len ^ nlen);
    if (data == 0) {
      EXPECT_EQ(0, zlib[z + 5]);  // the first line's filter byte
    }
    data += len;
    z += 5 + len;
  }
  EXPECT_EQ(2551u * 1100, data);
  EXPECT_EQ(zlib.size(), z + 4);  // Adler-32 closes the stream
}
