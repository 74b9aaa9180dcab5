// The arithmetic of a memory transfer: the buffer a source is given, and where its strips go,
// checked against the page and the buffer.
#include <gtest/gtest.h>

#include <vector>

#include "transfer/strips.h"

namespace {

TW_SETUPMEMXFER Limits(TW_UINT32 least, TW_UINT32 most, TW_UINT32 preferred) {
  TW_SETUPMEMXFER s;
  s.MinBufSize = least;
  s.MaxBufSize = most;
  s.Preferred = preferred;
  return s;
}

constexpr TW_UINT32 kDontCare = TWON_DONTCARE32;

TEST(BufferSizeTest, PreferredWithinTheLimitsElse64KiB) {
  EXPECT_EQ(30000u, ChooseBufferSize(Limits(100, 1 << 20, 30000), 100));
  EXPECT_EQ(65536u, ChooseBufferSize(Limits(100, 1 << 20, kDontCare), 100));
  EXPECT_EQ(65536u, ChooseBufferSize(Limits(100, kDontCare, kDontCare), 100));  // Max -1: any size
  EXPECT_EQ(65536u, ChooseBufferSize(Limits(kDontCare, kDontCare, 0), 100));
  EXPECT_EQ(65536u, ChooseBufferSize(Limits(100, 1 << 20, 50), 100));       // below Min
  EXPECT_EQ(65536u, ChooseBufferSize(Limits(100, 1 << 20, 2 << 20), 100));  // above Max
  EXPECT_EQ(40000u, ChooseBufferSize(Limits(100, 40000, kDontCare), 100));  // 64 KiB within the limits
  EXPECT_EQ(200000u, ChooseBufferSize(Limits(200000, 1 << 20, kDontCare), 100));
}

TEST(BufferSizeTest, AWholeRowAndAnEvenSize) {
  EXPECT_EQ(7650u, ChooseBufferSize(Limits(1, 1 << 20, 1000), 7650));  // one colour row of 2550
  EXPECT_EQ(100000u, ChooseBufferSize(Limits(1, kDontCare, kDontCare), 99999));
  EXPECT_EQ(1002u, ChooseBufferSize(Limits(1, 2000, 1001), 0));
  EXPECT_EQ(1000u, ChooseBufferSize(Limits(1, 1001, 1001), 0));    // even, within Max
  EXPECT_EQ(4000u, ChooseBufferSize(Limits(1, 4000, 100), 5000));  // Max is the source's last word
  EXPECT_EQ(0u, ChooseBufferSize(Limits(500, 100, 200), 10));      // no size at all
}

// Evenness yields to the source's limits: a source that takes exactly one row of an odd
// length (150 dpi colour letter, 1275 pixels) gets that row, and no size leaves the limits.
TEST(BufferSizeTest, NeverOutsideTheLimitsEvenWhenTheyAreOdd) {
  EXPECT_EQ(3825u, ChooseBufferSize(Limits(3825, 3825, 3825), 3825));
  EXPECT_EQ(3825u, ChooseBufferSize(Limits(3825, 3825, kDontCare), 0));
  EXPECT_EQ(3826u, ChooseBufferSize(Limits(3825, 3826, 3825), 3825));  // even, within Max
  EXPECT_EQ(1u, ChooseBufferSize(Limits(1, 1, kDontCare), 0));
  EXPECT_EQ(0u, ChooseBufferSize(Limits(0, 0, kDontCare), 0));
  for (TW_UINT32 least : {1u, 999u, 1000u, 3825u})
    for (TW_UINT32 most : {least, least + 1, least + 2, 70001u})
      for (TW_UINT32 preferred : {kDontCare, least, most, 65535u})
        for (TW_UINT32 row : {0u, least, most}) {
          const TW_UINT32 size = ChooseBufferSize(Limits(least, most, preferred), row);
          EXPECT_GE(size, least) << least << " " << most << " " << preferred << " " << row;
          EXPECT_LE(size, most) << least << " " << most << " " << preferred << " " << row;
        }
}

// A canvas of rows in memory; it refuses rows past `limit`.
class Canvas : public RowCanvas {
 public:
  Canvas(size_t rowBytes, uint32_t limit = 1000) : rowBytes_(rowBytes), limit_(limit) {}
  uint8_t* Row(uint32_t y) override {
    if (y >= limit_) return nullptr;
    if (rows.size() <= y) rows.resize(y + 1, std::vector<uint8_t>(rowBytes_, 0xEE));
    return rows[y].data();
  }
  std::vector<std::vector<uint8_t>> rows;

