// Shared between the stand-in's own files; not part of its interface.
// Every C entry point catches what its C++ throws (an allocation that failed) and answers the
// call's failure instead (null, false, 0, memFullErr), as the real C APIs never throw.
#pragma once
#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace imageio {

enum Kind : CFTypeID {
  kString = 7,
  kNumber = 22,
  kBoolean = 21,
  kDictionary = 18,
  kURL = 29,
  kData = 20,
  kColorSpace = 300,
  kDataProvider,
  kContext,
  kImage,
  kPict,
  kDestination,
  kSource
};

// Every object of the stand-in: a type and a reference count, registered while it lives.
// A freed object's memory is not handed back at once but kept in a quarantine of the last
// 65536 objects freed, so that no new object takes its address while a stale reference to
// it may still be about: such a reference is then known as freed.
struct Object {
  explicit Object(CFTypeID t);
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;
  CFTypeID type;
  long refs = 1;
  bool constant = false;  // CFSTR strings and the booleans: never freed
};

// The object behind ref when it is alive and of that type, else null: a question about a
// value (what a dictionary holds), never a check of what a caller passed.
Object* Alive(const void* ref);
template <class T>
T* As(const void* ref, CFTypeID type) {
  Object* o = Alive(ref);
  return o && o->type == type ? static_cast<T*>(o) : nullptr;
}

// The object a caller passed to `call` where one of `type` belongs (0: any type). NULL gives
// null, for the call to answer as the framework does; anything else that is not a live object
// of that type halts the process with a line naming the call and the fault: an object freed
// already (a release too many, or a use after the last release), an address that never was an
// object, an object of another type. Apple's frameworks read such an object as the type they
// expect, so on a Mac these are crashes or worse (see objects.cpp).
Object* Checked(const void* ref, CFTypeID type, const char* call);
template <class T>
T* Checked(const void* ref, CFTypeID type, const char* call) {
  return static_cast<T*>(Checked(ref, type, call));
}
// The same for CoreFoundation's own functions, which take no NULL either.
Object* CheckedCF(const void* ref, CFTypeID type, const char* call);
template <class T>
T* CheckedCF(const void* ref, CFTypeID type, const char* call) {
  return static_cast<T*>(CheckedCF(ref, type, call));
}
// CFRelease without the NULL halt; what is not a live object halts as in Checked.
void Release(const void* ref, const char* call = "CFRelease");

// The per-type retain and release functions (CGImageRetain, QDPictRelease, ...): CFRetain and
// CFRelease that take NULL and do nothing with it, and halt on an object of another type.
template <class Ref>
Ref RetainUnlessNull(Ref ref, CFTypeID type, const char* call) {
  if (Checked(ref, type, call)) CFRetain(ref);
  return ref;
}
inline void ReleaseUnlessNull(const void* ref, CFTypeID type = 0, const char* call = "CFRelease") {
  if (Checked(ref, type, call)) Release(ref, call);
}

struct String : Object {
  String() : Object(kString) {}
  std::string text;
};
struct Number : Object {
  Number() : Object(kNumber) {}
  double value = 0;
};
struct Dictionary : Object {
  Dictionary() : Object(kDictionary) {}
  ~Dictionary() override;
  CFDictionaryKeyCallBacks keys = {};  // all NULL: unretained, compared by pointer
  CFDictionaryValueCallBacks values = {};
  bool isMutable = true;
  std::vector<std::pair<const void*, const void*>> items;
  // The entry whose key equals `key` under the key callbacks (the same pointer, or equal
  // hashes and equal), or NULL.
  std::pair<const void*, const void*>* Slot(const void* key);
  const void* Find(const void* key) {
    auto* s = Slot(key);
    return s ? s->second : nullptr;
  }
};
struct Data : Object {
  Data() : Object(kData) {}
  std::vector<uint8_t> bytes;
  CFIndex capacity = 0;    // 0: without a limit
  bool isMutable = false;  // made by CFDataCreateMutable
};
struct URL : Object {
  URL() : Object(kURL) {}
  std::string path;
};

// Reads the value of dict[key] when it is a CFNumber; false when absent or anything else (a
// CFBoolean too: the properties ImageIO reads as numbers are CFNumbers).
bool NumberIn(CFDictionaryRef dict, CFStringRef key, double* value);
std::string TextOf(CFStringRef s);  // "" for anything that is no string

struct ColorSpace : Object {
  ColorSpace() : Object(kColorSpace) {}
  int components = 0;  // 1 grey, 3 RGB
};
struct DataProvider : Object {
  DataProvider() : Object(kDataProvider) {}
  ~DataProvider() override;
  void* info = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  CGDataProviderReleaseDataCallback release = nullptr;
};

