// The PDF batch writer's own part (pages/batch_writers.h): a page the source compressed as
// JPEG is gathered in memory as its strips come, until it ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pages/batch_writers.h"
#include "tests/support/failing_new.h"
#include "twain/result_codes.h"

namespace {

// No memory for more of the page's bytes answers 2 for the strip, as a full file answers 8:
// the transfer that hands the strips over is told, and no exception passes through it. The
// bytes gathered before stay, and a later strip is taken again.
TEST(PdfPagesTest, NoMemoryForMoreOfACompressedPageAnswers2) {
  PageRoute route;
  route.format = TWFF_PDF;
  route.transfer = PageTransfer::kMemory;
  route.encoded = true;
  PdfPages writer(HostPath{}, route, PdfSettings{});
  TW_IMAGEINFO info{};
  int16_t opened = -1;
  PageBytes* page = writer.OpenCompressedPage(nullptr, 1, info, &opened);
  ASSERT_EQ(kResultOk, opened);
  ASSERT_NE(nullptr, page);
  const std::vector<uint8_t> strip(64 * 1024, 0x5A);
  EXPECT_EQ(kResultOk, page->Append(strip.data(), strip.size()));
  kvtest::FailNthNew(1);  // the room for a second strip
  EXPECT_EQ(kResultUnusablePage, page->Append(strip.data(), strip.size()));
  EXPECT_TRUE(kvtest::NewFailed());
  kvtest::FailNthNew(0);
  EXPECT_EQ(kResultOk, page->Append(strip.data(), strip.size()));
  EXPECT_EQ(kResultUnusablePage, writer.EndCompressedPage(kResultUnusablePage));
}

}  // namespace
