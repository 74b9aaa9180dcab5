// Renders the virtual scanner's page.
//
// The page only changes from left to right within each half, so one output row is built per
// half (and one for the white outside the page, one for a row crossing the mark) and every
// image row is a copy of one of them (PageRows); a 2550 x 3300 RGB page is then little more
// than 25 MB of copying.
#include "standins/virtual-scanner/image/page.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vscan {

int Raster::stride() const {
  if (width <= 0 || bitsPerPixel <= 0) return 0;
  return int(((int64_t(width) * bitsPerPixel + 31) / 32) * 4);
}

namespace {

constexpr double kPageWidth = 8.5;
constexpr double kPageHeight = 11.0;
constexpr double kHalfHeight = kPageHeight / 2;

struct Rgb {
  uint8_t r, g, b;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBars[8] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

// kMarked: a row of the bars that crosses a square of the page's mark.
enum class Region { kBars, kRamp, kOutside, kMarked };

constexpr double kMarkLeft = 0.25, kMarkRight = 0.5;  // inches, the squares' column
constexpr double kMarkTop = 0.25, kMarkStep = 0.3125, kMarkSide = 0.25;
constexpr int kMarkBits = 15;

// Number of pixels across `inches` at `dpi`, rounded to nearest; 0 when there is no area.
int PixelCount(double inches, double dpi) {
  const double n = std::floor(inches * dpi + 0.5);
  if (!(n >= 1)) return 0;
  if (n > 1e6) return 0;  // no scanner frame is a million pixels across
  return int(n);
}

// Positions are nudged by this much to the right and down before they are classified, so that
// a pixel centre lying exactly on an edge (x = 4.25 in, the ramp's x = 2.125 in at 100 dpi)
// falls on the side the page's definition gives it whatever the rounding of the arithmetic
// before: -m32 code keeps x87 80-bit intermediates or not depending on optimisation.
constexpr double kEdgeNudge = 1e-9;

// back: the chart seen from behind, mirrored left to right; the mark stays where it is.
Rgb PagePoint(Region region, double x, bool back) {
  x += kEdgeNudge;
  if (region == Region::kOutside || !(x >= 0 && x < kPageWidth)) return kWhite;
  if (region == Region::kMarked && x >= kMarkLeft && x < kMarkRight) return kBars[7];
  if (back) x = kPageWidth - x;
  if (region == Region::kBars || region == Region::kMarked) {
    int bar = int(std::floor(x * 8 / kPageWidth));
    bar = std::min(7, std::max(0, bar));
    return kBars[bar];
  }
  int grey = int(std::floor(256 * x / kPageWidth));
  grey = std::min(255, std::max(0, grey));
  return Rgb{uint8_t(grey), uint8_t(grey), uint8_t(grey)};
}

// Brightness, then contrast around 128, rounded and clamped once.
void BuildAdjustTable(double brightness, double contrast, uint8_t table[256]) {
  if (!std::isfinite(brightness)) brightness = 0;
  if (!std::isfinite(contrast)) contrast = 0;
  const double add = 255.0 * brightness / 1000.0;
  const double scale = (1000.0 + contrast) / 1000.0;
  for (int s = 0; s < 256; ++s) {
    const double v = (s + add - 128.0) * scale + 128.0;
    const double rounded = std::floor(v + 0.5);
    table[s] = uint8_t(std::min(255.0, std::max(0.0, rounded)));
  }
}

int GreyOf(Rgb c) {
  // round(0.299 R + 0.587 G + 0.114 B) in exact integer arithmetic (halves round up).
  return (299 * c.r + 587 * c.g + 114 * c.b + 500) / 1000;
}

// The region of a row at y inches (already nudged) on a page carrying `mark`.
Region RowRegion(double y, int mark) {
  if (!(y >= 0 && y < kPageHeight)) return Region::kOutside;
  if (y >= kHalfHeight) return Region::kRamp;
  const double fromTop = y - kMarkTop;
  if (fromTop >= 0) {
    const int bit = int(std::floor(fromTop / kMarkStep));
    if (bit < kMarkBits && fromTop - bit * kMarkStep < kMarkSide && (mark >> bit & 1)) return Region::kMarked;
  }
  return Region::kBars;
}

// ---- the blank and nearly blank sheets

constexpr Rgb kPaper{244, 240, 230};
constexpr Rgb kSpeck{60, 60, 60};
constexpr Rgb kShadow{40, 40, 40};
constexpr Rgb kInk{0, 0, 0};
constexpr unsigned kSpeckOneIn = 500;              // of the pixels whose column and row are even
constexpr double kLineLeft = 1.0, kLineTop = 1.5;  // inches
constexpr double kLetterPitch = 0.14, kLetterWidth = 0.1, kLetterHeight = 0.2, kStroke = 0.04;
constexpr int kLetters = 22;

bool Speck(int i, int j) {
  if ((i | j) & 1) return false;
  uint32_t h = uint32_t(i) * 0x9E3779B1u + uint32_t(j) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h % kSpeckOneIn == 0;
}

// Whether the heading's letters cover the page point (x, y) (inches).
bool Heading(double x, double y) {
  const double dx = x - kLineLeft, dy = y - kLineTop;
  if (dx < 0 || dy < 0 || dy >= kLetterHeight || dx >= kLetters * kLetterPitch) return false;
  const double inLetter = dx - std::floor(dx / kLetterPitch) * kLetterPitch;
  if (inLetter >= kLetterWidth) return false;
  return inLetter < kStroke || dy < kStroke || dy >= kLetterHeight - kStroke;
}

// The patch sheets' bars, left to right, 1 for a wide one.
constexpr double kPatchLeft = 1.0, kPatchTop = 1.0, kPatchBottom = 10.0;
constexpr double kPatchWide = 0.4, kPatchNarrow = 0.15, kPatchGap = 0.3;
constexpr int kPatchBars[6][4] = {{1, 1, 0, 0}, {1, 0, 1, 0}, {1, 0, 0, 1},
                                  {0, 1, 1, 0}, {0, 1, 0, 1}, {0, 0, 1, 1}};

bool PatchBar(int patch, double x, double y) {
  if (y < kPatchTop || y >= kPatchBottom || patch < 0 || patch > 5) return false;
  double left = kPatchLeft;
  for (int b = 0; b < 4; ++b) {
    const double width = kPatchBars[patch][b] ? kPatchWide : kPatchNarrow;
    if (x >= left && x < left + width) return true;
    left += width + kPatchGap;
  }
  return false;
}

Rgb SheetPoint(const ScanSettings& s, int width, int i, int j) {
  if (s.sheet == kPatchSheet) {
    const double x = s.left + (i + 0.5) / s.xres + kEdgeNudge;
    const double y = s.top + (j + 0.5) / s.yres + kEdgeNudge;
    return PatchBar(s.patch, x, y) ? kInk : kWhite;
  }
  if (400 * int64_t(i) < 3 * int64_t(width)) return kShadow;
  if (Speck(i, j)) return kSpeck;
  const double x = s.left + (i + 0.5) / s.xres + kEdgeNudge;
  const double y = s.top + (j + 0.5) / s.yres + kEdgeNudge;
  if (s.sheet == 2 && Heading(x, y)) return kInk;
  return kPaper;
}

}  // namespace

void PageRows::PutPixel(std::vector<uint8_t>& row, int i, uint8_t r, uint8_t g, uint8_t b) const {
  const Rgb c{adjust_[r], adjust_[g], adjust_[b]};
  if (bitsPerPixel_ == 24) {
    row[3 * size_t(i)] = c.r;
    row[3 * size_t(i) + 1] = c.g;
    row[3 * size_t(i) + 2] = c.b;
    return;
  }
  const bool invert = s_.pixelFlavor == 1;
  const int grey = GreyOf(c);
  if (bitsPerPixel_ == 8) {
    row[size_t(i)] = uint8_t(invert ? 255 - grey : grey);
  } else {
    const bool white = grey >= s_.threshold;
    if (white != invert) row[size_t(i) >> 3] |= uint8_t(0x80u >> (i & 7));
  }
}

const uint8_t* PageRows::SheetRow(int j) const {
  sheetRow_.assign(stride_, 0);
  for (int i = 0; i < width_; ++i) {
    const Rgb c = SheetPoint(s_, width_, i, j);
    PutPixel(sheetRow_, i, c.r, c.g, c.b);
  }
  return sheetRow_.data();
}

PageRows::PageRows(const ScanSettings& s) : s_(s) {
  if (!(std::isfinite(s.xres) && s.xres > 0 && std::isfinite(s.yres) && s.yres > 0)) return;
  if (!(std::isfinite(s.left) && std::isfinite(s.top) && std::isfinite(s.right) && std::isfinite(s.bottom)))
    return;
  const int width = PixelCount(s.right - s.left, s.xres);
  const int height = PixelCount(s.bottom - s.top, s.yres);
  if (width == 0 || height == 0) return;
  width_ = width;
  height_ = height;
  bitsPerPixel_ = s.pixelType == 0 ? 1 : s.pixelType == 1 ? 8 : 24;
  stride_ = size_t(((int64_t(width) * bitsPerPixel_ + 31) / 32) * 4);
  BuildAdjustTable(s.brightness, s.contrast, adjust_);
  if (s.sheet != 0) return;  // made row by row

  // One finished row per region.
  for (int reg = 0; reg < 4; ++reg) {
    std::vector<uint8_t>& row = templates_[reg];
    row.assign(stride_, 0);
    for (int i = 0; i < width; ++i) {
      const double x = s.left + (i + 0.5) / s.xres;
      const Rgb c = PagePoint(Region(reg), x, s.back);
      PutPixel(row, i, c.r, c.g, c.b);
    }
  }
}

const uint8_t* PageRows::Row(int j) const {
  if (s_.sheet != 0) return SheetRow(j);
  const double y = s_.top + (j + 0.5) / s_.yres + kEdgeNudge;
  return templates_[int(RowRegion(y, s_.mark))].data();
}

Raster RenderPage(const ScanSettings& s) {
  Raster out;
  const PageRows page(s);
  if (page.height() == 0) return out;
  out.bitsPerPixel = page.bitsPerPixel();
  out.width = page.width();
  out.height = page.height();
  out.xres = s.xres;
  out.yres = s.yres;
  const size_t stride = page.stride();
  out.rows.resize(stride * size_t(out.height));
  uint8_t* dst = out.rows.data();
  for (int j = 0; j < out.height; ++j, dst += stride) std::memcpy(dst, page.Row(j), stride);
  return out;
}

}  // namespace vscan
