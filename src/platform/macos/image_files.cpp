// The Mac page writers: the picture is drawn into a CoreGraphics bitmap context
// (QDPictDrawToCGContext) of the page's own depth, and ImageIO writes the image as PNG, JPEG
// or TIFF. CoreGraphics has no 1-bit contexts: a black-and-white page is drawn in grey and
// packed into a 1-bit grey image. PICT is written as it always was (pict_writer.cpp).
//
// A multi-page TIFF: ImageIO fixes an image count when a destination is made and writes the
// file when it is finalized, so each page after the first writes the whole book again into
// a new file beside it (the pages before come from the old file through an image source, one
// at a time; then this page), and the new file takes the old one's place with
// FSpExchangeFiles. Between pages the file is always a complete TIFF of the pages so far,
// and memory holds one page whatever the length of the batch (the time to add a page grows
// with the pages before it).
//
// Files are never replaced: a name that exists answers 7, as for PICT files.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "acquire/image_files.h"
#include "acquire/image_platform.h"
#include "acquire/no_throw.h"
#include "twain/result_codes.h"

namespace {

constexpr OSType kCreator = 0x70727677;   // 'prvw'
constexpr OSType kTypePng = 0x504E4766;   // 'PNGf'
constexpr OSType kTypeJpeg = 0x4A504547;  // 'JPEG'
constexpr OSType kTypeTiff = 0x54494646;  // 'TIFF'
constexpr double kJpegQuality = 0.85;
// ImageIO's TIFF compression values.
constexpr int kTiffLzw = 5;
constexpr int kTiffGroup4 = 4;

template <class T>
void ReleaseCF(T ref) {
  CFRelease(ref);
}

// A CoreFoundation or CoreGraphics reference released when it goes (a QDPict, which is no
// CoreFoundation type, with QDPictRelease).
template <class T, void (*Release)(T) = ReleaseCF<T>>
class Ref {
 public:
  explicit Ref(T ref = nullptr) : ref_(ref) {}
  ~Ref() {
    if (ref_) Release(ref_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  T ref_;
};

struct FileKind {
  CFStringRef uti;
  OSType fileType;
};

bool KindOf(TW_UINT16 format, FileKind* kind) {
  switch (format) {
    case TWFF_PNG:
      *kind = {CFSTR("public.png"), kTypePng};
      return true;
    case TWFF_JFIF:
      *kind = {CFSTR("public.jpeg"), kTypeJpeg};
      return true;
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
      *kind = {CFSTR("public.tiff"), kTypeTiff};
      return true;
    default:
      return false;
  }
}

// ---- the page as a CGImage

enum class Depth { kOneBit, kGrey, kColour };

Depth DepthOf(const PageFacts& facts) {
  if (facts.pixelType == TWPT_BW) return Depth::kOneBit;
  if (facts.pixelType == TWPT_GRAY) return Depth::kGrey;
  return Depth::kColour;
}

struct PageImage {
  CGImageRef image = nullptr;
  Depth depth = Depth::kColour;
  double xDpi = 72, yDpi = 72;
};

void FreeBits(void*, const void* data, size_t) { std::free(const_cast<void*>(data)); }

// Grey pixels of a context, packed 1 bit a pixel (1 = white from half-way up), as an image.
CGImageRef PackOneBit(CGContextRef grey, size_t width, size_t height) {
  const uint8_t* pixels = static_cast<const uint8_t*>(CGBitmapContextGetData(grey));
  const size_t rowBytes = CGBitmapContextGetBytesPerRow(grey);
  const size_t packedRow = (width + 7) / 8;
  uint8_t* bits = static_cast<uint8_t*>(std::calloc(height, packedRow));
  if (!pixels || !bits) {
    std::free(bits);
    return nullptr;
  }
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = pixels + y * rowBytes;
    uint8_t* out = bits + y * packedRow;
    for (size_t x = 0; x < width; ++x)
      if (in[x] >= 128) out[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
  Ref<CGDataProviderRef> provider(CGDataProviderCreateWithData(nullptr, bits, height * packedRow, FreeBits));
  if (!provider) {
    std::free(bits);
    return nullptr;
  }
  Ref<CGColorSpaceRef> space(CGColorSpaceCreateDeviceGray());
  return CGImageCreate(width, height, 1, 1, packedRow, space.get(), kCGImageAlphaNone, provider.get(), nullptr,
                       false, kCGRenderingIntentDefault);
}

// Draws the picture on white in a context of the page's depth and size.
CGImageRef DrawPicture(QDPictRef pict, Depth depth, size_t width, size_t height) {
  const bool colour = depth == Depth::kColour;
  Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
  Ref<CGContextRef> context(CGBitmapContextCreate(nullptr, width, height, 8, 0, space.get(),
                                                  colour ? kCGImageAlphaNoneSkipLast : kCGImageAlphaNone));
  if (!context) return nullptr;
  const CGRect rect = CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height));
  CGContextSetGrayFillColor(context.get(), 1, 1);
  CGContextFillRect(context.get(), rect);
  if (QDPictDrawToCGContext(context.get(), rect, pict) != noErr) return nullptr;
  return depth == Depth::kOneBit ? PackOneBit(context.get(), width, height)
                                 : CGBitmapContextCreateImage(context.get());
}

// The page's image, or false when the picture cannot become one.
bool MakePageImage(void* picture, const PageFacts& facts, PageImage* page) {
  Handle h = static_cast<Handle>(picture);
  if (!h || !*h) return false;
  const SInt8 state = HGetState(h);
  HLock(h);
  bool made = false;
  {
    Ref<CGDataProviderRef> provider(
        CGDataProviderCreateWithData(nullptr, *h, static_cast<size_t>(GetHandleSize(h)), nullptr));
    Ref<QDPictRef, QDPictRelease> pict(provider ? QDPictCreateWithProvider(provider.get()) : nullptr);
    if (pict) {
      const CGRect bounds = QDPictGetBounds(pict.get());
      CGFloat xRes = 72, yRes = 72;
      QDPictGetResolution(pict.get(), &xRes, &yRes);
      // The bounds are at 72 dpi: the picture's pixels are its inches at its own resolution.
      const long width = facts.width > 0 ? facts.width : std::lround(bounds.size.width * xRes / 72);
      const long height = facts.height > 0 ? facts.height : std::lround(bounds.size.height * yRes / 72);
      page->depth = DepthOf(facts);
      page->xDpi = facts.xResolution > 0 ? facts.xResolution : xRes;
      page->yDpi = facts.yResolution > 0 ? facts.yResolution : yRes;
      if (width > 0 && height > 0) {
        page->image =
            DrawPicture(pict.get(), page->depth, static_cast<size_t>(width), static_cast<size_t>(height));
        made = page->image != nullptr;
      }
    }
  }
  HSetState(h, state);
  return made;
}

// The properties of one image: its resolution, JPEG's quality, TIFF's compression.
CFDictionaryRef ImageProperties(const PageImage& page, TW_UINT16 format) {
  CFMutableDictionaryRef props =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  if (!props) return nullptr;
  auto put = [&](CFMutableDictionaryRef dict, CFStringRef key, CFNumberType type, const void* value) {
    Ref<CFNumberRef> number(CFNumberCreate(nullptr, type, value));
    if (number) CFDictionarySetValue(dict, key, number.get());
  };
  put(props, kCGImagePropertyDPIWidth, kCFNumberDoubleType, &page.xDpi);
  put(props, kCGImagePropertyDPIHeight, kCFNumberDoubleType, &page.yDpi);
  if (format == TWFF_JFIF)
    put(props, kCGImageDestinationLossyCompressionQuality, kCFNumberDoubleType, &kJpegQuality);
  if (format == TWFF_TIFF || format == TWFF_TIFFMULTI) {
    Ref<CFMutableDictionaryRef> tiff(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks));
    if (tiff) {
      const int compression = page.depth == Depth::kOneBit ? kTiffGroup4 : kTiffLzw;
      put(tiff.get(), kCGImagePropertyTIFFCompression, kCFNumberIntType, &compression);
      CFDictionarySetValue(props, kCGImagePropertyTIFFDictionary, tiff.get());
    }
  }
  return props;
}

CFURLRef UrlOf(const FSSpec& spec) {
  FSRef ref;
  if (FSpMakeFSRef(&spec, &ref) != noErr) return nullptr;
  return CFURLCreateFromFSRef(nullptr, &ref);
}

// Writes `page` into the existing file `spec`, after the first `earlier` pages of the TIFF
// at `from` (none: null). True when ImageIO finalized the file.
bool Export(const FSSpec& spec, const FileKind& kind, TW_UINT16 format, const PageImage& page,
            CGImageSourceRef from, size_t earlier) {
  Ref<CFURLRef> url(UrlOf(spec));
  if (!url) return false;
  Ref<CGImageDestinationRef> destination(
      CGImageDestinationCreateWithURL(url.get(), kind.uti, earlier + 1, nullptr));
  Ref<CFDictionaryRef> props(ImageProperties(page, format));
  if (!destination || !props) return false;
  for (size_t i = 0; i < earlier; ++i)
    CGImageDestinationAddImageFromSource(destination.get(), from, i, nullptr);
  CGImageDestinationAddImage(destination.get(), page.image, props.get());
  return CGImageDestinationFinalize(destination.get());
}

// A name that does not exist yet: 0, 7 (it exists) or 8.
int16_t NewFileSpec(const uint8_t* path, FSSpec* spec) {
  OSErr err = FSMakeFSSpec(0, 0, path, spec);
  if (err == noErr) return kResultFileExists;
  return err == fnfErr ? 0 : kResultFileError;
}

int16_t CreateFile(const FSSpec& spec, OSType fileType) {
  OSErr err = FSpCreate(&spec, kCreator, fileType, smSystemScript);
  if (err == dupFNErr) return kResultFileExists;
  return err == noErr ? 0 : kResultFileError;
}

// A file the call created, removed when the guard goes unless the call keeps it (also when an
// exception ends the call).
class CreatedFile {
 public:
  explicit CreatedFile(const FSSpec& spec) : spec_(spec) {}
  ~CreatedFile() {
    if (kept_) return;
    try {
      FSpDelete(&spec_);
    } catch (...) {
      // A destructor ends quietly (here while another exception passes).
    }
  }
  CreatedFile(const CreatedFile&) = delete;
  CreatedFile& operator=(const CreatedFile&) = delete;
  void Keep() { kept_ = true; }

