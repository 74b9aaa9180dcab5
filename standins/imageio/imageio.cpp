// ImageIO's image destinations and sources. A destination is created with the number of
// images it will hold; images are kept (retained, not drawn) until
// CGImageDestinationFinalize writes the file with libpng, libjpeg-turbo, libtiff or the BMP
// writer of codecs.cpp. Only a TIFF destination is made for more than one image: PNG, JPEG
// and BMP files hold one. A source reads a TIFF file's pages, one at a
// time when asked (this stand-in's sources know TIFF only); a page added from a source keeps
// its resolution and compression unless the properties given with it say otherwise.
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <mutex>
#include <string>
#include <vector>

#include "ImageIOStandin.h"
#include "standins/imageio/internal.h"

using namespace imageio;

namespace {

std::mutex gFaultLock;
long gFailFinalizeAt = 0;
long gHeld = 0, gPeak = 0;

bool FinalizeFails() {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gFailFinalizeAt > 0 && --gFailFinalizeAt == 0;
}

enum class FileType { kPng, kJpeg, kTiff, kBmp };

struct Source;

// One image of a destination: an image, or page `index` of a source.
struct Entry {
  Image* image = nullptr;
  Source* source = nullptr;
  size_t index = 0;
  CFDictionaryRef properties = nullptr;
};

struct Destination : Object {
  Destination() : Object(kDestination) {}
  ~Destination() override;
  std::string path;
  Data* data = nullptr;  // a destination into memory: retained, filled by Finalize
  FileType fileType = FileType::kPng;
  size_t count = 0;
  std::vector<Entry> entries;
  CFDictionaryRef properties = nullptr;
  bool finalized = false;
};

// A file's images (its path), or a JPEG stream's image in memory (its bytes).
struct Source : Object {
  Source() : Object(kSource) {}
  std::string path;
  std::vector<uint8_t> jpeg;
  size_t count = 0;
};

Destination::~Destination() {
  for (Entry& e : entries) {
    if (e.image) Release(e.image);
    if (e.source) Release(e.source);
    if (e.properties) Release(e.properties);
  }
  if (properties) Release(properties);
  if (data) Release(data);
}

// A property of the image's own dictionary, else of the destination's.
bool Property(const Destination& d, const Entry& e, CFStringRef key, double* value) {
  return NumberIn(e.properties, key, value) || NumberIn(d.properties, key, value);
}

// The compression asked for; a page from a source keeps its own unless asked otherwise.
int TiffCompression(const Destination& d, const Entry& e, int sourceCompression) {
  for (CFDictionaryRef dict : {e.properties, d.properties}) {
    if (!dict) continue;
    double v;
    if (NumberIn(static_cast<CFDictionaryRef>(CFDictionaryGetValue(dict, kCGImagePropertyTIFFDictionary)),
                 kCGImagePropertyTIFFCompression, &v)) {
      return static_cast<int>(v);
    }
  }
  return e.source ? sourceCompression : 1;
}

// Feeds a destination's entries to the TIFF writer, decoding a source's page only while it
// is written.
class EntryFeed : public TiffFeed {
 public:
  explicit EntryFeed(const Destination& d) : d_(d) {}
  ~EntryFeed() override { Drop(); }
  bool Page(size_t i, TiffPage* page) override {
    const Entry& e = d_.entries[i];
    double x = 0, y = 0;
    const Image* image = e.image;
    int sourceCompression = 1;
    if (e.source) {
      decoded_ = ReadTiffPage(e.source->path, e.index, &x, &y, &sourceCompression);
      if (!decoded_) return false;
      NotePixelsHeld(static_cast<long>(decoded_->layout.width * decoded_->layout.height));
      image = decoded_;
    }
    double v;
    if (Property(d_, e, kCGImagePropertyDPIWidth, &v)) x = v;
    if (Property(d_, e, kCGImagePropertyDPIHeight, &v)) y = v;
    *page = TiffPage{image, x > 0 ? x : 72, y > 0 ? y : 72, TiffCompression(d_, e, sourceCompression)};
    return true;
  }
  void Done(size_t) override { Drop(); }