 private:
  size_t rowBytes_;
  uint32_t limit_;
};

TW_IMAGEMEMXFER Strip(TW_UINT32 x, TW_UINT32 y, TW_UINT32 columns, TW_UINT32 rows, TW_UINT32 bytesPerRow,
                      TW_UINT32 written) {
  TW_IMAGEMEMXFER s{};
  s.Compression = TWCP_NONE;
  s.XOffset = x;
  s.YOffset = y;
  s.Columns = columns;
  s.Rows = rows;
  s.BytesPerRow = bytesPerRow;
  s.BytesWritten = written;
  return s;
}

StripPageShape Shape(uint32_t width, uint16_t bits, bool blueFirst = false, bool zeroIsWhite = false) {
  StripPageShape s;
  s.width = width;
  s.bitsPerPixel = bits;
  s.blueFirst = blueFirst;
  s.zeroIsWhite = zeroIsWhite;
  return s;
}

TEST(PlaceStripTest, ColourRowsWithPaddingInEitherOrder) {
  // Two colour pixels a row, each row padded to 8 bytes, two rows.
  const uint8_t buffer[16] = {1, 2, 3, 4, 5, 6, 0xAA, 0xAA, 7, 8, 9, 10, 11, 12, 0xAA, 0xAA};
  for (bool blueFirst : {false, true}) {
    Canvas canvas(6);
    uint32_t rows = 0;
    ASSERT_EQ(StripFit::kPlaced,
              PlaceStrip(Strip(0, 0, 2, 2, 8, 16), buffer, 16, Shape(2, 24, blueFirst), &canvas, &rows));
    EXPECT_EQ(2u, rows);
    if (blueFirst) {
      EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 6, 5, 4}), canvas.rows[0]);
      EXPECT_EQ((std::vector<uint8_t>{9, 8, 7, 12, 11, 10}), canvas.rows[1]);
    } else {
      EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6}), canvas.rows[0]);
      EXPECT_EQ((std::vector<uint8_t>{7, 8, 9, 10, 11, 12}), canvas.rows[1]);
    }
  }
}

TEST(PlaceStripTest, StripsGoWhereTheySayNotWhereTheyWereExpected) {
  Canvas canvas(4);
  uint32_t rows = 0;
  const uint8_t a[8] = {1, 1, 1, 1, 2, 2, 2, 2};
  const uint8_t b[4] = {9, 9, 9, 9};
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 0, 4, 2, 4, 8), a, 8, Shape(4, 8), &canvas, &rows));
  // The next strip says it replaces row 1; then a tile of the right half of row 2.
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 1, 4, 1, 4, 4), b, 4, Shape(4, 8), &canvas, &rows));
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(2, 2, 2, 1, 2, 2), b, 4, Shape(4, 8), &canvas, &rows));
  EXPECT_EQ(3u, rows);
  EXPECT_EQ((std::vector<uint8_t>{1, 1, 1, 1}), canvas.rows[0]);
  EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9}), canvas.rows[1]);
  EXPECT_EQ(9, canvas.rows[2][3]);
}

