// Delivery of a natively transferred image. The Mac hands its picture on as it came; on
// Windows the image becomes a device bitmap for the host window's display (a DIB converted,
// a device bitmap from the source taken as it is).
#include "acquire/image_output.h"

#include "acquire/image_platform.h"
#include "host/host_kit.h"

namespace {

// A picture starts with its size word and its frame: anything shorter is no picture.
constexpr uint32_t kPictureHeaderBytes = 10;

// Windows: replaces the image in imageHandle by its device bitmap (null when there is none).
template <typename G>
void ConvertToDeviceBitmap(G* g) {
  g->imageHandle = TakeDeviceBitmap(g->imageHandle);
}

template <typename G>
void ReleaseImage(G* g) {
  if constexpr (kWindowsBuild) {
    ReleaseSourceImage(g->imageHandle);  // a DIB, or a device bitmap
  } else {
    DisposeXPHandle(g->imageHandle);
  }
  g->imageHandle = nullptr;
}

// No bitmap, no file and no picture: the field keeps what it held and the call says why.
template <typename G>
int16_t WriteImage(G* g, const uint8_t* path) {
  int16_t r = kNoUsableImage;
  if constexpr (kWindowsBuild) {
    ConvertToDeviceBitmap(g);
    if (g->imageHandle) r = WriteBMPfile(reinterpret_cast<const char*>(path), g->imageHandle);
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
    if (!g->imageHandle) return kNoUsableImage;
  }
  SetFldVal(kFieldFirstParam, kValuePicture, &g->imageHandle, g->hostParams);
  ReleaseImage(g);
  return 0;
}

}  // namespace

void DisposeNativeImage(TwainGlobals* g) { ReleaseImage(g); }

int16_t AcceptNativeImage(TW_HANDLE* image) {
  bool usable = *image != nullptr;
  if constexpr (!kWindowsBuild) usable = usable && GetXPHandleSize(*image) >= kPictureHeaderBytes;
  if (usable) return 0;
  DisposeXPHandle(*image);
  *image = nullptr;
  return kNoUsableImage;
}

int16_t WriteImageToFile(TwainGlobals* g, const uint8_t* path) { return WriteImage(g, path); }
int16_t StoreImageInField(TwainGlobals* g) { return StoreImage(g); }
