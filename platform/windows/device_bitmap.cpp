// From the source's packed DIB to a device bitmap, with the DIB's palette realised in the
// window's device context while the bitmap is made.
#include <cstring>

#include "acquire/image_platform.h"
#include "platform/windows/bitmaps.h"

DWORD CountDIBColors(const BITMAPINFOHEADER* header) {
  WORD bits;
  if (header->biSize == sizeof(BITMAPCOREHEADER)) {
    bits = reinterpret_cast<const BITMAPCOREHEADER*>(header)->bcBitCount;
  } else {
    if (header->biClrUsed != 0) return header->biClrUsed;
    bits = header->biBitCount;
  }
  return bits < 12 ? (1u << bits) : 0;
}

HPALETTE BuildDIBPalette(const BITMAPINFOHEADER* header) {
  if (header->biSize != sizeof(BITMAPINFOHEADER)) return nullptr;
  DWORD colors = CountDIBColors(header);
  DWORD entries;
  if (colors > 0) {
    entries = colors;
  } else if (header->biBitCount == 24) {
    entries = 256;
  } else {
    return nullptr;
  }
  if (entries > 0xFFFF) return nullptr;
  HGLOBAL block = GlobalAlloc(GHND, 8 + 4 * entries);
  if (!block) return nullptr;
  LOGPALETTE* pal = static_cast<LOGPALETTE*>(GlobalLock(block));
  if (!pal) {
    GlobalFree(block);
    return nullptr;
  }
  pal->palVersion = 0x300;
  pal->palNumEntries = static_cast<WORD>(entries);
  const RGBQUAD* table =
      reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const uint8_t*>(header) + header->biSize);
  for (DWORD i = 0; i < entries; ++i) {
    PALETTEENTRY& e = pal->palPalEntry[i];
    if (colors > 0) {
      e.peRed = table[i].rgbRed;
      e.peGreen = table[i].rgbGreen;
      e.peBlue = table[i].rgbBlue;
    } else {
      e.peRed = static_cast<BYTE>(32 * (i % 8));
      e.peGreen = static_cast<BYTE>(32 * ((i / 8) % 8));
      e.peBlue = static_cast<BYTE>(64 * (i / 64));
    }
    e.peFlags = 0;
  }
  HPALETTE palette = CreatePalette(pal);
  GlobalUnlock(block);
  GlobalFree(block);
  return palette;
}

void* DIBToDeviceBitmap(void* dib) {
  if (!dib) return nullptr;
  BITMAPINFOHEADER* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
  if (!header) return nullptr;
  // Only the 40-byte header is converted; a core header is refused.
  if (header->biSize != sizeof(BITMAPINFOHEADER)) {
    GlobalUnlock(dib);
    return nullptr;
  }
  const void* rows = reinterpret_cast<const uint8_t*>(header) + header->biSize + 4 * CountDIBColors(header);
  HWND window = KvHostWindow();
  HDC dc = GetDC(window);
  HPALETTE palette = BuildDIBPalette(header);
  HPALETTE previous = nullptr;
  if (palette && dc) {
    previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  HBITMAP bitmap = nullptr;
  const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(header);
  if (header->biBitCount == 1) {
    bitmap = CreateBitmap(header->biWidth, header->biHeight, 1, 1, rows);
    if (bitmap) SetDIBits(dc, bitmap, 0, header->biHeight, rows, info, DIB_RGB_COLORS);
  } else if (dc) {
    bitmap = CreateDIBitmap(dc, header, CBM_INIT, rows, info, DIB_RGB_COLORS);
  }
  GlobalUnlock(dib);
  if (dc) {
    // The palette is deselected before it goes, so that deleting it really frees it.
    if (previous) SelectPalette(dc, previous, FALSE);
    ReleaseDC(window, dc);
  }
  if (palette) DeleteObject(palette);
  return bitmap;
}

void DeleteDeviceBitmap(void* bitmap) {
  if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
}
