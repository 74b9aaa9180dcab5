// Version 2 PICT picture data holding one DirectBitsRect of 32-bit direct pixels.
//
// Layout (all big-endian):
//   picSize (low 16 bits of the picture's length), picFrame (0, 0, height, width)
//   0x0011 0x02FF                      version 2
//   0x0C00 + 24 bytes                  extended header: -2, 0, hRes, vRes, srcRect, 0
//   0x0001 + region (10 bytes)         clip region: the frame
//   0x009A                             DirectBitsRect: baseAddr, PixMap, srcRect, dstRect,
//                                      mode, packed rows
//   0x00FF                             end of picture
// The frame and the header's source rectangle are in pixels and the header and the PixMap carry
// the raster's resolution, as in the PICT files ImageMagick writes (it sizes the image from the
// pixel map and reports 72 dpi whatever the header says).
//
// Each row is packed as QuickDraw's packType 4 does it: the red, then green, then blue bytes
// of the row (cmpCount 3, no alpha), the whole run compressed with PackBits and preceded by
// its byte count. The count is one byte when the unpacked components of a row take at most
// 200 bytes and two bytes otherwise: that is what ImageMagick writes and reads for this
// layout (its own PICT output switches at 67 pixels across). QuickDraw's documented switch
// is rowBytes > 250 (63 pixels); the two only differ for widths 63 to 66. Rows of one or two
// pixels (fewer than 8 component bytes) are stored unpacked, without a count, which is how
// ImageMagick reads them; its own writer packs them, which is why its 2 x 2 PICT files do not
// read back.
#include "standins/virtual-scanner/image/bytes.h"
#include "standins/virtual-scanner/image/page.h"

namespace vscan {

namespace {

using detail::Bytes;
using detail::PutBE16;
using detail::PutBE32;

constexpr uint32_t kFixed72 = 72u << 16;

uint32_t FixedDpi(double dpi) {
  if (!(dpi > 0) || dpi >= 32768) return kFixed72;
  return uint32_t(dpi * 65536.0 + 0.5);
}

void PutRect(Bytes& b, int top, int left, int bottom, int right) {
  PutBE16(b, uint32_t(top));
  PutBE16(b, uint32_t(left));
  PutBE16(b, uint32_t(bottom));
  PutBE16(b, uint32_t(right));
}

// PackBits: runs of three or more equal bytes become a repeat, the rest literals.
void PackBits(const uint8_t* p, size_t n, Bytes& out) {
  size_t i = 0;
  size_t literalStart = 0;
  auto flushLiteral = [&](size_t end) {
    while (literalStart < end) {
      const size_t len = end - literalStart < 128 ? end - literalStart : 128;
      out.push_back(uint8_t(len - 1));
      out.insert(out.end(), p + literalStart, p + literalStart + len);
      literalStart += len;
    }
  };
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      flushLiteral(i);
      out.push_back(uint8_t(257 - run));  // -(run - 1)
      out.push_back(p[i]);
      i += run;
      literalStart = i;
    } else {
      i += run;
    }
  }
  flushLiteral(n);
}

// Red, green and blue planes of row j.
void SplitRow(const Raster& r, int j, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const uint8_t* src = r.rows.data() + size_t(j) * size_t(r.stride());
  const int w = r.width;
  if (r.bitsPerPixel == 24) {
    for (int i = 0; i < w; ++i) {
      red[i] = src[3 * i];
      green[i] = src[3 * i + 1];
      blue[i] = src[3 * i + 2];
    }
  } else if (r.bitsPerPixel == 8) {
    for (int i = 0; i < w; ++i) red[i] = green[i] = blue[i] = src[i];
  } else {
    for (int i = 0; i < w; ++i) {
      const uint8_t v = (src[i >> 3] & (0x80u >> (i & 7))) ? 255 : 0;
      red[i] = green[i] = blue[i] = v;
    }
  }
}

}  // namespace

std::vector<uint8_t> EncodePICT(const Raster& r) {
  Bytes out;
  if (!detail::Encodable(r) || r.width > 32767 || r.height > 32767) return out;
  const int w = r.width, h = r.height;
  const uint32_t rowBytes = uint32_t(w) * 4;
  if (rowBytes > 0x3FFF) return out;  // the PixMap's rowBytes field holds at most 0x3FFE

  out.reserve(size_t(w) * size_t(h) * 3 + 1024);
  PutBE16(out, 0);  // picSize, filled in at the end
  PutRect(out, 0, 0, h, w);
  PutBE16(out, 0x0011);
  PutBE16(out, 0x02FF);

  PutBE16(out, 0x0C00);  // HeaderOp
  PutBE16(out, 0xFFFE);  // extended version 2 header
  PutBE16(out, 0);
  PutBE32(out, FixedDpi(r.xres));
  PutBE32(out, FixedDpi(r.yres));
  PutRect(out, 0, 0, h, w);
  PutBE32(out, 0);

  PutBE16(out, 0x0001);  // Clip
  PutBE16(out, 10);
  PutRect(out, 0, 0, h, w);

  PutBE16(out, 0x009A);      // DirectBitsRect
  PutBE32(out, 0x000000FF);  // baseAddr: unused in a picture
  PutBE16(out, 0x8000 | rowBytes);
  PutRect(out, 0, 0, h, w);  // bounds
  PutBE16(out, 0);           // pmVersion
  PutBE16(out, 4);           // packType: components packed separately
  PutBE32(out, 0);           // packSize
  PutBE32(out, FixedDpi(r.xres));
  PutBE32(out, FixedDpi(r.yres));
  PutBE16(out, 16);          // pixelType: RGBDirect
  PutBE16(out, 32);          // pixelSize
  PutBE16(out, 3);           // cmpCount
  PutBE16(out, 8);           // cmpSize
  PutBE32(out, 0);           // planeBytes
  PutBE32(out, 0);           // pmTable
  PutBE32(out, 0);           // pmReserved
  PutRect(out, 0, 0, h, w);  // srcRect
  PutRect(out, 0, 0, h, w);  // dstRect
  PutBE16(out, 0);           // mode: srcCopy

  const bool wordCount = size_t(w) * 3 > 200;
  const bool unpacked = size_t(w) * 3 < 8;
  std::vector<uint8_t> planes(size_t(w) * 3);
  Bytes packed;
  packed.reserve(planes.size() + planes.size() / 128 + 8);
  for (int j = 0; j < h; ++j) {
    SplitRow(r, j, planes.data(), planes.data() + w, planes.data() + 2 * size_t(w));
    if (unpacked) {
      out.insert(out.end(), planes.begin(), planes.end());
      continue;
    }
    packed.clear();
    PackBits(planes.data(), planes.size(), packed);
    if (wordCount)
      PutBE16(out, uint32_t(packed.size()));
    else
      out.push_back(uint8_t(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
  }
  if (out.size() & 1) out.push_back(0);  // opcodes start on a word boundary
  PutBE16(out, 0x00FF);
  detail::SetBE16(out, 0, uint32_t(out.size() & 0xFFFF));
  return out;
}

}  // namespace vscan
