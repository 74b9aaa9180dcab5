// PNG with an uncompressed zlib stream (stored deflate blocks), written from scratch:
// CRC-32 for the chunks and Adler-32 for the zlib stream are computed here.
#include <cstring>

#include "standins/virtual-scanner/image/bytes.h"
#include "standins/virtual-scanner/image/page.h"

namespace vscan {

namespace {

using detail::Bytes;
using detail::PutBE32;

struct CrcTable {
  uint32_t v[256];
  CrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      v[n] = c;
    }
  }
};

uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
  static const CrcTable table;
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Running Adler-32, reduced every 5552 bytes so the sums never overflow 32 bits.
struct Adler32 {
  uint32_t a = 1, b = 0;
  void Add(const uint8_t* p, size_t n) {
    while (n > 0) {
      size_t chunk = n < 5552 ? n : 5552;
      n -= chunk;
      while (chunk--) {
        a += *p++;
        b += a;
      }
      a %= 65521;
      b %= 65521;
    }
  }
  uint32_t Value() const { return (b << 16) | a; }
};

// Appends a chunk whose data is out[dataAt, end) after its length and type were reserved.
size_t BeginChunk(Bytes& out, const char type[4]) {
  const size_t at = out.size();
  PutBE32(out, 0);
  out.insert(out.end(), type, type + 4);
  return at;
}
void EndChunk(Bytes& out, size_t at) {
  const size_t length = out.size() - at - 8;
  for (int k = 0; k < 4; ++k) out[at + k] = uint8_t(length >> (24 - 8 * k));
  PutBE32(out, Crc32(out.data() + at + 4, length + 4));
}

constexpr size_t kStoredMax = 65535;   // bytes per stored deflate block
constexpr size_t kBlocksPerIdat = 16;  // about 1 MB of image data per IDAT chunk

}  // namespace

std::vector<uint8_t> EncodePNG(const Raster& r) {
  Bytes out;
  if (!detail::Encodable(r)) return out;
  const size_t rowBytes = detail::PackedRowBytes(r);
  const size_t stride = size_t(r.stride());
  const size_t lineBytes = rowBytes + 1;  // filter byte + row
  const uint64_t raw64 = uint64_t(lineBytes) * uint64_t(r.height);
  if (raw64 > 0x7F000000u) return out;
  const size_t raw = size_t(raw64);

  // The filtered image data (filter 0 on every line) that the zlib stream stores.
  Bytes lines(raw);
  for (int j = 0; j < r.height; ++j) {
    uint8_t* line = lines.data() + size_t(j) * lineBytes;
    line[0] = 0;
    std::memcpy(line + 1, r.rows.data() + size_t(j) * stride, rowBytes);
  }
  // Bits past the last pixel of a 1-bit row are not part of the image: keep them zero.
  if (r.bitsPerPixel == 1 && (r.width & 7) != 0) {
    const uint8_t keep = uint8_t(0xFF00u >> (r.width & 7));
    for (int j = 0; j < r.height; ++j) lines[size_t(j) * lineBytes + rowBytes] &= keep;
  }

  const size_t blocks = raw == 0 ? 1 : (raw + kStoredMax - 1) / kStoredMax;
  out.reserve(raw + blocks * 5 + (blocks / kBlocksPerIdat + 1) * 12 + 128);
  static const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  out.insert(out.end(), kSignature, kSignature + 8);

  size_t at = BeginChunk(out, "IHDR");
  PutBE32(out, uint32_t(r.width));
  PutBE32(out, uint32_t(r.height));
  out.push_back(r.bitsPerPixel == 1 ? 1 : 8);   // bit depth
  out.push_back(r.bitsPerPixel == 24 ? 2 : 0);  // colour type: RGB or grey
  out.push_back(0);                             // deflate
  out.push_back(0);                             // adaptive filtering
  out.push_back(0);                             // no interlace
  EndChunk(out, at);

  const uint32_t xppm = detail::DotsPerMetre(r.xres), yppm = detail::DotsPerMetre(r.yres);
  if (xppm != 0 && yppm != 0) {
    at = BeginChunk(out, "pHYs");
    PutBE32(out, xppm);
    PutBE32(out, yppm);
    out.push_back(1);  // unit: metre
    EndChunk(out, at);
  }

  Adler32 adler;
  adler.Add(lines.data(), raw);
  size_t done = 0;
  for (size_t block = 0; block < blocks;) {
    at = BeginChunk(out, "IDAT");
    if (block == 0) {
      out.push_back(0x78);  // deflate, 32 KB window
      out.push_back(0x01);  // check bits: 0x7801 is a multiple of 31
    }
    for (size_t k = 0; k < kBlocksPerIdat && block < blocks; ++k, ++block) {
      const size_t n = raw - done < kStoredMax ? raw - done : kStoredMax;
      out.push_back(block + 1 == blocks ? 1 : 0);  // BFINAL, BTYPE 00
      out.push_back(uint8_t(n));
      out.push_back(uint8_t(n >> 8));
      out.push_back(uint8_t(~n));
      out.push_back(uint8_t(~n >> 8));
      out.insert(out.end(), lines.begin() + done, lines.begin() + done + n);
      done += n;
    }
    if (block == blocks) PutBE32(out, adler.Value());
    EndChunk(out, at);
  }

  at = BeginChunk(out, "IEND");
  EndChunk(out, at);
  return out;
}

}  // namespace vscan