 private:
  FSSpec spec_;
  bool kept_ = false;
};

// Where a page file in `format` goes: 0 with its kind and a name that does not exist yet, or
// 2 (a format written elsewhere), 7 or 8.
int16_t PrepareFile(TW_UINT16 format, const uint8_t* path, FileKind* kind, FSSpec* spec) {
  if (!KindOf(format, kind) || format == TWFF_TIFFMULTI) return kResultNoMemory;
  return NewFileSpec(path, spec);
}

// Writes the page's image (released here) into the new file `spec`.
int16_t WriteImageFile(const PageImage& page, const FileKind& kind, TW_UINT16 format, const FSSpec& spec) {
  const Ref<CGImageRef, CGImageRelease> held(page.image);
  int16_t result = CreateFile(spec, kind.fileType);
  if (result == 0) {
    CreatedFile created(spec);
    if (Export(spec, kind, format, page, nullptr, 0))
      created.Keep();
    else
      result = kResultFileError;
  }
  return result;
}

int16_t WriteOnePage(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path) {
  if (format == TWFF_PICT) return WritePICTfile(path, image);
  FileKind kind;
  FSSpec spec;
  int16_t result = PrepareFile(format, path, &kind, &spec);
  if (result != 0) return result;
  PageImage page;
  if (!MakePageImage(image, facts, &page)) return kResultNoMemory;
  return WriteImageFile(page, kind, format, spec);
}

}  // namespace

