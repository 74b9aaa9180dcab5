// What only the Windows build does: the BITMAPINFO built for GetDIBits, the DIB palettes,
// the BMP file's layout and its 4096-byte pieces, and the GDI and global memory a scan uses.
#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "image/image_platform.h"
#include "platform/windows/bitmaps.h"
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

std::vector<unsigned char> ReadBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(BitmapInfoTest, DepthClassesRoundUp) {
  EXPECT_EQ(1, ColorDepthClass(1, 1));
  EXPECT_EQ(4, ColorDepthClass(1, 0));
  EXPECT_EQ(4, ColorDepthClass(1, 2));
  EXPECT_EQ(4, ColorDepthClass(2, 2));
  EXPECT_EQ(8, ColorDepthClass(1, 5));
  EXPECT_EQ(16, ColorDepthClass(1, 15));
  EXPECT_EQ(24, ColorDepthClass(3, 8));
  EXPECT_EQ(32, ColorDepthClass(1, 32));
}

TEST(BitmapInfoTest, HeadersForOneAndTwentyFourBits) {
  HBITMAP mono = CreateBitmap(100, 3, 1, 1, nullptr);
  BITMAPINFO* info = BuildBitmapInfo(mono);
  ASSERT_NE(nullptr, info);
  EXPECT_EQ(40u, info->bmiHeader.biSize);
  EXPECT_EQ(2u, info->bmiHeader.biClrUsed);
  EXPECT_EQ(16u * 3, info->bmiHeader.biSizeImage) << "100 pixels at 1 bit: 16-byte rows";
  EXPECT_EQ(40u + 8, LocalSize(info));
  LocalFree(info);
  DeleteObject(mono);

  HBITMAP rgb = CreateBitmap(10, 2, 1, 24, nullptr);
  info = BuildBitmapInfo(rgb);
  ASSERT_NE(nullptr, info);
  EXPECT_EQ(0u, info->bmiHeader.biClrUsed);
  EXPECT_EQ(64u, info->bmiHeader.biSizeImage) << "10 pixels at 24 bits: 32-byte rows";
  EXPECT_EQ(40u, LocalSize(info));
  LocalFree(info);
  DeleteObject(rgb);
  EXPECT_EQ(nullptr, BuildBitmapInfo(nullptr));
}

std::vector<DWORD> pieces;
void Record(DWORD n) { pieces.push_back(n); }

// 8 bits: a colour table of 256 entries, bfOffBits 1078; pixel rows in 4096-byte pieces.
TEST(BmpWriterTest, EightBitFileLayoutAndPieces) {
  HBITMAP bm = CreateBitmap(4097, 1, 1, 8, nullptr);
  ASSERT_NE(nullptr, bm);
  pieces.clear();
  SetBmpWriteObserver(&Record);
  std::remove("w8.bmp");
  EXPECT_EQ(0, WriteBMPfile("w8.bmp", bm));
  SetBmpWriteObserver(nullptr);
  std::vector<unsigned char> b = ReadBytes("w8.bmp");
  ASSERT_GT(b.size(), 1078u);
  EXPECT_EQ('B', b[0]);
  EXPECT_EQ('M', b[1]);
  EXPECT_EQ(1078u, U32(b, 10));
  EXPECT_EQ(b.size(), U32(b, 2));
  EXPECT_EQ(256u, U32(b, 14 + 32));
  ASSERT_EQ(4u, pieces.size());
  EXPECT_EQ(14u, pieces[0]);
  EXPECT_EQ(40u + 1024, pieces[1]);
  EXPECT_EQ(4096u, pieces[2]);  // 4097 pixels: rows of 4100 bytes
  EXPECT_EQ(4u, pieces[3]);
  DeleteObject(bm);
}

TEST(BmpWriterTest, ExactlyOnePieceAndAReplacedFile) {
  HBITMAP bm = CreateBitmap(1024, 1, 1, 32, nullptr);  // 4096 bytes of rows
  {
    std::ofstream out("w32.bmp");
    out << "old";
  }
  pieces.clear();
  SetBmpWriteObserver(&Record);
  EXPECT_EQ(0, WriteBMPfile("w32.bmp", bm));
  SetBmpWriteObserver(nullptr);
  ASSERT_EQ(3u, pieces.size());
  EXPECT_EQ(4096u, pieces[2]);
  EXPECT_EQ(54u + 4096, ReadBytes("w32.bmp").size());
  EXPECT_EQ(2, WriteBMPfile("w32.bmp", nullptr)) << "no bitmap to describe";
  EXPECT_EQ(8, WriteBMPfile("no-such-dir\\x.bmp", bm));
  DeleteObject(bm);
}

