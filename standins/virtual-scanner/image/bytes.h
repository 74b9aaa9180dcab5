// Byte-order writers and raster checks shared by the encoders (internal to this folder).
#ifndef KV_VSCANNER_IMAGE_BYTES_H
#define KV_VSCANNER_IMAGE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "standins/virtual-scanner/image/page.h"

namespace vscan {
namespace detail {

using Bytes = std::vector<uint8_t>;

inline void PutLE16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void PutLE32(Bytes& b, uint32_t v) {
  PutLE16(b, v & 0xFFFFu);
  PutLE16(b, v >> 16);
}
inline void PutBE16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
inline void PutBE32(Bytes& b, uint32_t v) {
  PutBE16(b, v >> 16);
  PutBE16(b, v & 0xFFFFu);
}
inline void SetLE32(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (8 * k));
}
inline void SetBE16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}

// True when the raster has an area, a supported depth and all its row bytes.
inline bool Encodable(const Raster& r) {
  if (r.width <= 0 || r.height <= 0) return false;
  if (r.bitsPerPixel != 1 && r.bitsPerPixel != 8 && r.bitsPerPixel != 24) return false;
  const uint64_t need = uint64_t(r.stride()) * uint64_t(r.height);
  return need <= r.rows.size();
}

// Bytes of one row without the padding to 4 bytes.
inline size_t PackedRowBytes(const Raster& r) { return (size_t(r.width) * size_t(r.bitsPerPixel) + 7) / 8; }

// Dots per inch to dots per metre, rounded; 0 for a resolution that is not positive.
inline uint32_t DotsPerMetre(double dpi) {
  if (!(dpi > 0) || dpi > 1e7) return 0;
  return uint32_t(dpi / 0.0254 + 0.5);
}

}  // namespace detail
}  // namespace vscan

#endif