int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path) {
  return AnswerWithoutThrowing([&] { return WriteOnePage(image, facts, format, path); });
}

// ---- multi-page TIFF

struct PageBook {
  FSSpec spec;
  int pages = 0;
  bool broken = false;
};

namespace {

// A file beside the book's, free now, named after it.
bool SiblingSpec(const FSSpec& book, FSSpec* sibling) {
  Str255 name;
  const int keep = book.name[0] < 24 ? book.name[0] : 24;
  for (char digit = '0'; digit <= '9'; ++digit) {
    std::memcpy(name + 1, book.name + 1, keep);
    std::memcpy(name + 1 + keep, ".part", 5);
    name[1 + keep + 5] = static_cast<unsigned char>(digit);
    name[0] = static_cast<unsigned char>(keep + 6);
    OSErr err = FSMakeFSSpec(book.vRefNum, book.parID, name, sibling);
    if (err == fnfErr) return true;
    if (err != noErr) return false;
  }
  return false;
}

// The book with one more page, written beside it and exchanged with it.
bool Rewrite(PageBook* book, const PageImage& page) {
  FSSpec next;
  if (!SiblingSpec(book->spec, &next) || CreateFile(next, kTypeTiff) != 0) return false;
  // The new pages' file on failure; the old book's after the exchange.
  const CreatedFile removed(next);
  bool written = false;
  {
    Ref<CFURLRef> url(UrlOf(book->spec));
    Ref<CGImageSourceRef> source(url ? CGImageSourceCreateWithURL(url.get(), nullptr) : nullptr);
    FileKind kind{CFSTR("public.tiff"), kTypeTiff};
    written = source && CGImageSourceGetCount(source.get()) == static_cast<size_t>(book->pages) &&
              Export(next, kind, TWFF_TIFFMULTI, page, source.get(), static_cast<size_t>(book->pages));
  }
  return written && FSpExchangeFiles(&next, &book->spec) == noErr;
}

}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  PageBook* book = nullptr;
  *result = AnswerWithoutThrowing([&]() -> int16_t {
    book = new PageBook;
    int16_t r = NewFileSpec(path, &book->spec);
    return r == 0 ? CreateFile(book->spec, kTypeTiff) : r;
  });
  if (*result != 0) {
    delete book;
    book = nullptr;
  }
  return book;
}

