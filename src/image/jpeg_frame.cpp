#include "image/jpeg_frame.h"

namespace {

constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;

uint32_t Big16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

// SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool IsFrameHeader(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: TEM and the restarts.
bool StandsAlone(uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

}  // namespace

bool ReadJpegFrame(const uint8_t* bytes, size_t size, JpegFrame* frame) {
  if (size < 4 || bytes[0] != 0xFF || bytes[1] != kStartOfImage) return false;
  size_t at = 2;
  while (at < size) {
    if (bytes[at] != 0xFF) return false;          // between segments there is nothing but markers
    while (at < size && bytes[at] == 0xFF) ++at;  // fill bytes
    if (at >= size) return false;
    const uint8_t marker = bytes[at++];
    if (StandsAlone(marker)) continue;
    if (marker == kEndOfImage || marker == kStartOfScan || marker == 0x00) return false;
    if (size - at < 2) return false;
    const uint32_t length = Big16(bytes + at);
    if (length < 2 || size - at < length) return false;
    if (IsFrameHeader(marker)) {
      // Precision, height, width, the number of components.
      if (length < 8) return false;
      const uint8_t* p = bytes + at + 2;
      frame->height = Big16(p + 1);
      frame->width = Big16(p + 3);
      frame->components = p[5];
      return frame->width > 0 && frame->components > 0;
    }
    at += length;
  }
  return false;
}
