// Delivery of a natively transferred image. The Mac hands its picture on as it came; on
// Windows the image becomes a device bitmap for the host window's display (a DIB converted,
// a device bitmap from the source taken as it is).
#include "pages/page_delivery.h"

#include "host/host_kit.h"
#include "image/image_platform.h"

namespace {
// A picture starts with its size word and its frame: anything shorter is no picture.
constexpr uint32_t kPictureHeaderBytes = 10;
}  // namespace

void DisposeNativeImage(TwainGlobals* g) {
  if constexpr (kWindowsBuild) {
    ReleaseSourceImage(g->imageHandle);  // a DIB, or a device bitmap
  } else {
    DisposeXPHandle(g->imageHandle);
  }
  g->imageHandle = nullptr;
}

int16_t AcceptNativeImage(TW_HANDLE* image) {
  bool usable = *image != nullptr;
  if constexpr (!kWindowsBuild) usable = usable && GetXPHandleSize(*image) >= kPictureHeaderBytes;
  if (usable) return 0;
  DisposeXPHandle(*image);
  *image = nullptr;
  return kResultUnusablePage;
}

// No bitmap, no file and no picture: the field keeps what it held and the call says why.
// Windows: the image in imageHandle is replaced by its device bitmap (null when there is none).
int16_t WriteImageToFile(TwainGlobals* g, const uint8_t* path) {
  int16_t r = kResultUnusablePage;
  if constexpr (kWindowsBuild) {
    PageResolution resolution = DibResolution(g->imageHandle);
    g->imageHandle = TakeDeviceBitmap(g->imageHandle);
    if (g->imageHandle) r = WriteBMPfile(reinterpret_cast<const char*>(path), g->imageHandle, resolution);
  } else {
    r = WritePICTfile(path, g->imageHandle);
  }
  DisposeNativeImage(g);
  return r;
}

int16_t StoreImageInField(TwainGlobals* g) {
  if constexpr (kWindowsBuild) {
    g->imageHandle = TakeDeviceBitmap(g->imageHandle);
    if (!g->imageHandle) return kResultUnusablePage;
  }
  SetFldVal(kFieldFirstParam, kValuePicture, &g->imageHandle, g->hostParams);
  DisposeNativeImage(g);
  return 0;
}
