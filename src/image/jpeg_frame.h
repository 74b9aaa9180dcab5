// What a JPEG stream says of its own image in its frame header (the SOFn marker segment):
// the header is read, nothing is decoded. A page that a source compressed itself is what its
// stream says, whatever the source announced before the transfer.
#pragma once
#include <cstddef>
#include <cstdint>

struct JpegFrame {
  uint32_t width = 0;
  uint32_t height = 0;  // 0: the stream gives its height later (a DNL marker after the scan)
  int components = 0;
};

// The frame of the stream's first image: true when the stream starts with SOI and reaches a
// frame header whole before any scan or the end of the image.
bool ReadJpegFrame(const uint8_t* bytes, size_t size, JpegFrame* frame);
