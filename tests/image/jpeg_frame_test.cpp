// The frame header of a JPEG stream as the PDF writer reads it from a page the source
// compressed: found past the segments before it, and refused where a stream gives none.
#include <gtest/gtest.h>

#include <vector>

#include "image/jpeg_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A segment: marker, length, body.
void Segment(Bytes* b, uint8_t marker, const Bytes& body) {
  const size_t length = body.size() + 2;
  b->insert(b->end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
  b->insert(b->end(), body.begin(), body.end());
}

Bytes Frame(uint16_t height, uint16_t width, uint8_t components) {
  Bytes body = {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), components};
  for (uint8_t c = 0; c < components; ++c) body.insert(body.end(), {uint8_t(c + 1), 0x11, 0});
  return body;
}

bool Read(const Bytes& b, JpegFrame* f) { return ReadJpegFrame(b.data(), b.size(), f); }

TEST(JpegFrameTest, TheFrameBehindWhateverSegmentsComeFirst) {
  Bytes b = {0xFF, 0xD8};
  Segment(&b, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 75, 0, 75, 0, 0});
  Segment(&b, 0xFE, {'V', 'S'});
  Segment(&b, 0xC4, {0, 1, 2, 3});  // DHT shares the range of frame markers
  b.insert(b.end(), {0xFF, 0xFF});  // fill bytes before the next marker
  Segment(&b, 0xC2, Frame(1550, 1275, 3));
  JpegFrame f;
  ASSERT_TRUE(Read(b, &f));
  EXPECT_EQ(1275u, f.width);
  EXPECT_EQ(1550u, f.height);
  EXPECT_EQ(3, f.components);

  Bytes grey = {0xFF, 0xD8};
  Segment(&grey, 0xC0, Frame(0, 640, 1));  // height given by a DNL marker after the scan
  ASSERT_TRUE(Read(grey, &f));
  EXPECT_EQ(0u, f.height);
  EXPECT_EQ(1, f.components);
}

TEST(JpegFrameTest, NoFrameWhereTheStreamGivesNone) {
  JpegFrame f;
  Bytes scanFirst = {0xFF, 0xD8};
  Segment(&scanFirst, 0xDA, {1, 1, 0, 0, 63, 0});
  Segment(&scanFirst, 0xC0, Frame(10, 10, 1));
  EXPECT_FALSE(Read(scanFirst, &f));
  Bytes noImage = {0xFF, 0xD9, 0xFF, 0xC0};
  EXPECT_FALSE(Read(noImage, &f));
  Bytes cut = {0xFF, 0xD8};
  Segment(&cut, 0xC0, Frame(10, 10, 3));
  cut.resize(cut.size() - 6);  // the segment says more than the stream holds
  EXPECT_FALSE(Read(cut, &f));
  Bytes shortSegment = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x05, 8, 0, 10};
  EXPECT_FALSE(Read(shortSegment, &f));
  Bytes garbage = {0xFF, 0xD8, 0x12, 0x34, 0xFF, 0xC0};
  EXPECT_FALSE(Read(garbage, &f));
  EXPECT_FALSE(Read(Bytes{0xFF, 0xD8}, &f));
}

}  // namespace