// Pixels as CoreGraphics lays them out: `components` colour components (1 grey, 3 RGB) of
// bitsPerComponent bits (1, 2, 4, 5, 8, 16 or 32; 32 also as floats), and an alpha or
// skipped bits, first or last in the pixel; the pixel's (or the component's) 16- or 32-bit
// words big-endian, or little-endian when wordBytes is 2 or 4.
struct PixelLayout {
  size_t width = 0, height = 0, bitsPerComponent = 8, bitsPerPixel = 8, bytesPerRow = 0;
  int components = 1;
  bool skipFirst = false;  // the alpha or skipped bits come first
  CGImageAlphaInfo alpha = kCGImageAlphaNone;
  bool floats = false;
  size_t wordBytes = 0;
  bool decoded = false;  // decode[2c], decode[2c + 1]: what component c's 0 and 1 mean
  float decode[6] = {};
  // True when the pixels' bytes are the file's: 1-bit grey, 8-bit grey, 8-bit RGB (24 or 32
  // bits with a skipped byte), nothing to decode, no alpha, no byte swapping.
  bool Plain() const {
    return (bitsPerComponent == 8 || (bitsPerComponent == 1 && components == 1)) && !floats && !wordBytes &&
           !decoded &&
           (alpha == kCGImageAlphaNone || alpha == kCGImageAlphaNoneSkipFirst ||
            alpha == kCGImageAlphaNoneSkipLast);
  }
  bool HasAlpha() const {
    return alpha != kCGImageAlphaNone && alpha != kCGImageAlphaNoneSkipFirst &&
           alpha != kCGImageAlphaNoneSkipLast;
  }
  bool Premultiplied() const {
    return alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaPremultipliedLast;
  }
};
struct Context : Object {
  Context() : Object(kContext) {}
  PixelLayout layout;
  uint8_t* data = nullptr;  // the caller's
  uint8_t fill[3] = {0, 0, 0};
  uint8_t fillAlpha = 255;
};
struct Image : Object {
  Image() : Object(kImage) {}
  ~Image() override;
  PixelLayout layout;
  std::vector<uint8_t> pixels;       // a copy (from a context or a decoded file), or
  DataProvider* provider = nullptr;  // the provider's bytes, retained
  const uint8_t* Bytes() const { return provider ? provider->data : pixels.data(); }
};

// Pixel (x, y) as drawing sees it: red, green and blue (grey repeated) from 0 to 1, decoded,
// premultiplied by the alpha when the layout's are; the alpha (1 without one).
void ReadPixel(const PixelLayout& l, const uint8_t* bytes, size_t x, size_t y, double rgb[3], double* alpha);
// The sample of colour component c of pixel (x, y) as it shows over white, 0..255 (1-bit:
// 0 or 255): what ImageIO writes into a file without alpha.
uint8_t Sample(const PixelLayout& l, const uint8_t* bytes, size_t x, size_t y, int c);
// Stores a colour (0..255, premultiplied by `alpha`) as pixel `col` of a context's row: grey
// by luminance (0.299 R + 0.587 G + 0.114 B, rounded), or the three components in the
// layout's bits; the alpha where the layout keeps one. Skipped bits are left as they are.
void StorePixel(const PixelLayout& l, uint8_t* row, size_t col, const uint8_t* rgb, uint8_t alpha = 255);
// The bits a file keeps of each sample of the image (ImageIO writes 1-bit grey as it is,
// everything else with 8 bits a component).
inline size_t FileBits(const PixelLayout& l) {
  return l.bitsPerComponent == 1 && l.components == 1 && !l.HasAlpha() ? 1 : 8;
}

// Files.
bool WritePng(const std::string& path, const Image& image, double xDpi, double yDpi);
bool WriteJpeg(const std::string& path, const Image& image, double xDpi, double yDpi, double quality);
bool WriteBmp(const std::string& path, const Image& image, double xDpi, double yDpi);
struct TiffPage {
  const Image* image;
  double xDpi, yDpi;
  int compression;
};
// Writes pages one after another; `next` gives page i (it may decode it now) and `done`
// drops it again, so that one page at a time is held.
struct TiffFeed {
  virtual ~TiffFeed() = default;
  virtual bool Page(size_t i, TiffPage* page) = 0;
  virtual void Done(size_t i) = 0;
};
bool WriteTiff(const std::string& path, size_t count, TiffFeed& feed);
// Reads a TIFF's page count, and one page as an image (grey 1 or 8 bits, or RGB 24 bits).
size_t TiffPageCount(const std::string& path);
// *compression: the page's TIFF compression (may be null).
Image* ReadTiffPage(const std::string& path, size_t index, double* xDpi, double* yDpi, int* compression);
// A JPEG stream's image (grey 8 bits or RGB 24 bits) and its density in dots per inch (72
// when it gives none); null for bytes that are no JPEG stream.
Image* ReadJpeg(const std::vector<uint8_t>& bytes, double* xDpi, double* yDpi);
void NotePixelsHeld(long delta);

}  // namespace imageio