TEST(PlaceStripTest, OneBitRowsAtAnyColumnAndInEitherFlavour) {
  // 12 pixels: 1010 1010 1111 in the first byte and a half.
  const uint8_t buffer[2] = {0xAA, 0xF0};
  Canvas plain(2), vanilla(2), shifted(3);
  uint32_t r1 = 0, r2 = 0, r3 = 0;
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 0, 12, 1, 2, 2), buffer, 2, Shape(12, 1), &plain, &r1));
  EXPECT_EQ(0xAA, plain.rows[0][0]);
  EXPECT_EQ(0xF0, plain.rows[0][1] & 0xF0);
  EXPECT_EQ(0x0E, plain.rows[0][1] & 0x0F);  // beyond the strip's columns: untouched
  ASSERT_EQ(StripFit::kPlaced,
            PlaceStrip(Strip(0, 0, 12, 1, 2, 2), buffer, 2, Shape(12, 1, false, true), &vanilla, &r2));
  EXPECT_EQ(0x55, vanilla.rows[0][0]);
  EXPECT_EQ(0x00, vanilla.rows[0][1] & 0xF0);
  std::vector<uint8_t> zero(3, 0);
  shifted.Row(0);
  shifted.rows[0] = zero;
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(3, 0, 12, 1, 2, 2), buffer, 2, Shape(20, 1), &shifted, &r3));
  EXPECT_EQ(0x15, shifted.rows[0][0]);  // 000 10101
  EXPECT_EQ(0x5E, shifted.rows[0][1]);  // 0101 1110: the last bit is not the strip's
  EXPECT_EQ(0x00, shifted.rows[0][2]);
}

TEST(PlaceStripTest, StripsOutsideThePageOrTheBuffer) {
  const uint8_t buffer[64] = {};
  const StripPageShape grey = Shape(8, 8);
  Canvas canvas(8);
  uint32_t rows = 0;
  auto place = [&](const TW_IMAGEMEMXFER& s, uint32_t size = 64) {
    return PlaceStrip(s, buffer, size, grey, &canvas, &rows);
  };
  EXPECT_EQ(StripFit::kOutsideBuffer, place(Strip(0, 0, 8, 1, 8, 65)));     // more than the buffer holds
  EXPECT_EQ(StripFit::kOutsideBuffer, place(Strip(0, 0, 8, 2, 8, 8), 64));  // rows beyond what it wrote
  EXPECT_EQ(StripFit::kOutsideBuffer,
            place(Strip(0, 0, 8, 2, 40, 47)));  // the padding of the last row need not come
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(1, 0, 8, 1, 8, 8)));  // one column too far
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(0, 0, 9, 1, 9, 9)));
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(0, 0, 8, 1, 7, 8)));  // rows shorter than their pixels
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(0, 1, 8, 1, 8, 8)));  // a row skipped
  EXPECT_EQ(0u, rows);
  // A request the source left unfilled.
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(kDontCare, kDontCare, kDontCare, kDontCare, kDontCare, 64)));
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(0, 0, kDontCare, 1, kDontCare, 64)));
  EXPECT_EQ(StripFit::kOutsidePage, place(Strip(0, 0, 8, kDontCare, 8, 64)));
  EXPECT_EQ(StripFit::kPlaced, place(Strip(0, 0, 8, 2, 40, 48)));
  EXPECT_EQ(StripFit::kPlaced, place(Strip(0, 0, 0, 0, 0, 0)));  // an empty last strip
  EXPECT_EQ(2u, rows);
  EXPECT_TRUE(canvas.rows.size() == 2);
}

TEST(PlaceStripTest, APageLongerThanAnnouncedGrowsUntilMemoryEnds) {
  const uint8_t buffer[8] = {};
  Canvas canvas(8, 3);
  uint32_t rows = 0;
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 0, 8, 1, 8, 8), buffer, 8, Shape(8, 8), &canvas, &rows));
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 1, 8, 1, 8, 8), buffer, 8, Shape(8, 8), &canvas, &rows));
  ASSERT_EQ(StripFit::kPlaced, PlaceStrip(Strip(0, 2, 8, 1, 8, 8), buffer, 8, Shape(8, 8), &canvas, &rows));
  EXPECT_EQ(StripFit::kNoMemory, PlaceStrip(Strip(0, 3, 8, 1, 8, 8), buffer, 8, Shape(8, 8), &canvas, &rows));
  EXPECT_EQ(3u, rows);
}

}  // namespace
