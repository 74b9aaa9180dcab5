// Delivery of a natively transferred image. The Mac hands its picture on as it came; the
// Windows DIB first becomes a device bitmap for the host window's display.
#include "acquire/image_output.h"

#include "acquire/image_platform.h"
#include "host/host_kit.h"
#include "twain/result_codes.h"

namespace {

// Windows: replaces the DIB in imageHandle by its device bitmap (null when the conversion
// failed). The DIB is freed either way.
template <typename G>
void ConvertToDeviceBitmap(G* g) {
  void* bitmap = DIBToDeviceBitmap(g->imageHandle);
  DisposeXPHandle(g->imageHandle);
  g->imageHandle = bitmap;
}

template <typename G>
void ReleaseImage(G* g) {
  if constexpr (kWindowsBuild) {
    if (g->imageHandle) DeleteDeviceBitmap(g->imageHandle);
  } else {
    DisposeXPHandle(g->imageHandle);
  }
  g->imageHandle = nullptr;
}

template <typename G>
int16_t WriteImage(G* g, const uint8_t* path) {
  int16_t r;
  if constexpr (kWindowsBuild) {
    ConvertToDeviceBitmap(g);
    r = WriteBMPfile(reinterpret_cast<const char*>(path), g->imageHandle);
  } else {
    r = WritePICTfile(path, g->imageHandle);
  }
  ReleaseImage(g);
  return r;
}

template <typename G>
int16_t StoreImage(G* g) {
  if constexpr (kWindowsBuild) {
    ConvertToDeviceBitmap(g);
    // No bitmap, no picture: the field keeps what it held and the call says why.
    if (!g->imageHandle) return kResultNoMemory;
  }
  SetFldVal(kFieldFirstParam, kValuePicture, &g->imageHandle, g->hostParams);
  ReleaseImage(g);
  return 0;
}

}  // namespace

int16_t WriteImageToFile(TwainGlobals* g, const uint8_t* path) { return WriteImage(g, path); }
int16_t StoreImageInField(TwainGlobals* g) { return StoreImage(g); }
