// QDPict: QuickDraw pictures read and drawn into CoreGraphics bitmap contexts. The stand-in
// knows the version 2 pictures that scanners and image programs write: a header opcode, a
// clip region, comments, and DirectBitsRect / DirectBitsRgn of 32-bit pixels (packType 1:
// unpacked, 2: three bytes a pixel, 4: component planes with PackBits). The count before a
// packed row is a word when rowBytes is above 250, a byte otherwise, as QuickDraw reads it.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "standins/imageio/internal.h"

using namespace imageio;

namespace {

constexpr OSStatus kUnimpErr = -4;
constexpr OSStatus kParamErr = -50;
constexpr OSStatus kMemFullErr = -108;

struct Rect16 {
  int top = 0, left = 0, bottom = 0, right = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// One DirectBits opcode, decoded: RGB pixels of srcRect, placed at dstRect in picture space.
struct Bits {
  Rect16 src, dst;
  std::vector<uint8_t> rgb;
};

struct Pict : Object {
  Pict() : Object(kPict) {}
  ~Pict() override {
    if (provider) Release(provider);
  }
  DataProvider* provider = nullptr;
  size_t start = 0;  // 0, or 512 after a file header
  Rect16 frame;
  double xRes = 72, yRes = 72;
};

class Reader {
 public:
  Reader(const uint8_t* p, size_t n, size_t at) : p_(p), n_(n), at_(at) {}
  bool Has(size_t k) const { return at_ <= n_ && n_ - at_ >= k; }
  int U8() { return Has(1) ? p_[at_++] : (ok_ = false, 0); }
  int U16() {
    if (!Has(2)) return ok_ = false, 0;
    int v = (p_[at_] << 8) | p_[at_ + 1];
    at_ += 2;
    return v;
  }
  int S16() {
    int v = U16();
    return v >= 0x8000 ? v - 0x10000 : v;
  }
  uint32_t U32() {
    uint32_t hi = U16();
    return (hi << 16) | U16();
  }
  double Fixed() { return static_cast<int32_t>(U32()) / 65536.0; }
  Rect16 Rect() {
    Rect16 r;
    r.top = S16();
    r.left = S16();
    r.bottom = S16();
    r.right = S16();
    return r;
  }
  void Skip(size_t k) {
    if (Has(k)) {
      at_ += k;
    } else {
      ok_ = false;
    }
  }
  void Align() {
    if (at_ & 1) ++at_;
  }
  const uint8_t* Here() const { return p_ + at_; }
  size_t Left() const { return at_ <= n_ ? n_ - at_ : 0; }
  bool Ok() const { return ok_; }
  size_t At() const { return at_; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_;
  bool ok_ = true;
};

// Where the picture starts: at 0, or after a 512-byte file header; version 2 only.
bool FindStart(const uint8_t* p, size_t n, size_t* start) {
  for (size_t s : {size_t(0), size_t(512)}) {
    if (n >= s + 14 && p[s + 10] == 0x00 && p[s + 11] == 0x11 && p[s + 12] == 0x02 && p[s + 13] == 0xFF) {
      *start = s;
      return true;
    }
  }
  return false;
}

bool UnpackBits(Reader& r, size_t packed, uint8_t* out, size_t want) {
  size_t got = 0;
  const size_t end = r.At() + packed;
  while (r.At() < end && got < want) {
    int n = r.U8();
    if (n < 128) {
      for (int i = 0; i <= n; ++i) {
        uint8_t b = static_cast<uint8_t>(r.U8());
        if (got < want) out[got++] = b;
      }
    } else if (n > 128) {
      uint8_t b = static_cast<uint8_t>(r.U8());
      for (int i = 0; i < 257 - n && got < want; ++i) out[got++] = b;
    }
    if (!r.Ok()) return false;
  }
  if (r.At() > end) return false;
  r.Skip(end - r.At());
  return got == want && r.Ok();
}

bool ReadDirectBits(Reader& r, bool region, Bits* bits) {
  r.Skip(4);  // baseAddr
  const int rowBytes = r.U16() & 0x3FFF;
  Rect16 bounds = r.Rect();
  r.Skip(2);  // pmVersion
  const int packType = r.U16();
  r.Skip(4 + 8);  // packSize, hRes, vRes
  const int pixelType = r.U16();
  const int pixelSize = r.U16();
  const int cmpCount = r.U16();
  const int cmpSize = r.U16();
  r.Skip(12);  // planeBytes, pmTable, pmReserved
  bits->src = r.Rect();
  bits->dst = r.Rect();
  r.Skip(2);  // mode
  if (region) {
    int size = r.U16();
    if (size < 2) return false;
    r.Skip(size - 2);
  }
  const int w = bounds.Width(), h = bounds.Height();
  if (!r.Ok() || pixelType != 16 || pixelSize != 32 || cmpSize != 8 || (cmpCount != 3 && cmpCount != 4) ||
      w <= 0 || h <= 0 || rowBytes < 4 * w) {
    return false;
  }
  std::vector<uint8_t> full(static_cast<size_t>(w) * h * 3);
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes) + 16);
  for (int y = 0; y < h; ++y) {
    uint8_t* out = full.data() + static_cast<size_t>(y) * w * 3;
    if (rowBytes < 8 || packType == 1 || packType == 2) {
      const size_t bytes = packType == 2 ? 3 * static_cast<size_t>(w) : static_cast<size_t>(rowBytes);
      if (!r.Has(bytes)) return false;
      const uint8_t* p = r.Here();
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = packType == 2 ? p + 3 * x : p + 4 * x + 1;
        out[3 * x] = px[0];
        out[3 * x + 1] = px[1];
        out[3 * x + 2] = px[2];
      }
      r.Skip(bytes);
    } else if (packType == 4) {
      const size_t packed = rowBytes > 250 ? r.U16() : r.U8();
      const size_t planes = static_cast<size_t>(w) * cmpCount;
      if (!UnpackBits(r, packed, row.data(), planes)) return false;
      const uint8_t* red = row.data() + (cmpCount == 4 ? w : 0);
      for (int x = 0; x < w; ++x) {
        out[3 * x] = red[x];
        out[3 * x + 1] = red[w + x];
        out[3 * x + 2] = red[2 * w + x];
      }
    } else {
      return false;
    }
  }
  // Only srcRect (within bounds) is drawn.
  Rect16 s = bits->src;
  if (s.left < bounds.left || s.top < bounds.top || s.right > bounds.right || s.bottom > bounds.bottom ||
      s.Width() <= 0 || s.Height() <= 0 || bits->dst.Width() <= 0 || bits->dst.Height() <= 0) {
    return false;
  }
  if (s.left == bounds.left && s.top == bounds.top && s.right == bounds.right && s.bottom == bounds.bottom) {
    bits->rgb.swap(full);
    return true;
  }
  bits->rgb.resize(static_cast<size_t>(s.Width()) * s.Height() * 3);
  for (int y = 0; y < s.Height(); ++y) {
    std::memcpy(bits->rgb.data() + static_cast<size_t>(y) * s.Width() * 3,
                full.data() + (static_cast<size_t>(y + s.top - bounds.top) * w + (s.left - bounds.left)) * 3,
                static_cast<size_t>(s.Width()) * 3);
  }
  return true;
}

