// The Windows conversion over the whole DIB corpus: every valid kind becomes a bitmap with its
// own pixels, every lying one is refused without a bitmap, and no GDI object stays behind.
#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/image_platform.h"
#include "tests/platform/windows/dib-corpus/dib_kinds.h"
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

HGLOBAL ExactBlock(const std::vector<uint8_t>& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (h && !bytes.empty()) {
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
  }
  return h;
}

// The bitmap's pixels, top-down R, G, B.
std::vector<uint8_t> PixelsOf(HBITMAP bitmap, int width, int height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint8_t> bgrx(size_t(width) * height * 4);
  HDC dc = GetDC(nullptr);
  int lines = GetDIBits(dc, bitmap, 0, UINT(height), bgrx.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (lines != height) return {};
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < bgrx.size(); i += 4) rgb.insert(rgb.end(), {bgrx[i + 2], bgrx[i + 1], bgrx[i]});
  return rgb;
}

// Where two pictures first differ, as "x,y: want r,g,b got r,g,b".
std::string FirstDifference(const dibkinds::Case& c, const std::vector<uint8_t>& got) {
  if (got.size() != c.rgb.size()) return "no pixels";
  for (size_t i = 0; i < got.size(); i += 3) {
    if (std::memcmp(&got[i], &c.rgb[i], 3) == 0) continue;
    size_t p = i / 3;
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d: want %d,%d,%d got %d,%d,%d", int(p % c.width), int(p / c.width),
                  c.rgb[i], c.rgb[i + 1], c.rgb[i + 2], got[i], got[i + 1], got[i + 2]);
    return text;
  }
  return "";
}

TEST(DibConversionTest, ValidKindsShowTheirPixelsAndLiesGiveNoBitmap) {
  const long gdi = GdiObjects();
  for (const dibkinds::Case& c : dibkinds::Corpus(false)) {
    HGLOBAL block = ExactBlock(c.bytes);
    HBITMAP bitmap = static_cast<HBITMAP>(DIBToDeviceBitmap(block));
    if (c.valid) {
      ASSERT_NE(nullptr, bitmap) << c.name;
      EXPECT_EQ("", FirstDifference(c, PixelsOf(bitmap, c.width, c.height))) << c.name;
    } else {
      EXPECT_EQ(nullptr, bitmap) << c.name;
    }
    DeleteDeviceBitmap(bitmap);
    if (block) GlobalFree(block);
  }
  EXPECT_EQ(gdi, GdiObjects()) << "palettes and bitmaps are freed";
}

// A source's device bitmap is the bitmap itself; a DIB is converted and freed.
TEST(DibConversionTest, ADeviceBitmapIsTakenAsItIs) {
  HDC screen = GetDC(nullptr);
  HBITMAP source = CreateCompatibleBitmap(screen, 5, 3);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(source, TakeDeviceBitmap(source));
  const long gdi = GdiObjects();
  ReleaseSourceImage(source);
  EXPECT_EQ(gdi - 1, GdiObjects()) << "released with DeleteObject";
  EXPECT_EQ(nullptr, TakeDeviceBitmap(nullptr));
}

}  // namespace
}  // namespace kvtest
#endif