 private:
  void Drop() {
    if (!decoded_) return;
    NotePixelsHeld(-static_cast<long>(decoded_->layout.width * decoded_->layout.height));
    Release(decoded_);
    decoded_ = nullptr;
  }
  const Destination& d_;
  Image* decoded_ = nullptr;
};

bool WriteDestination(Destination& d) {
  if (d.fileType == FileType::kTiff) {
    EntryFeed feed(d);
    return WriteTiff(d.path, d.entries.size(), feed);
  }
  const Entry& e = d.entries[0];
  double x = 72, y = 72, quality = 0.75, v;  // unstated: 72 dpi; JPEG quality 0.75
  if (Property(d, e, kCGImagePropertyDPIWidth, &v) && v > 0) x = v;
  if (Property(d, e, kCGImagePropertyDPIHeight, &v) && v > 0) y = v;
  if (Property(d, e, kCGImageDestinationLossyCompressionQuality, &v)) quality = v;
  switch (d.fileType) {
    case FileType::kPng:
      return WritePng(d.path, *e.image, x, y);
    case FileType::kBmp:
      return WriteBmp(d.path, *e.image, x, y);
    default:
      return WriteJpeg(d.path, *e.image, x, y, quality);
  }
}

// A full disk during the write: half of what would have been written stays.
void CutFileInHalf(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fclose(f);
  if (truncate(path.c_str(), size / 2) != 0) std::fprintf(stderr, "ImageIO stand-in: truncate failed\n");
}

}  // namespace

namespace imageio {
void NotePixelsHeld(long delta) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gHeld += delta;
  if (gHeld > gPeak) gPeak = gHeld;
}
}  // namespace imageio

extern "C" {

const CFStringRef kCGImagePropertyDPIWidth = CFSTR("DPIWidth");
const CFStringRef kCGImagePropertyDPIHeight = CFSTR("DPIHeight");
const CFStringRef kCGImagePropertyTIFFDictionary = CFSTR("{TIFF}");
const CFStringRef kCGImagePropertyTIFFCompression = CFSTR("Compression");
const CFStringRef kCGImageDestinationLossyCompressionQuality =
    CFSTR("kCGImageDestinationLossyCompressionQuality");
const CFStringRef kUTTypePNG = CFSTR("public.png");
const CFStringRef kUTTypeJPEG = CFSTR("public.jpeg");
const CFStringRef kUTTypeTIFF = CFSTR("public.tiff");
const CFStringRef kUTTypeBMP = CFSTR("com.microsoft.bmp");

CFTypeID CGImageDestinationGetTypeID(void) { return kDestination; }

}  // extern "C"

namespace {

// A destination of a type this stand-in writes, for `count` images; null for another type,
// and for more images than a file of the type holds (one, but for TIFF).
Destination* NewDestination(CFStringRef type, size_t count) {
  const std::string t = TextOf(type);
  FileType fileType;
  if (t == "public.png") {
    fileType = FileType::kPng;
  } else if (t == "public.jpeg") {
    fileType = FileType::kJpeg;
  } else if (t == "public.tiff") {
    fileType = FileType::kTiff;
  } else if (t == "com.microsoft.bmp") {
    fileType = FileType::kBmp;
  } else {
    return nullptr;
  }
  if (count == 0 || (count > 1 && fileType != FileType::kTiff)) return nullptr;
  auto* d = new Destination;
  d->fileType = fileType;
  d->count = count;
  return d;
}

// A destination into memory is written through a file of its own, read back into the data.
bool WriteIntoData(Destination& d) {
  char name[] = "/tmp/imageio-data-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  close(fd);
  d.path = name;
  bool written = WriteDestination(d);
  FILE* f = written ? std::fopen(name, "rb") : nullptr;
  if (f) {
    uint8_t piece[65536];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0)
      d.data->bytes.insert(d.data->bytes.end(), piece, piece + n);
    written = !std::ferror(f);
    std::fclose(f);
  }
  unlink(name);
  return written;
}

}  // namespace