// Walks the opcodes; every DirectBits opcode is handed to `draw`. noErr, or the failure.
template <class Draw>
OSStatus Walk(const Pict& pict, Draw draw) {
  Reader r(pict.provider->data, pict.provider->size, pict.start + 14);
  for (;;) {
    r.Align();
    const int op = r.U16();
    if (!r.Ok()) return kParamErr;
    switch (op) {
      case 0x0000:  // NOP
      case 0x001E:  // DefHilite
        break;
      case 0x0C00:
        r.Skip(24);
        break;
      case 0x0001: {  // Clip
        int size = r.U16();
        if (size < 10) return kParamErr;
        r.Skip(size - 2);
        break;
      }
      case 0x00A0:
        r.Skip(2);
        break;
      case 0x00A1: {
        r.Skip(2);
        r.Skip(r.U16());
        break;
      }
      case 0x009A:
      case 0x009B: {
        Bits bits;
        if (!ReadDirectBits(r, op == 0x009B, &bits)) return kParamErr;
        draw(bits);
        break;
      }
      case 0x00FF:
        return 0;  // noErr
      default:
        return kUnimpErr;
    }
    if (!r.Ok()) return kParamErr;
  }
}

}  // namespace

extern "C" {

QDPictRef QDPictCreateWithProvider(CGDataProviderRef provider) try {
  auto* p = Checked<DataProvider>(provider, kDataProvider, __func__);
  size_t start;
  if (!p || !p->data || !FindStart(p->data, p->size, &start)) return nullptr;
  auto* pict = new Pict;
  pict->provider = p;
  CFRetain(p);
  pict->start = start;
  Reader r(p->data, p->size, start + 2);
  pict->frame = r.Rect();
  r.Skip(4);
  if (r.U16() == 0x0C00) {
    const int version = r.S16();
    r.Skip(2);
    if (version == -2) {
      pict->xRes = r.Fixed();
      pict->yRes = r.Fixed();
    }
  }
  if (!(pict->xRes > 0) || !(pict->yRes > 0)) pict->xRes = pict->yRes = 72;
  if (pict->frame.Width() <= 0 || pict->frame.Height() <= 0) {
    Release(pict);
    return nullptr;
  }
  return reinterpret_cast<QDPictRef>(static_cast<Object*>(pict));
} catch (...) {
  return {};
}

QDPictRef QDPictRetain(QDPictRef pict) try { return RetainUnlessNull(pict, kPict, __func__); } catch (...) {
  return {};
}
// A QDPict is released as CFRelease releases: NULL is a fault of the caller.
void QDPictRelease(QDPictRef pict) try {
  if (!pict) std::abort();
  ReleaseUnlessNull(pict, kPict, __func__);
} catch (...) {
}

// The picture's frame at 72 dpi, as QDPictToCGContext.h documents QDPictGetBounds: a frame of
// 300 pixels at 300 dpi is 72 units wide, one inch. Inside Macintosh: Imaging With QuickDraw,
// OpenCPicParams: scale by destination resolution / source resolution.
CGRect QDPictGetBounds(QDPictRef ref) try {
  auto* pict = Checked<Pict>(ref, kPict, __func__);
  if (!pict) return CGRectMake(0, 0, 0, 0);
  const double sx = 72 / pict->xRes, sy = 72 / pict->yRes;
  return CGRectMake(static_cast<float>(pict->frame.left * sx), static_cast<float>(pict->frame.top * sy),
                    static_cast<float>(pict->frame.Width() * sx),
                    static_cast<float>(pict->frame.Height() * sy));
} catch (...) {
  return {};
}

void QDPictGetResolution(QDPictRef ref, float* xRes, float* yRes) try {
  auto* pict = Checked<Pict>(ref, kPict, __func__);
  if (xRes) *xRes = pict ? static_cast<float>(pict->xRes) : 0;
  if (yRes) *yRes = pict ? static_cast<float>(pict->yRes) : 0;
} catch (...) {
}

OSStatus QDPictDrawToCGContext(CGContextRef ctx, CGRect rect, QDPictRef ref) try {
  auto* c = Checked<Context>(ctx, kContext, __func__);
  auto* pict = Checked<Pict>(ref, kPict, __func__);
  if (!c || !pict || !(rect.size.width > 0) || !(rect.size.height > 0)) return kParamErr;
  const PixelLayout& l = c->layout;
  const Rect16 frame = pict->frame;
  const double sx = rect.size.width / frame.Width(), sy = rect.size.height / frame.Height();
  return Walk(*pict, [&](const Bits& bits) {
    const Rect16& d = bits.dst;
    // Nearest source column of each context column (-1: outside the opcode's rectangle).
    std::vector<int> columns(l.width, -1);
    for (size_t col = 0; col < l.width; ++col) {
      const double px = frame.left + (col + 0.5 - rect.origin.x) / sx;
      if (px >= d.left && px < d.right)
        columns[col] = static_cast<int>((px - d.left) * bits.src.Width() / d.Width());
    }
    for (size_t row = 0; row < l.height; ++row) {
      // The row's centre, from CoreGraphics' bottom-up space into the picture's top-down one.
      const double yc = static_cast<double>(l.height - row) - 0.5;
      const double py = frame.top + (rect.origin.y + rect.size.height - yc) / sy;
      if (py < d.top || py >= d.bottom) continue;
      const int sy0 = static_cast<int>((py - d.top) * bits.src.Height() / d.Height());
      const uint8_t* source = bits.rgb.data() + static_cast<size_t>(sy0) * bits.src.Width() * 3;
      uint8_t* out = c->data + row * l.bytesPerRow;
      for (size_t col = 0; col < l.width; ++col) {
        if (columns[col] < 0) continue;
        StorePixel(l, out, col, source + static_cast<size_t>(columns[col]) * 3);
      }
    }
  });
} catch (...) {
  return kMemFullErr;
}

}  // extern "C"
