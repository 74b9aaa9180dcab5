// Packed DIB and .bmp file.
#include <cstring>

#include "standins/virtual-scanner/image/bytes.h"
#include "standins/virtual-scanner/image/page.h"

namespace vscan {

namespace {

using detail::Bytes;

constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kFileHeaderSize = 14;

uint32_t ColourCount(const Raster& r) { return r.bitsPerPixel == 1 ? 2u : r.bitsPerPixel == 8 ? 256u : 0u; }

// Appends the DIB (header, colour table, bottom-up rows) to `out`.
void AppendDIB(const Raster& r, Bytes& out) {
  const size_t stride = size_t(r.stride());
  const uint32_t colours = ColourCount(r);
  const size_t imageBytes = stride * size_t(r.height);

  detail::PutLE32(out, kInfoHeaderSize);
  detail::PutLE32(out, uint32_t(r.width));
  detail::PutLE32(out, uint32_t(r.height));  // positive: bottom-up
  detail::PutLE16(out, 1);                   // planes
  detail::PutLE16(out, uint32_t(r.bitsPerPixel));
  detail::PutLE32(out, 0);  // BI_RGB
  detail::PutLE32(out, uint32_t(imageBytes));
  detail::PutLE32(out, detail::DotsPerMetre(r.xres));
  detail::PutLE32(out, detail::DotsPerMetre(r.yres));
  detail::PutLE32(out, colours);  // biClrUsed
  detail::PutLE32(out, colours);  // biClrImportant: every entry is used
  for (uint32_t k = 0; k < colours; ++k) {
    const uint8_t v = r.bitsPerPixel == 1 ? uint8_t(k * 255) : uint8_t(k);
    out.push_back(v);  // blue
    out.push_back(v);  // green
    out.push_back(v);  // red
    out.push_back(0);  // reserved
  }

  const size_t at = out.size();
  out.resize(at + imageBytes);
  uint8_t* dst = out.data() + at;
  for (int j = r.height - 1; j >= 0; --j, dst += stride) {
    const uint8_t* src = r.rows.data() + size_t(j) * stride;
    if (r.bitsPerPixel != 24) {
      std::memcpy(dst, src, stride);
      continue;
    }
    const size_t n = size_t(r.width) * 3;
    for (size_t k = 0; k < n; k += 3) {
      dst[k] = src[k + 2];
      dst[k + 1] = src[k + 1];
      dst[k + 2] = src[k];
    }
    std::memset(dst + n, 0, stride - n);
  }
}

size_t DIBSize(const Raster& r) {
  return kInfoHeaderSize + 4 * size_t(ColourCount(r)) + size_t(r.stride()) * size_t(r.height);
}

}  // namespace

std::vector<uint8_t> EncodeDIB(const Raster& r) {
  Bytes out;
  if (!detail::Encodable(r)) return out;
  out.reserve(DIBSize(r));
  AppendDIB(r, out);
  return out;
}

std::vector<uint8_t> EncodeBMP(const Raster& r) {
  Bytes out;
  if (!detail::Encodable(r)) return out;
  const size_t total = kFileHeaderSize + DIBSize(r);
  if (total > 0xFFFFFFFFu) return Bytes();
  out.reserve(total);
  out.push_back('B');
  out.push_back('M');
  detail::PutLE32(out, uint32_t(total));
  detail::PutLE16(out, 0);
  detail::PutLE16(out, 0);
  detail::PutLE32(out, uint32_t(kFileHeaderSize + kInfoHeaderSize + 4 * ColourCount(r)));
  AppendDIB(r, out);
  return out;
}

}  // namespace vscan