extern "C" {

CGImageDestinationRef CGImageDestinationCreateWithURL(CFURLRef url, CFStringRef type, size_t count,
                                                      CFDictionaryRef options) try {
  auto* u = Checked<URL>(url, kURL, __func__);
  Checked(type, kString, __func__);
  Checked(options, kDictionary, __func__);
  if (!u) return nullptr;
  std::string path(u->path);  // before the destination exists: nothing to free should it throw
  Destination* d = NewDestination(type, count);
  if (!d) return nullptr;
  d->path.swap(path);
  return reinterpret_cast<CGImageDestinationRef>(static_cast<Object*>(d));
} catch (...) {
  return {};
}

// The image file's bytes are appended to the data when the destination is finalized.
CGImageDestinationRef CGImageDestinationCreateWithData(CFMutableDataRef data, CFStringRef type, size_t count,
                                                       CFDictionaryRef options) try {
  auto* bytes = Checked<Data>(data, kData, __func__);
  Checked(type, kString, __func__);
  Checked(options, kDictionary, __func__);
  Destination* d = bytes ? NewDestination(type, count) : nullptr;
  if (!d) return nullptr;
  CFRetain(data);
  d->data = bytes;
  return reinterpret_cast<CGImageDestinationRef>(static_cast<Object*>(d));
} catch (...) {
  return {};
}

void CGImageDestinationSetProperties(CGImageDestinationRef idst, CFDictionaryRef properties) try {
  auto* d = Checked<Destination>(idst, kDestination, __func__);
  Checked(properties, kDictionary, __func__);
  if (!d || !properties) return;
  CFRetain(properties);
  if (d->properties) Release(d->properties);
  d->properties = properties;
} catch (...) {
}

static bool TakesAnother(Destination* d) {
  if (!d || d->finalized) return false;
  if (d->entries.size() >= d->count) {
    std::fprintf(stderr, "CGImageDestinationAddImage: image destination cannot hold more than %zu images\n",
                 d->count);
    return false;
  }
  return true;
}

void CGImageDestinationAddImage(CGImageDestinationRef idst, CGImageRef image, CFDictionaryRef properties) try {
  auto* d = Checked<Destination>(idst, kDestination, __func__);
  auto* i = Checked<Image>(image, kImage, __func__);
  Checked(properties, kDictionary, __func__);
  if (!i || !TakesAnother(d)) return;
  d->entries.reserve(d->entries.size() + 1);  // the one allocation, before anything is retained
  Entry e;
  e.image = i;
  CFRetain(image);
  if (properties) e.properties = static_cast<CFDictionaryRef>(CFRetain(properties));
  d->entries.push_back(e);
} catch (...) {
}

void CGImageDestinationAddImageFromSource(CGImageDestinationRef idst, CGImageSourceRef isrc, size_t index,
                                          CFDictionaryRef properties) try {
  auto* d = Checked<Destination>(idst, kDestination, __func__);
  auto* s = Checked<Source>(isrc, kSource, __func__);
  Checked(properties, kDictionary, __func__);
  if (!s || index >= s->count || !TakesAnother(d)) return;
  d->entries.reserve(d->entries.size() + 1);
  Entry e;
  e.source = s;
  e.index = index;
  CFRetain(isrc);
  if (properties) e.properties = static_cast<CFDictionaryRef>(CFRetain(properties));
  d->entries.push_back(e);
} catch (...) {
}

bool CGImageDestinationFinalize(CGImageDestinationRef idst) try {
  auto* d = Checked<Destination>(idst, kDestination, __func__);
  if (!d || d->finalized) return false;
  d->finalized = true;
  if (d->entries.size() != d->count) {
    std::fprintf(stderr, "CGImageDestinationFinalize: image destination does not have enough images\n");
    return false;
  }
  if (d->data) return WriteIntoData(*d);
  if (!WriteDestination(*d)) return false;
  if (FinalizeFails()) {
    CutFileInHalf(d->path);
    return false;
  }
  return true;
} catch (...) {
  return {};
}

CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef options) try {
  auto* u = Checked<URL>(url, kURL, __func__);
  Checked(options, kDictionary, __func__);
  if (!u) return nullptr;
  FILE* f = std::fopen(u->path.c_str(), "rb");
  if (!f) return nullptr;
  std::fclose(f);
  std::string path(u->path);
  const size_t count = TiffPageCount(path);
  auto* s = new Source;
  s->path.swap(path);
  s->count = count;
  return reinterpret_cast<CGImageSourceRef>(static_cast<Object*>(s));
} catch (...) {
  return {};
}

