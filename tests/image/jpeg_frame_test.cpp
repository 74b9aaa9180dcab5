// The frame header of a JPEG stream as the PDF writer reads it from a page the source
// compressed: found past the segments before it, and refused where a stream gives none.
#include <gtest/gtest.h>

#include <vector>

#include "image/jpeg_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

// SOI, then segments of `marker`, length and body; a frame's body holds its height and width.
Bytes Stream(std::initializer_list<std::pair<uint8_t, Bytes>> segments) {
  Bytes b = {0xFF, 0xD8};
  for (const auto& s : segments) {
    const size_t length = s.second.size() + 2;
    b.insert(b.end(), {0xFF, s.first, uint8_t(length >> 8), uint8_t(length)});
    b.insert(b.end(), s.second.begin(), s.second.end());
  }
  return b;
}
const Bytes kFrame = {8, 0x06, 0x0E, 0x04, 0xFB, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};  // 1550 x 1275

TEST(JpegFrameTest, TheFrameBehindWhateverComesFirstElseNone) {
  // DHT (C4) lies in the range of frame markers and is none; fill bytes may precede a marker.
  Bytes b = Stream({{0xE0, {'J', 'F', 'I', 'F', 0}}, {0xC4, {0, 1, 2}}});
  b.insert(b.end(), {0xFF, 0xFF});
  const Bytes tail = Stream({{0xC2, kFrame}});
  b.insert(b.end(), tail.begin() + 2, tail.end());
  JpegFrame f;
  ASSERT_TRUE(ReadJpegFrame(b.data(), b.size(), &f));
  EXPECT_EQ(1275u, f.width);
  EXPECT_EQ(1550u, f.height);
  EXPECT_EQ(3, f.components);

  Bytes later = kFrame;  // the height comes after the scan (DNL): 0
  later[1] = later[2] = 0;
  const Bytes dnl = Stream({{0xC0, later}});
  ASSERT_TRUE(ReadJpegFrame(dnl.data(), dnl.size(), &f));
  EXPECT_EQ(0u, f.height);

  Bytes cut = Stream({{0xC0, kFrame}});
  cut.resize(cut.size() - 4);
  const Bytes scanFirst = Stream({{0xDA, {1, 1, 0, 0, 63, 0}}, {0xC0, kFrame}});
  const Bytes noStart = Bytes{0xFF, 0xD9, 0xFF, 0xC0, 0, 8};
  for (const Bytes& none : {cut, scanFirst, noStart, Bytes{0xFF, 0xD8, 0x12}})
    EXPECT_FALSE(ReadJpegFrame(none.data(), none.size(), &f));
}

}  // namespace
