#include "tests/support/test_pages.h"

#include <cstring>

#if KV_WINDOWS_BUILD
#include <windows.h>
#else
#include <Carbon/Carbon.h>
#endif

namespace kvtest {

void* NativeImage(const std::vector<uint8_t>& bytes) {
#if KV_WINDOWS_BUILD
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
#else
  Handle h = NewHandle(static_cast<Size>(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  return h;
#endif
}

void* NativeImage(const vscan::Raster& r) {
  return NativeImage(kWindowsBuild ? vscan::EncodeDIB(r) : vscan::EncodePICT(r));
}

void FreeImage(void* image) {
#if KV_WINDOWS_BUILD
  GlobalFree(image);
#else
  DisposeHandle(static_cast<Handle>(image));
#endif
}

PageFacts FactsOf(const vscan::Raster& r) {
  PageFacts f;
  f.pixelType = r.bitsPerPixel == 1 ? TWPT_BW : (r.bitsPerPixel == 8 ? TWPT_GRAY : TWPT_RGB);
  f.width = r.width;
  f.height = r.height;
  f.xResolution = r.xres;
  f.yResolution = r.yres;
  return f;
}

vscan::Raster Chart(int pixelType, double xDpi, double yDpi, double right, double bottom) {
  vscan::ScanSettings s;
  s.pixelType = pixelType;
  s.xres = xDpi;
  s.yres = yDpi;
  s.left = 0.5;
  s.top = 1;
  s.right = right;
  s.bottom = bottom;
  return vscan::RenderPage(s);
}

std::vector<uint8_t> HostName(const std::string& name) {
  std::vector<uint8_t> path;
  if (!kWindowsBuild) path.push_back(static_cast<uint8_t>(name.size()));
  path.insert(path.end(), name.begin(), name.end());
  path.push_back(0);
  return path;
}

}  // namespace kvtest