CGImageSourceRef CGImageSourceCreateWithData(CFDataRef data, CFDictionaryRef options) try {
  auto* d = Checked<Data>(data, kData, __func__);
  Checked(options, kDictionary, __func__);
  if (!d) return nullptr;
  std::vector<uint8_t> jpeg;
  const std::vector<uint8_t>& b = d->bytes;
  const bool isJpeg = b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
  if (isJpeg) jpeg = b;
  auto* s = new Source;
  s->jpeg.swap(jpeg);
  s->count = isJpeg ? 1 : 0;
  return reinterpret_cast<CGImageSourceRef>(static_cast<Object*>(s));
} catch (...) {
  return {};
}

size_t CGImageSourceGetCount(CGImageSourceRef isrc) try {
  auto* s = Checked<Source>(isrc, kSource, __func__);
  return s ? s->count : 0;
} catch (...) {
  return {};
}

CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index, CFDictionaryRef options) try {
  auto* s = Checked<Source>(isrc, kSource, __func__);
  Checked(options, kDictionary, __func__);
  if (!s || index >= s->count) return nullptr;
  double x, y;
  Image* image = s->jpeg.empty() ? ReadTiffPage(s->path, index, &x, &y, nullptr) : ReadJpeg(s->jpeg, &x, &y);
  return reinterpret_cast<CGImageRef>(static_cast<Object*>(image));
} catch (...) {
  return {};
}

CFDictionaryRef CGImageSourceCopyPropertiesAtIndex(CGImageSourceRef isrc, size_t index,
                                                   CFDictionaryRef options) try {
  auto* s = Checked<Source>(isrc, kSource, __func__);
  Checked(options, kDictionary, __func__);
  if (!s || index >= s->count) return nullptr;
  double x = 0, y = 0;
  Image* image = s->jpeg.empty() ? ReadTiffPage(s->path, index, &x, &y, nullptr) : ReadJpeg(s->jpeg, &x, &y);
  if (!image) return nullptr;
  Release(image);
  CFNumberRef nx = CFNumberCreate(nullptr, kCFNumberDoubleType, &x);
  CFNumberRef ny = CFNumberCreate(nullptr, kCFNumberDoubleType, &y);
  if (!nx || !ny) {
    ReleaseUnlessNull(nx);
    ReleaseUnlessNull(ny);
    return nullptr;
  }
  const void* keys[] = {kCGImagePropertyDPIWidth, kCGImagePropertyDPIHeight};
  const void* values[] = {nx, ny};
  CFDictionaryRef d = CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks);
  CFRelease(nx);
  CFRelease(ny);
  return d;
} catch (...) {
  return {};
}

void ImageIOStandin_FailNthFinalize(long n) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gFailFinalizeAt = n < 0 ? 0 : n;
}
long ImageIOStandin_PeakDecodedPixels(void) {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gPeak;
}
void ImageIOStandin_ResetPeak(void) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gPeak = gHeld;
}

}  // extern "C"