struct Dib {
  std::vector<unsigned char> bytes;
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()); }
};
Dib MakeDib(WORD bits, DWORD used) {
  Dib d;
  DWORD colors = used ? used : (bits < 12 ? 1u << bits : 0);
  d.bytes.assign(40 + 4 * colors + 64, 0);
  BITMAPINFOHEADER* h = d.header();
  h->biSize = 40;
  h->biWidth = 4;
  h->biHeight = 2;
  h->biPlanes = 1;
  h->biBitCount = bits;
  h->biClrUsed = used;
  RGBQUAD* t = reinterpret_cast<RGBQUAD*>(d.bytes.data() + 40);
  for (DWORD i = 0; i < colors; ++i) t[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
  return d;
}

dib::Layout LayoutOf(Dib& d) {
  dib::Layout l;
  EXPECT_EQ(dib::Fault::kNone, dib::Check(d.bytes.data(), d.bytes.size(), &l));
  return l;
}

TEST(PaletteTest, ColourCountsAndTables) {
  Dib one = MakeDib(1, 0), eight = MakeDib(8, 0), sixteen = MakeDib(8, 16), rgb = MakeDib(24, 0),
      quad = MakeDib(32, 0);
  EXPECT_EQ(2u, LayoutOf(one).colorCount);
  EXPECT_EQ(256u, LayoutOf(eight).colorCount);
  EXPECT_EQ(16u, LayoutOf(sixteen).colorCount);
  EXPECT_EQ(40u + 64, LayoutOf(sixteen).rowsOffset) << "rows after 16 entries";
  EXPECT_EQ(0u, LayoutOf(rgb).colorCount);
  EXPECT_EQ(0u, LayoutOf(quad).colorCount);
  EXPECT_EQ(40u, LayoutOf(quad).rowsOffset);

  HPALETTE p = BuildDIBPalette(eight.bytes.data(), LayoutOf(eight));
  ASSERT_NE(nullptr, p);
  PALETTEENTRY e[256];
  ASSERT_EQ(256u, GetPaletteEntries(p, 0, 256, e));
  EXPECT_EQ(3, e[7].peRed) << "blue-green-red becomes red-green-blue";
  EXPECT_EQ(255 - 7, e[7].peGreen);
  EXPECT_EQ(7, e[7].peBlue);
  DeleteObject(p);

  p = BuildDIBPalette(sixteen.bytes.data(), LayoutOf(sixteen));
  EXPECT_EQ(16u, GetPaletteEntries(p, 0, 0, nullptr));
  DeleteObject(p);

  p = BuildDIBPalette(rgb.bytes.data(), LayoutOf(rgb));
  ASSERT_EQ(256u, GetPaletteEntries(p, 0, 256, e));
  EXPECT_EQ(32, e[9].peRed);
  EXPECT_EQ(32, e[9].peGreen);
  EXPECT_EQ(0, e[9].peBlue);
  EXPECT_EQ(224, e[255].peRed);
  EXPECT_EQ(224, e[255].peGreen);
  EXPECT_EQ(192, e[255].peBlue);
  DeleteObject(p);
  EXPECT_EQ(nullptr, BuildDIBPalette(quad.bytes.data(), LayoutOf(quad)));
}

HGLOBAL ToGlobal(const Dib& d) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, d.bytes.size());
  std::memcpy(GlobalLock(h), d.bytes.data(), d.bytes.size());
  GlobalUnlock(h);
  return h;
}

TEST(DeviceBitmapTest, OneBitGivesAMonochromeBitmapAndNothingLeaks) {
  long gdi = GdiObjects();
  HGLOBAL dib = ToGlobal(MakeDib(1, 0));
  HBITMAP bm = static_cast<HBITMAP>(DIBToDeviceBitmap(dib));
  ASSERT_NE(nullptr, bm);
  BITMAP desc;
  ASSERT_NE(0, GetObjectA(bm, sizeof desc, &desc));
  EXPECT_EQ(1, desc.bmBitsPixel);
  EXPECT_EQ(4, desc.bmWidth);
  DeleteDeviceBitmap(bm);
  for (WORD bits : {8, 24, 32}) {
    HGLOBAL d = ToGlobal(MakeDib(bits, 0));
    void* b = DIBToDeviceBitmap(d);
    EXPECT_NE(nullptr, b) << bits;
    DeleteDeviceBitmap(b);
    GlobalFree(d);
  }
  GlobalFree(dib);
  EXPECT_EQ(nullptr, DIBToDeviceBitmap(nullptr));
  EXPECT_EQ(gdi, GdiObjects()) << "palettes and bitmaps are freed";
}

class WinScanTest : public ExtensionTest {};

// The GDI objects a scan makes (palette, device bitmap, device contexts) are gone when the
// call returns; the transferred DIB is freed (the fixture checks imageHandle).
TEST_F(WinScanTest, AScanLeavesNoGdiObjects) {
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"gdi.bmp\")"));  // first use sets up the display
  long gdi = GdiObjects();
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"gdi.bmp\")"));
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture)"));
  host->Fields().Set(host->Fields().FindVariable("p"), velmar::Value());  // the host's copy goes
  EXPECT_EQ(gdi, GdiObjects());
}

// The device bitmap has no resolution: the BMP takes the page's from the source's DIB (the
// virtual scanner's carries what was set, in pixels per metre), and a device bitmap handed
// over by the source gives none.
TEST_F(WinScanTest, TheBmpKeepsThePagesResolution) {
  ASSERT_EQ("0", Call("Twain.Connect()"));
  ASSERT_EQ(
      "0",
      Call("Twain.SetSourceCapability(\"XRESOLUTION\", 300, \"YRESOLUTION\", 150, \"FRAMES\", \"0,0,1,1\")"));
  std::remove("dpi.bmp");
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"dpi.bmp\")"));
  std::vector<unsigned char> b = ReadBytes("dpi.bmp");
  ASSERT_GT(b.size(), 54u);
  EXPECT_EQ(11811u, U32(b, 14 + 24)) << "300 dpi";
  EXPECT_EQ(5906u, U32(b, 14 + 28)) << "150 dpi";

  ASSERT_EQ(0, Scanner("native-bitmap"));
  std::remove("dpi.bmp");
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"dpi.bmp\")"));
  b = ReadBytes("dpi.bmp");
  ASSERT_GT(b.size(), 54u);
  EXPECT_EQ(0u, U32(b, 14 + 24));
  EXPECT_EQ(0u, U32(b, 14 + 28));
}

}  // namespace
}  // namespace kvtest
#endif
