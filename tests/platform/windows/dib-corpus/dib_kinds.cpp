#include "tests/platform/windows/dib-corpus/dib_kinds.h"

#include <cstring>
#include <functional>

namespace dibkinds {
namespace {

using Bytes = std::vector<uint8_t>;

struct Rgb {
  uint8_t r, g, b;
};

void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// What a DIB is made of. Pixels come from `index` (1 to 8 bits: a colour-table index) or
// `colour` (16 to 32 bits).
struct DibLayout {
  std::string name;
  uint32_t headerSize = 40;
  int bits = 24;
  int width = 0, height = 0;
  bool topDown = false;
  uint32_t compression = 0;  // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS
  uint32_t masks[3] = {0, 0, 0};
  uint32_t clrUsed = 0;       // the header's biClrUsed
  uint32_t tableEntries = 0;  // entries actually written
  bool sizeImageZero = false;
  bool invertedMono = false;  // 1 bit: entry 0 white, entry 1 black
};

Rgb TableColour(const DibLayout& s, uint32_t i) {
  if (s.bits == 1) {
    uint8_t v = (i == 1) != s.invertedMono ? 255 : 0;
    return {v, v, v};
  }
  return {uint8_t(i * 37 + 5), uint8_t(i * 91 + 17), uint8_t(i * 53 + 101)};
}

uint32_t Index(const DibLayout& s, int x, int y, uint32_t entries) {
  return uint32_t((x / 3) * 5 + (y / 2) * 3) % entries;
}

// 16 bits: each channel at its minimum or maximum (exact however a display widens it).
Rgb Colour(const DibLayout& s, int x, int y) {
  if (s.bits == 16) {
    uint8_t r = ((x / 4 + y / 3) & 1) ? 255 : 0;
    uint8_t g = (((x / 5) ^ y) & 1) ? 255 : 0;
    uint8_t b = (((x + y) / 6) & 1) ? 255 : 0;
    return {r, g, b};
  }
  return {uint8_t(x * 7 + y), uint8_t(y * 5 + x * 2), uint8_t((x ^ y) * 3)};
}

uint32_t Shift(uint32_t mask) {
  uint32_t n = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++n;
  return n;
}
uint32_t Width(uint32_t mask) {
  mask >>= Shift(mask);
  uint32_t n = 0;
  while (mask & 1) mask >>= 1, ++n;
  return n;
}
uint32_t Place(uint8_t v, uint32_t mask) { return (uint32_t(v) >> (8 - Width(mask))) << Shift(mask); }

void Masks(const DibLayout& s, uint32_t out[3]) {
  if (s.compression == 3) {
    std::memcpy(out, s.masks, sizeof s.masks);
  } else if (s.bits == 16) {
    out[0] = 0x7C00, out[1] = 0x03E0, out[2] = 0x001F;
  } else {
    out[0] = 0xFF0000, out[1] = 0xFF00, out[2] = 0xFF;
  }
}

Bytes Row(const DibLayout& s, int y, uint32_t entries) {
  const size_t stride = ((size_t(s.width) * s.bits + 31) / 32) * 4;
  Bytes row(stride, 0);
  uint32_t m[3];
  Masks(s, m);
  for (int x = 0; x < s.width; ++x) {
    if (s.bits <= 8) {
      uint32_t v = Index(s, x, y, entries);
      size_t bit = size_t(x) * s.bits;
      row[bit / 8] |= uint8_t(v << (8 - s.bits - bit % 8));
    } else if (s.bits == 24) {
      Rgb c = Colour(s, x, y);
      row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
    } else {
      Rgb c = Colour(s, x, y);
      uint32_t v = Place(c.r, m[0]) | Place(c.g, m[1]) | Place(c.b, m[2]);
      for (int k = 0; k < s.bits / 8; ++k) row[size_t(x) * (s.bits / 8) + k] = uint8_t(v >> (8 * k));
    }
  }
  return row;
}

// Runs of equal indices, an end of line per row and an end of picture.
Bytes Rle(const DibLayout& s, uint32_t entries) {
  Bytes out;
  for (int j = s.height - 1; j >= 0; --j) {
    for (int x = 0; x < s.width;) {
      uint32_t v = Index(s, x, j, entries);
      int n = 1;
      while (x + n < s.width && n < 255 && Index(s, x + n, j, entries) == v) ++n;
      out.push_back(uint8_t(n));
      out.push_back(uint8_t(s.bits == 4 ? (v << 4 | v) : v));
      x += n;
    }
    out.push_back(0), out.push_back(0);
  }
  out.push_back(0), out.push_back(1);
  return out;
}

Case Build(const DibLayout& s) {
  Case c;
  c.name = s.name;
  c.valid = true;
  c.width = s.width;
  c.height = s.height;
  const bool core = s.headerSize == 12;
  const uint32_t entries = s.bits <= 8 ? (s.tableEntries ? s.tableEntries : 1u << s.bits) : s.tableEntries;
  Bytes pixels;
  if (s.compression == 1 || s.compression == 2) {
    pixels = Rle(s, entries);
  } else {
    for (int j = 0; j < s.height; ++j) {
      Bytes row = Row(s, s.topDown ? j : s.height - 1 - j, entries);
      pixels.insert(pixels.end(), row.begin(), row.end());
    }
  }
  Bytes& b = c.bytes;
  Put32(b, s.headerSize);
  if (core) {
    Put16(b, uint32_t(s.width));
    Put16(b, uint32_t(s.height));
    Put16(b, 1);
    Put16(b, uint32_t(s.bits));
  } else {
    Put32(b, uint32_t(s.width));
    Put32(b, s.topDown ? uint32_t(-s.height) : uint32_t(s.height));
    Put16(b, 1);
    Put16(b, uint32_t(s.bits));
    Put32(b, s.compression);
    Put32(b, s.sizeImageZero ? 0 : uint32_t(pixels.size()));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, s.clrUsed);
    Put32(b, 0);
    if (s.headerSize >= 52)
      for (uint32_t m : s.masks) Put32(b, s.compression == 3 ? m : 0);
    if (s.headerSize >= 56) Put32(b, 0);  // alpha mask
    if (s.headerSize >= 108) {
      Put32(b, 0x73524742);  // 'sRGB'
      b.resize(b.size() + 36 + 12, 0);
    }
    if (s.headerSize >= 124) {
      Put32(b, 4);  // LCS_GM_IMAGES
      Put32(b, 0), Put32(b, 0), Put32(b, 0);
    }
    if (s.headerSize == 40 && s.compression == 3)
      for (uint32_t m : s.masks) Put32(b, m);
  }
  for (uint32_t i = 0; i < entries; ++i) {
    Rgb t = TableColour(s, i);
    b.push_back(t.b), b.push_back(t.g), b.push_back(t.r);
    if (!core) b.push_back(0);
  }
  b.insert(b.end(), pixels.begin(), pixels.end());
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      Rgb p = s.bits <= 8 ? TableColour(s, Index(s, x, y, entries)) : Colour(s, x, y);
      c.rgb.push_back(p.r), c.rgb.push_back(p.g), c.rgb.push_back(p.b);
    }
  }
  return c;
}

