// A BMP file from a device bitmap: GetDIBits fills the header and colour table built from
// the bitmap's description; the pixel rows go out in pieces of 4096 bytes. An existing file
// is replaced; a file that could not be written whole is deleted again.
#include <cstring>

#include "image/image_platform.h"
#include "platform/windows/bitmaps.h"
#include "twain/result_codes.h"

namespace {

void (*writeObserver)(DWORD) = nullptr;

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  if (writeObserver) writeObserver(size);
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

}  // namespace

void SetBmpWriteObserver(void (*observer)(DWORD)) { writeObserver = observer; }

int ColorDepthClass(WORD planes, WORD bitsPixel) {
  WORD d = static_cast<WORD>(planes * bitsPixel);
  if (d == 1) return 1;
  if (d <= 4) return 4;
  if (d <= 8) return 8;
  if (d <= 16) return 16;
  if (d <= 24) return 24;
  return 32;
}

BITMAPINFO* BuildBitmapInfo(HBITMAP bitmap) {
  BITMAP bm;
  if (!bitmap || GetObjectA(bitmap, sizeof bm, &bm) == 0) return nullptr;
  int depth = ColorDepthClass(bm.bmPlanes, bm.bmBitsPixel);
  DWORD colors = depth < 24 ? (1u << depth) : 0;
  BITMAPINFO* info = static_cast<BITMAPINFO*>(LocalAlloc(LPTR, sizeof(BITMAPINFOHEADER) + 4 * colors));
  if (!info) return nullptr;
  BITMAPINFOHEADER& h = info->bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = bm.bmWidth;
  h.biHeight = bm.bmHeight;
  h.biPlanes = bm.bmPlanes;
  h.biBitCount = bm.bmBitsPixel;
  h.biCompression = BI_RGB;
  DWORD stride = ((static_cast<DWORD>(bm.bmWidth) * depth + 31) / 32) * 4;
  h.biSizeImage = stride * static_cast<DWORD>(bm.bmHeight);
  h.biClrUsed = colors;
  return info;
}

int16_t SaveBitmapFile(const char* name, BITMAPINFO* info, HBITMAP bitmap, HDC dc, PageResolution resolution) {
  BITMAPINFOHEADER& h = info->bmiHeader;
  const DWORD pixelBytes = h.biSizeImage;
  const DWORD tableRoom = (static_cast<DWORD>(LocalSize(info)) - sizeof(BITMAPINFOHEADER)) / 4;
  HGLOBAL pixels = GlobalAlloc(GMEM_FIXED, pixelBytes);
  if (!pixels) return kResultUnusablePage;
  int16_t result = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(h.biHeight), pixels, info, DIB_RGB_COLORS) == 0) {
    result = kResultFileError;
  } else {
    file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE) result = kResultFileError;
  }
  if (result == 0) {
    // What GetDIBits left in the header counts, within the block and buffer we gave it.
    if (h.biClrUsed == 0 && h.biBitCount <= 8) h.biClrUsed = 1u << h.biBitCount;  // a full table
    if (h.biClrUsed > tableRoom) h.biClrUsed = tableRoom;
    if (h.biSizeImage == 0 || h.biSizeImage > pixelBytes) h.biSizeImage = pixelBytes;
    // The device bitmap has no resolution: the page's own goes into the header.
    h.biXPelsPerMeter = resolution.xPelsPerMeter > 0 ? resolution.xPelsPerMeter : 0;
    h.biYPelsPerMeter = resolution.yPelsPerMeter > 0 ? resolution.yPelsPerMeter : 0;
    DWORD tableBytes = 4 * h.biClrUsed;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableBytes;
    fh.bfSize = fh.bfOffBits + h.biSizeImage;
    if (!WriteAll(file, &fh, sizeof fh) || !WriteAll(file, info, sizeof(BITMAPINFOHEADER) + tableBytes)) {
      result = kResultFileError;
    }
    const uint8_t* at = static_cast<const uint8_t*>(pixels);
    DWORD left = h.biSizeImage;
    while (result == 0 && left > kBmpWritePiece) {
      if (!WriteAll(file, at, kBmpWritePiece)) result = kResultFileError;
      at += kBmpWritePiece;
      left -= kBmpWritePiece;
    }
    if (result == 0 && !WriteAll(file, at, left)) result = kResultFileError;
  }
  if (file != INVALID_HANDLE_VALUE) {
    if (!CloseHandle(file)) result = kResultFileError;
    if (result != 0) DeleteFileA(name);
  }
  GlobalFree(pixels);
  return result;
}

int16_t WriteBMPfile(const char* name, void* bitmap, PageResolution resolution) {
  HWND window = KvHostWindow();
  HDC dc = GetDC(window);
  BITMAPINFO* info = BuildBitmapInfo(static_cast<HBITMAP>(bitmap));
  int16_t result = info ? SaveBitmapFile(name, info, static_cast<HBITMAP>(bitmap), dc, resolution) : 2;
  if (dc) ReleaseDC(window, dc);
  if (info) LocalFree(info);
  return result;
}
