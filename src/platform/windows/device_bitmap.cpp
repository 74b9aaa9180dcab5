// From the source's image to a device bitmap for the host window's display. A packed DIB is
// first checked against its block (dib_check.h); the conversion then reads only what the
// check found, through a BITMAPINFO of our own, and its result must be a bitmap of the
// image's size. A source that hands over a device bitmap itself gives it as it is.
#include <cstring>

#include "host/host_kit.h"
#include "image/image_platform.h"
#include "platform/windows/bitmaps.h"

namespace {

// The 40-byte header GDI is given, followed by the masks or the colour table.
struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

void FillInfo(const uint8_t* dib, const dib::Layout& l, DibInfo* info) {
  std::memset(info, 0, sizeof *info);
  BITMAPINFOHEADER& h = info->header;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = static_cast<LONG>(l.width);
  h.biHeight = l.topDown ? -static_cast<LONG>(l.height) : static_cast<LONG>(l.height);
  h.biPlanes = 1;
  h.biBitCount = l.bitCount;
  h.biCompression = l.compression;
  h.biSizeImage = l.rowsSize;
  if (l.compression == dib::kBitfields) {
    std::memcpy(info->colors, l.masks, sizeof l.masks);
  } else if (l.bitCount <= 8) {
    // A table of the core header's RGBTRIPLEs becomes RGBQUADs; the count is at most 256 here.
    h.biClrUsed = l.colorCount;
    const uint8_t* entry = dib + l.tableOffset;
    for (DWORD i = 0; i < l.colorCount; ++i, entry += l.tableEntrySize)
      info->colors[i] = RGBQUAD{entry[0], entry[1], entry[2], 0};
  }
}

// What the conversion made must be a bitmap of the image's size (GDI hands out its stock
// 1x1 bitmap, or under Wine an error value, where a DIB did not suit it).
HBITMAP KeepIfImageSized(HBITMAP bitmap, const dib::Layout& l) {
  if (!bitmap) return nullptr;
  BITMAP bm;
  if (GetObjectType(bitmap) != OBJ_BITMAP) return nullptr;
  if (GetObjectA(bitmap, sizeof bm, &bm) == sizeof bm && static_cast<DWORD>(bm.bmWidth) == l.width &&
      static_cast<DWORD>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight) == l.height) {
    return bitmap;
  }
  DeleteObject(bitmap);  // does nothing to a stock object
  return nullptr;
}

HBITMAP MakeBitmap(HDC dc, const dib::Layout& l, const DibInfo& info, const void* rows) {
  const BITMAPINFO* bmi = reinterpret_cast<const BITMAPINFO*>(&info);
  if (l.bitCount == 1) {
    HBITMAP bitmap = CreateBitmap(static_cast<int>(l.width), static_cast<int>(l.height), 1, 1, rows);
    if (!bitmap) return nullptr;
    if (SetDIBits(dc, bitmap, 0, l.height, rows, bmi, DIB_RGB_COLORS) != static_cast<int>(l.height)) {
      DeleteObject(bitmap);
      return nullptr;
    }
    return bitmap;
  }
  if (!dc) return nullptr;
  return CreateDIBitmap(dc, &info.header, CBM_INIT, rows, bmi, DIB_RGB_COLORS);
}

}  // namespace

HPALETTE BuildDIBPalette(const uint8_t* dib, const dib::Layout& l) {
  if (l.headerSize != dib::kInfoHeader) return nullptr;
  const DWORD colors = l.colorCount;
  DWORD entries;
  if (colors > 0) {
    entries = colors;
  } else if (l.bitCount == 24) {
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
  const RGBQUAD* table = reinterpret_cast<const RGBQUAD*>(dib + l.tableOffset);
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
  const uint8_t* bytes = static_cast<const uint8_t*>(LockXPHandle(dib));
  if (!bytes) return nullptr;
  dib::Layout layout;
  if (dib::Check(bytes, GlobalSize(dib), &layout) != dib::Fault::kNone) {
    UnlockXPHandle(dib);
    return nullptr;
  }
  DibInfo info;
  FillInfo(bytes, layout, &info);
  HWND window = KvHostWindow();
  HDC dc = GetDC(window);
  HPALETTE palette = BuildDIBPalette(bytes, layout);
  HPALETTE previous = nullptr;
  if (palette && dc) {
    previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  HBITMAP bitmap = KeepIfImageSized(MakeBitmap(dc, layout, info, bytes + layout.rowsOffset), layout);
  UnlockXPHandle(dib);
  if (dc) {
    // The palette is deselected before it goes, so that deleting it really frees it.
    if (previous) SelectPalette(dc, previous, FALSE);
    ReleaseDC(window, dc);
  }
  if (palette) DeleteObject(palette);
  return bitmap;
}

PageResolution DibResolution(void* image) {
  PageResolution r;
  if (!image || GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP) return r;
  const uint8_t* bytes = static_cast<const uint8_t*>(LockXPHandle(image));
  if (!bytes) return r;
  dib::Layout layout;
  if (dib::Check(bytes, GlobalSize(image), &layout) == dib::Fault::kNone &&
      layout.headerSize >= dib::kInfoHeader) {
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
    r.xPelsPerMeter = h->biXPelsPerMeter;
    r.yPelsPerMeter = h->biYPelsPerMeter;
  }
  UnlockXPHandle(image);
  return r;
}

namespace {
bool IsDeviceBitmap(void* image) { return image && GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP; }
}  // namespace

void* TakeDeviceBitmap(void* image) {
  if (!image || IsDeviceBitmap(image)) return image;
  void* bitmap = DIBToDeviceBitmap(image);
  DisposeXPHandle(image);
  return bitmap;
}

void ReleaseSourceImage(void* image) {
  if (IsDeviceBitmap(image)) {
    DeleteObject(static_cast<HGDIOBJ>(image));
  } else if (image) {
    DisposeXPHandle(image);
  }
}

void DeleteDeviceBitmap(void* bitmap) {
  if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
}