// A lying DIB: a valid one with some bytes changed or cut off.
Case Lie(const Case& base, const std::string& name, const std::string& fault,
         const std::function<void(Bytes&)>& change) {
  Case c;
  c.name = name;
  c.bytes = base.bytes;
  change(c.bytes);
  c.fault = fault;
  return c;
}

}  // namespace

std::vector<Case> Corpus(bool large, size_t pointerBytes) {
  // Small: a few dozen pixels. Large: 400 rows, and rows long enough for 540,000 bytes; for a
  // 64-bit process 800 rows and 1,080,000 bytes (a 1-bit row stays under ImageMagick's width
  // limit of 16,384).
  const int h = large ? (pointerBytes == 8 ? 800 : 400) : 7;
  const int64_t bytes = pointerBytes == 8 ? 1080000 : 540000;
  auto w = [&](int bits) { return large ? int(bytes * 8 / (int64_t(bits) * h)) + 1 : 13; };
  std::vector<DibLayout> layouts;
  auto add = [&](const std::string& name, uint32_t header, int bits,
                 const std::function<void(DibLayout&)>& adjust = {}) {
    DibLayout s;
    s.name = name;
    s.headerSize = header;
    s.bits = bits;
    s.width = w(bits);
    s.height = h;
    if (adjust) adjust(s);
    layouts.push_back(s);
  };
  auto masks = [](uint32_t r, uint32_t g, uint32_t b) {
    return [=](DibLayout& s) { s.compression = 3, s.masks[0] = r, s.masks[1] = g, s.masks[2] = b; };
  };
  auto table = [](uint32_t n) { return [=](DibLayout& s) { s.clrUsed = s.tableEntries = n; }; };
  auto topDown = [](DibLayout& s) { s.topDown = true; };
  add("bits1", 40, 1);
  add("bits1-inverted-table", 40, 1, [](DibLayout& s) { s.invertedMono = true; });
  add("bits4", 40, 4);
  add("bits4-short-table", 40, 4, table(11));
  add("bits8", 40, 8);
  add("bits8-short-table", 40, 8, table(100));
  add("bits8-top-down", 40, 8, topDown);
  add("bits16", 40, 16);
  add("bits16-bitfields-565", 40, 16, masks(0xF800, 0x07E0, 0x001F));
  add("bits24", 40, 24);
  add("bits24-top-down", 40, 24, topDown);
  add("bits24-size-image-0", 40, 24, [](DibLayout& s) { s.sizeImageZero = true; });
  add("bits24-table-1000", 40, 24, table(1000));
  add("bits32", 40, 32);
  add("bits32-top-down", 40, 32, topDown);
  add("bits32-bitfields", 40, 32, masks(0xFF0000, 0xFF00, 0xFF));
  add("bits32-bitfields-reversed", 40, 32, masks(0xFF, 0xFF00, 0xFF0000));
  add("core-bits1", 12, 1);
  add("core-bits8", 12, 8);
  add("core-bits24", 12, 24);
  add("v3-bits32-bitfields", 56, 32, masks(0xFF0000, 0xFF00, 0xFF));
  add("v4-bits24", 108, 24);
  add("v4-bits16-bitfields-565", 108, 16, masks(0xF800, 0x07E0, 0x001F));
  add("v5-bits8", 124, 8);
  add("v5-bits32-bitfields", 124, 32, masks(0xFF0000, 0xFF00, 0xFF));
  add("rle8", 40, 8, [](DibLayout& s) { s.compression = 1; });
  add("rle4", 40, 4, [](DibLayout& s) { s.compression = 2; });

  std::vector<Case> out;
  for (const DibLayout& one : layouts) out.push_back(Build(one));
  auto find = [&](const std::string& name) {
    for (const Case& c : out)
      if (c.name == name) return c;
    return Case();
  };
  const Case b24 = find("bits24"), b8 = find("bits8"), b565 = find("bits16-bitfields-565"), rle = find("rle8"),
             core = find("core-bits8"), b1 = find("bits1");
  const size_t table8 = 40 + 1024;
  auto cut = [](size_t n) { return [n](Bytes& b) { b.resize(n); }; };
  auto set = [](size_t at, uint32_t v) { return [at, v](Bytes& b) { Set32(b, at, v); }; };
  auto set16 = [](size_t at, uint16_t v) {
    return [at, v](Bytes& b) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); };
  };
  out.push_back(Lie(b24, "lie-empty-block", "short block", cut(0)));
  out.push_back(Lie(b24, "lie-block-of-3", "short block", cut(3)));
  out.push_back(Lie(b24, "lie-block-shorter-than-header", "short block", cut(20)));
  out.push_back(Lie(core, "lie-core-block-of-10", "short block", cut(10)));
  out.push_back(Lie(b24, "lie-header-size-64", "header size", set(0, 64)));
  out.push_back(Lie(b24, "lie-header-size-huge", "header size", set(0, 0xFFFFFFF0u)));
  out.push_back(Lie(b24, "lie-width-0", "size", set(4, 0)));
  out.push_back(Lie(b24, "lie-height-0", "size", set(8, 0)));
  out.push_back(Lie(b24, "lie-width-negative", "size", set(4, uint32_t(-5))));
  out.push_back(Lie(b24, "lie-height-most-negative", "size", set(8, 0x80000000u)));
  out.push_back(Lie(b24, "lie-width-huge", "size", set(4, 0x7FFFFFFF)));
  out.push_back(Lie(b24, "lie-height-huge", "rows", set(8, 0x7FFFFFFF)));
  out.push_back(Lie(b24, "lie-rows-one-byte-short", "rows", cut(b24.bytes.size() - 1)));
  out.push_back(Lie(b24, "lie-rows-half-missing", "rows", cut(b24.bytes.size() / 2)));
  out.push_back(Lie(b1, "lie-bits1-rows-short", "rows", cut(b1.bytes.size() - 4)));
  out.push_back(Lie(b24, "lie-planes-0", "planes", set16(12, 0)));
  out.push_back(Lie(b24, "lie-planes-3", "planes", set16(12, 3)));
  out.push_back(Lie(b24, "lie-bits-0", "bit count", set16(14, 0)));
  out.push_back(Lie(b24, "lie-bits-2", "bit count", set16(14, 2)));
  out.push_back(Lie(b24, "lie-bits-64", "bit count", set16(14, 64)));
  out.push_back(Lie(core, "lie-core-bits-16", "bit count", set16(10, 16)));
  out.push_back(Lie(b24, "lie-compression-7", "compression", set(16, 7)));
  out.push_back(Lie(b24, "lie-compression-jpeg", "compression", set(16, 4)));
  out.push_back(Lie(b24, "lie-bitfields-24-bits", "compression", set(16, 3)));
  out.push_back(Lie(b24, "lie-rle8-24-bits", "compression", set(16, 1)));
  out.push_back(Lie(rle, "lie-rle8-top-down", "compression", [](Bytes& b) {
    uint32_t hgt = b[8] | b[9] << 8 | b[10] << 16 | uint32_t(b[11]) << 24;
    Set32(b, 8, uint32_t(-int32_t(hgt)));
  }));
  out.push_back(
      Lie(rle, "lie-rle8-size-beyond-block", "rows", [](Bytes& b) { Set32(b, 20, uint32_t(b.size())); }));
  out.push_back(Lie(rle, "lie-rle8-size-0", "rows", set(20, 0)));
  out.push_back(Lie(b8, "lie-colours-300-for-8-bits", "colours", set(32, 300)));
  out.push_back(Lie(b8, "lie-colours-65535", "colours", set(32, 65535)));
  out.push_back(Lie(b8, "lie-table-cut", "colours", cut(table8 - 10)));
  out.push_back(Lie(b24, "lie-bits24-colours-beyond-block", "colours", set(32, 0x40000000)));
  out.push_back(Lie(b24, "lie-bits24-colours-50-no-table", "rows", set(32, 50)));
  out.push_back(Lie(b565, "lie-masks-zero", "masks", set(40, 0)));
  out.push_back(Lie(b565, "lie-masks-overlap", "masks", set(44, 0x0FE0)));
  out.push_back(Lie(b565, "lie-masks-gaps", "masks", set(48, 0x0015)));
  out.push_back(Lie(b565, "lie-masks-wider-than-16-bits", "masks", set(40, 0x1F800)));
  out.push_back(Lie(b565, "lie-masks-cut-off", "short block", cut(46)));
  return out;
}

std::vector<uint8_t> Ppm(const Case& c) {
  std::string head = "P6\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), c.rgb.begin(), c.rgb.end());
  return out;
}

}  // namespace dibkinds