namespace {

// Adds the page's image (released here) to the book.
int16_t AddImage(PageBook* book, const PageImage& page) {
  const Ref<CGImageRef, CGImageRelease> held(page.image);
  if (book->broken) return kResultFileError;
  const FileKind kind{CFSTR("public.tiff"), kTypeTiff};
  const bool written =
      book->pages == 0 ? Export(book->spec, kind, TWFF_TIFFMULTI, page, nullptr, 0) : Rewrite(book, page);
  if (!written) {
    book->broken = true;
    if (book->pages == 0) FSpDelete(&book->spec);  // no page was complete
    return kResultFileError;
  }
  ++book->pages;
  return 0;
}

}  // namespace

int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->broken) return kResultFileError;
    PageImage page;
    if (!MakePageImage(image, facts, &page)) return kResultNoMemory;
    return AddImage(book, page);
  });
}

int16_t ClosePageBook(PageBook* book, int* pages) {
  const int16_t result = AnswerWithoutThrowing([&]() -> int16_t {
    if (book->pages == 0 && !book->broken) FSpDelete(&book->spec);
    return 0;
  });
  if (pages) *pages = book->pages;
  delete book;
  return result;
}

int PageBookCount(const PageBook* book) { return book->pages; }

// ---- pages that arrive in rows

struct RowPage {
  uint8_t* rows = nullptr;
  size_t rowBytes = 0;
  uint32_t width = 0;
  uint16_t bits = 0;
  uint32_t capacity = 0;  // rows there is room for
  uint32_t made = 0;      // rows made so far
};

