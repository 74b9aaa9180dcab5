// The multi-page TIFF's size limit (pages/batch_writers.h): a page that would take the book
// past the largest file it can be is refused before its transfer, and the book keeps the
// pages before it. Tried on a limit a little above two pages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/row_page.h"
#include "pages/batch_writers.h"
#include "twain/result_codes.h"

namespace {

// A file name in the current folder, as the host passes it.
HostPath PathOf(const char* name) {
  HostPath path;
  const size_t n = std::strlen(name);
  if (kWindowsBuild) {
    std::memcpy(path.bytes, name, n);
  } else {
    path.bytes[0] = static_cast<uint8_t>(n);
    std::memcpy(path.bytes + 1, name, n);
  }
  return path;
}

TW_IMAGEINFO GreyPage(int32_t width, int32_t length) {
  TW_IMAGEINFO info{};
  info.XResolution.Whole = 100;
  info.YResolution.Whole = 100;
  info.ImageWidth = width;
  info.ImageLength = length;
  info.SamplesPerPixel = 1;
  info.BitsPerSample[0] = 8;
  info.BitsPerPixel = 8;
  info.PixelType = TWPT_GRAY;
  info.Compression = TWCP_NONE;
  return info;
}

// Rows of one grey, as a memory transfer leaves them.
RowPage* GreyRows(uint32_t width, uint32_t rows) {
  RowPage* page = NewRowPage(width, 8, rows);
  for (uint32_t y = 0; page && y < rows; ++y) {
    uint8_t* row = RowPageRow(page, y);
    if (!row) return nullptr;
    std::memset(row, 0x80, width);
  }
  if (page && !SettleRowPage(page)) return nullptr;
  return page;
}

// The bytes of the book being written: its temporary file holds what the book takes so far
// (on the Mac, the room it keeps for its pages).
long long PartBytes(const char* name) {
  struct stat st;
  if (stat((std::string(name) + ".part").c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

TEST(TiffBookPagesTest, APageThatWouldPassTheLargestFileIsRefusedBeforeItsTransfer) {
  const char* const name = "limit-book.tif";
  std::remove(name);
  PageRoute route;
  route.format = TWFF_TIFFMULTI;
  route.transfer = PageTransfer::kMemory;
  route.encoded = true;
  // Each page comes as 200 x 100 rows, but the source announced 200 x 1000: the book asks
  // room for 4096 + (200 + 8) x 1000 = 212,096 bytes before each.
  const TW_IMAGEINFO announced = GreyPage(200, 1000), unknown = GreyPage(200, -1);
  const long long need = 212096;
  RowPage* page = GreyRows(200, 100);
  ASSERT_NE(nullptr, page);

  // What one and two pages take in the file, whatever the build compresses them with.
  long long one = 0, two = 0;
  {
    TiffBookPages measure(PathOf(name), route);
    ASSERT_EQ(kResultOk, measure.Begin(nullptr));
    ASSERT_EQ(kResultOk, measure.WriteRows(nullptr, 1, announced, page, 100));
    one = PartBytes(name);
    ASSERT_EQ(kResultOk, measure.WriteRows(nullptr, 2, announced, page, 100));
    two = PartBytes(name);
    uint32_t pages = 2;
    ASSERT_EQ(kResultOk, measure.End(nullptr, &pages));
    std::remove(name);
  }
  ASSERT_GT(one, 0);
  ASSERT_GT(two, one);

  // A limit between: two pages fit, the third would not.
  TiffBookPages writer(PathOf(name), route, static_cast<uint64_t>(need + (one + two) / 2));
  ASSERT_EQ(kResultOk, writer.Begin(nullptr));
  // A first page of a length the source does not know yet is left to its transfer.
  EXPECT_EQ(kResultOk, writer.TakesPage(unknown));
  uint32_t taken = 0;
  int16_t r = kResultOk;
  for (uint32_t number = 1; number <= 3; ++number) {
    r = writer.TakesPage(announced);
    if (r != kResultOk) break;
    ASSERT_EQ(kResultOk, writer.WriteRows(nullptr, number, announced, page, 100));
    ++taken;
  }
  EXPECT_EQ(kResultBookFull, r);
  EXPECT_EQ(2u, taken);
  FreeRowPage(page);

  uint32_t pages = taken;
  EXPECT_EQ(kResultOk, writer.End(nullptr, &pages));
  EXPECT_EQ(2u, pages);
  std::FILE* book = std::fopen(name, "rb");
  ASSERT_NE(nullptr, book) << "the book keeps its pages";
  std::fclose(book);
  std::remove(name);
}

}  // namespace
