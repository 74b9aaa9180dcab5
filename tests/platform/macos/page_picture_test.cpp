// The Mac page writers' bitmap contexts (platform/macos/page_picture.h): CoreGraphics before
// Mac OS X 10.6 makes no bitmap context without the caller's memory (CGBitmapContext.h of
// 10.4: "data points a block of memory at least bytesPerRow * height bytes"), so each page
// draws into pixels of its own, white to begin with; a page too large for memory is no
// context, and no crash.
#include "platform/macos/page_picture.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(PagePicture, EachContextDrawsIntoThePagesOwnWhitePixels) {
  for (Depth depth : {Depth::kOneBit, Depth::kGrey, Depth::kColour}) {
    SCOPED_TRACE(static_cast<int>(depth));
    DrawnPage page;
    page.depth = depth;
    page.width = 13;  // rows of 13 or 52 bytes: no multiple of 4 or 16 is asked for
    page.height = 5;
    ASSERT_TRUE(NewPageContext(&page));
    ASSERT_TRUE(page.pixels);
    EXPECT_EQ(CGBitmapContextGetData(page.context.get()), page.pixels.get());
    const size_t pixelBytes = depth == Depth::kColour ? 4 : 1;
    ASSERT_EQ(CGBitmapContextGetBytesPerRow(page.context.get()), page.width * pixelBytes);
    int notWhite = 0;
    for (size_t i = 0; i < page.width * page.height; ++i)
      for (size_t k = 0; k < (pixelBytes == 4 ? 3 : 1); ++k) notWhite += page.pixels[i * pixelBytes + k] != 255;
    EXPECT_EQ(notWhite, 0);
    // A second context for the page takes the place of the first, memory and all.
    page.height = 7;
    ASSERT_TRUE(NewPageContext(&page));
    EXPECT_EQ(CGBitmapContextGetData(page.context.get()), page.pixels.get());
  }
}

TEST(PagePicture, APageTooLargeForMemoryHasNoContext) {
  DrawnPage page;
  page.depth = Depth::kColour;
  page.width = SIZE_MAX / 2;  // its bytes do not even fit in a size_t
  page.height = 3;
  EXPECT_FALSE(NewPageContext(&page));
  EXPECT_FALSE(page.context);
  EXPECT_FALSE(page.pixels);
  page.width = 0;
  EXPECT_FALSE(NewPageContext(&page));
}

}  // namespace
