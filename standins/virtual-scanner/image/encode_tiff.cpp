// Baseline TIFF, little-endian, uncompressed.
//
// Layout: 8-byte header, the IFD (tags in ascending order), the values that do not fit in a
// tag (BitsPerSample for RGB, the two resolutions, the strip tables), then the strips.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "standins/virtual-scanner/image/bytes.h"
#include "standins/virtual-scanner/image/page.h"

namespace vscan {

namespace {

using detail::Bytes;
using detail::PutLE16;
using detail::PutLE32;

enum Type : uint16_t { kShort = 3, kLong = 4, kRational = 5 };

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;  // the value itself, or the offset of the values
};

// A resolution as a rational: whole numbers exactly, others to a thousandth.
void Rational(double dpi, uint32_t& num, uint32_t& den) {
  if (!(dpi > 0) || dpi > 4e6) dpi = 72;
  if (dpi == std::floor(dpi)) {
    num = uint32_t(dpi);
    den = 1;
  } else {
    num = uint32_t(dpi * 1000 + 0.5);
    den = 1000;
  }
}

}  // namespace

std::vector<uint8_t> EncodeTIFF(const Raster& r) {
  Bytes out;
  if (!detail::Encodable(r)) return out;
  const size_t rowBytes = detail::PackedRowBytes(r);
  const size_t stride = size_t(r.stride());
  const uint64_t imageBytes = uint64_t(rowBytes) * uint64_t(r.height);
  if (imageBytes > 0xF0000000u) return out;

  const uint32_t rowsPerStrip =
      uint32_t(std::max<size_t>(1, std::min<size_t>(size_t(r.height), 8192 / rowBytes)));
  const uint32_t strips = (uint32_t(r.height) + rowsPerStrip - 1) / rowsPerStrip;
  const bool rgb = r.bitsPerPixel == 24;

  const uint32_t entryCount = 14;
  const uint32_t ifdAt = 8;
  const uint32_t ifdSize = 2 + 12 * entryCount + 4;
  uint32_t extraAt = ifdAt + ifdSize;
  const uint32_t bitsAt = extraAt;
  if (rgb) extraAt += 8;  // 3 shorts, padded to a word
  const uint32_t xresAt = extraAt;
  const uint32_t yresAt = extraAt + 8;
  extraAt += 16;
  const uint32_t offsetsAt = extraAt;
  const uint32_t countsAt = extraAt + 4 * strips;
  // A single strip's offset and count fit in their tags; no tables then.
  const uint32_t dataAt = strips == 1 ? extraAt : countsAt + 4 * strips;

  auto stripOffset = [&](uint32_t k) { return dataAt + uint32_t(k * rowsPerStrip * rowBytes); };
  auto stripBytes = [&](uint32_t k) {
    const uint32_t first = k * rowsPerStrip;
    const uint32_t n = std::min<uint32_t>(rowsPerStrip, uint32_t(r.height) - first);
    return uint32_t(n * rowBytes);
  };

  const uint16_t bps = rgb ? 8 : uint16_t(r.bitsPerPixel);
  const Entry entries[entryCount] = {
      {254, kLong, 1, 0},                                            // NewSubfileType
      {256, kLong, 1, uint32_t(r.width)},                            // ImageWidth
      {257, kLong, 1, uint32_t(r.height)},                           // ImageLength
      {258, kShort, rgb ? 3u : 1u, rgb ? bitsAt : bps},              // BitsPerSample
      {259, kShort, 1, 1},                                           // Compression: none
      {262, kShort, 1, rgb ? 2u : 1u},                               // Photometric: RGB or BlackIsZero
      {273, kLong, strips, strips == 1 ? dataAt : offsetsAt},        // StripOffsets
      {277, kShort, 1, rgb ? 3u : 1u},                               // SamplesPerPixel
      {278, kLong, 1, rowsPerStrip},                                 // RowsPerStrip
      {279, kLong, strips, strips == 1 ? stripBytes(0) : countsAt},  // StripByteCounts
      {282, kRational, 1, xresAt},                                   // XResolution
      {283, kRational, 1, yresAt},                                   // YResolution
      {284, kShort, 1, 1},                                           // PlanarConfiguration: chunky
      {296, kShort, 1, 2},                                           // ResolutionUnit: inch
  };

  out.reserve(size_t(dataAt) + size_t(imageBytes));
  out.push_back('I');
  out.push_back('I');
  PutLE16(out, 42);
  PutLE32(out, ifdAt);
  PutLE16(out, entryCount);
  for (const Entry& e : entries) {
    PutLE16(out, e.tag);
    PutLE16(out, e.type);
    PutLE32(out, e.count);
    if (e.type == kShort && e.count == 1) {
      PutLE16(out, e.value);  // a short sits in the first half of the field
      PutLE16(out, 0);
    } else {
      PutLE32(out, e.value);
    }
  }
  PutLE32(out, 0);  // no next IFD
  if (rgb) {
    PutLE16(out, 8);
    PutLE16(out, 8);
    PutLE16(out, 8);
    PutLE16(out, 0);
  }
  uint32_t num, den;
  Rational(r.xres, num, den);
  PutLE32(out, num);
  PutLE32(out, den);
  Rational(r.yres, num, den);
  PutLE32(out, num);
  PutLE32(out, den);
  if (strips > 1) {
    for (uint32_t k = 0; k < strips; ++k) PutLE32(out, stripOffset(k));
    for (uint32_t k = 0; k < strips; ++k) PutLE32(out, stripBytes(k));
  }

  const size_t at = out.size();
  out.resize(at + size_t(imageBytes));
  uint8_t* dst = out.data() + at;
  for (int j = 0; j < r.height; ++j, dst += rowBytes)
    std::memcpy(dst, r.rows.data() + size_t(j) * stride, rowBytes);
  return out;
}

}  // namespace vscan