namespace {

constexpr uint32_t kFirstRows = 256;  // room for a page of unknown length, doubled as it grows

bool Grow(RowPage* page, uint32_t rows) {
  const uint64_t bytes = uint64_t(page->rowBytes) * rows;
  if (bytes > 0x7FFFFFFF) return false;
  void* grown = std::realloc(page->rows, static_cast<size_t>(bytes));
  if (!grown) return false;
  page->rows = static_cast<uint8_t*>(grown);
  page->capacity = rows;
  return true;
}

// The first `rows` rows as the page's image; the page keeps its rows while the image lives.
bool MakeRowImage(RowPage* page, uint32_t rows, const PageFacts& facts, PageImage* image) {
  if (rows == 0 || rows > page->made) return false;
  const bool colour = page->bits == 24;
  Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
  Ref<CGDataProviderRef> provider(
      CGDataProviderCreateWithData(nullptr, page->rows, page->rowBytes * rows, nullptr));
  if (!space || !provider) return false;
  image->depth = page->bits == 1 ? Depth::kOneBit : colour ? Depth::kColour : Depth::kGrey;
  image->xDpi = facts.xResolution > 0 ? facts.xResolution : 72;
  image->yDpi = facts.yResolution > 0 ? facts.yResolution : 72;
  image->image =
      CGImageCreate(page->width, rows, page->bits == 1 ? 1 : 8, page->bits, page->rowBytes, space.get(),
                    kCGImageAlphaNone, provider.get(), nullptr, false, kCGRenderingIntentDefault);
  return image->image != nullptr;
}

}  // namespace

RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows) {
  RowPage* page = IsRowPageShape(width, bitsPerPixel) ? new (std::nothrow) RowPage : nullptr;
  if (!page) return nullptr;
  page->width = width;
  page->bits = bitsPerPixel;
  page->rowBytes = static_cast<size_t>((uint64_t(width) * bitsPerPixel + 7) / 8);
  if (!Grow(page, expectedRows > 0 ? expectedRows : kFirstRows)) {
    FreeRowPage(page);
    return nullptr;
  }
  return page;
}

void FreeRowPage(RowPage* page) {
  if (!page) return;
  std::free(page->rows);
  delete page;
}

uint8_t* RowPageRow(RowPage* page, uint32_t y) {
  if (y > page->made) return nullptr;  // rows are made in order
  if (y >= page->capacity && !Grow(page, RowPageGrowth(page->capacity, y))) return nullptr;
  for (; page->made <= y; ++page->made)
    std::memset(page->rows + page->rowBytes * page->made, 0xFF, page->rowBytes);
  return page->rows + page->rowBytes * y;
}

int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    FileKind kind;
    FSSpec spec;
    int16_t result = PrepareFile(format, path, &kind, &spec);
    if (result != 0) return result;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultNoMemory;
    return WriteImageFile(image, kind, format, spec);
  });
}

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->broken) return kResultFileError;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultNoMemory;
    return AddImage(book, image);
  });
}

// ---- files written as their bytes come

struct ByteFile {
  FSSpec spec;
  SInt16 refNum = 0;
  bool failed = false;
};

ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16 format, int16_t* result) {
  FileKind kind;
  if (!KindOf(format, &kind)) {
    *result = kResultNoMemory;
    return nullptr;
  }
  ByteFile* f = new (std::nothrow) ByteFile;
  if (!f) {
    *result = kResultNoMemory;
    return nullptr;
  }
  *result = NewFileSpec(path, &f->spec);
  if (*result == 0) *result = CreateFile(f->spec, kind.fileType);
  if (*result == 0 &&
      (HOpen(f->spec.vRefNum, f->spec.parID, f->spec.name, fsWrPerm, &f->refNum) != noErr || f->refNum == 0)) {
    FSpDelete(&f->spec);
    *result = kResultFileError;
  }
  if (*result != 0) {
    delete f;
    return nullptr;
  }
  return f;
}

int16_t AppendByteFile(ByteFile* f, const void* bytes, size_t size) {
  if (!f->failed && size > 0) {
    SInt32 count = static_cast<SInt32>(size);
    f->failed = FSWrite(f->refNum, &count, bytes) != noErr || count != static_cast<SInt32>(size);
  }
  return f->failed ? kResultFileError : 0;
}

int16_t CloseByteFile(ByteFile* f, bool keep) {
  const bool closed = FSClose(f->refNum) == noErr;
  const bool kept = keep && closed && !f->failed;
  if (!kept) FSpDelete(&f->spec);
  const int16_t r = keep && !kept ? kResultFileError : 0;
  delete f;
  return r;
}
