// The Mac page writers: the picture is drawn into a CoreGraphics bitmap context
// (QDPictDrawToCGContext) of the page's own depth, and ImageIO writes the image as PNG, JPEG
// or TIFF. CoreGraphics has no 1-bit contexts: a black-and-white page is drawn in grey and
// packed into a 1-bit grey image. PICT is written as it always was (pict_writer.cpp).
//
// A multi-page TIFF: ImageIO fixes an image count when a destination is made and writes the
// file when it is finalized, so a book cannot grow in place. Each page is written as it
// arrives into a one-page TIFF of its own beside the book ("NAME.part0001", ...), and the
// book's file, created empty when the book opens, is given room for every page so far
// (SetEOF allocates it): a page that does not leave that room is not taken. When the book
// closes, the room is released and ImageIO writes the book once from the page files
// (CGImageDestinationAddImageFromSource, one page decoded at a time), then the page files go.
// Time grows with the pages, memory holds one page.
//
// The book's file is created when the book opens and is its mark: page files of its name
// found then can only be left over from a book that died (its process ended before it
// closed), and are removed as the book meets them.
//
// Files are never replaced: a name that exists answers 7, as for PICT files.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/macos/page_picture.h"
#include "twain/result_codes.h"

namespace {

constexpr OSType kCreator = 0x70727677;   // 'prvw'
constexpr OSType kTypePng = 0x504E4766;   // 'PNGf'
constexpr OSType kTypeJpeg = 0x4A504547;  // 'JPEG'
constexpr OSType kTypeTiff = 0x54494646;  // 'TIFF'
constexpr OSType kTypePdf = 0x50444620;   // 'PDF '
// ImageIO's TIFF compression values.
constexpr int kTiffLzw = 5;
constexpr int kTiffGroup4 = 4;

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

struct PageImage {
  CGImageRef image = nullptr;
  Depth depth = Depth::kColour;
  double xDpi = 72, yDpi = 72;
  int jpegQuality = kDefaultJpegQuality;  // 1 to 100
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
  for (size_t y = 0; y < height; ++y) PackGreyRow(pixels + y * rowBytes, width, bits + y * packedRow);
  Ref<CGDataProviderRef> provider(CGDataProviderCreateWithData(nullptr, bits, height * packedRow, FreeBits));
  if (!provider) {
    std::free(bits);
    return nullptr;
  }
  Ref<CGColorSpaceRef> space(CGColorSpaceCreateDeviceGray());
  return CGImageCreate(width, height, 1, 1, packedRow, space.get(), kCGImageAlphaNone, provider.get(), nullptr,
                       false, kCGRenderingIntentDefault);
}

// The page's image, or false when the picture cannot become one.
bool MakePageImage(void* picture, const PageFacts& facts, PageImage* page) {
  DrawnPage drawn;
  if (!DrawPagePicture(picture, facts, &drawn)) return false;
  page->depth = drawn.depth;
  page->xDpi = drawn.xDpi;
  page->yDpi = drawn.yDpi;
  page->image = drawn.depth == Depth::kOneBit ? PackOneBit(drawn.context.get(), drawn.width, drawn.height)
                                              : CGBitmapContextCreateImage(drawn.context.get());
  return page->image != nullptr;
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
  const double quality = page.jpegQuality / 100.0;
  if (format == TWFF_JFIF)
    put(props, kCGImageDestinationLossyCompressionQuality, kCFNumberDoubleType, &quality);
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

// Writes `page` into the existing file `spec`. True when ImageIO finalized the file.
bool Export(const FSSpec& spec, const FileKind& kind, TW_UINT16 format, const PageImage& page) {
  Ref<CFURLRef> url(UrlOf(spec));
  if (!url) return false;
  Ref<CGImageDestinationRef> destination(CGImageDestinationCreateWithURL(url.get(), kind.uti, 1, nullptr));
  Ref<CFDictionaryRef> props(ImageProperties(page, format));
  if (!destination || !props) return false;
  CGImageDestinationAddImage(destination.get(), page.image, props.get());
  return CGImageDestinationFinalize(destination.get());
}

// A name that does not exist yet: 0, 7 (it exists) or 8.
int16_t NewFileSpec(const uint8_t* path, FSSpec* spec) {
  OSErr err = FSMakeFSSpec(0, 0, path, spec);
  if (err == noErr) return kResultFileExists;
  if (err == memFullErr) return kResultUnusablePage;
  return err == fnfErr ? 0 : kResultFileError;
}

int16_t CreateFile(const FSSpec& spec, OSType fileType) {
  OSErr err = FSpCreate(&spec, kCreator, fileType, smSystemScript);
  if (err == dupFNErr) return kResultFileExists;
  if (err == memFullErr) return kResultUnusablePage;
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
  if (!KindOf(format, kind) || format == TWFF_TIFFMULTI) return kResultUnusablePage;
  return NewFileSpec(path, spec);
}

// Writes the page's image (released here) into the new file `spec`.
int16_t WriteImageFile(const PageImage& page, const FileKind& kind, TW_UINT16 format, const FSSpec& spec) {
  const Ref<CGImageRef, CGImageRelease> held(page.image);
  int16_t result = CreateFile(spec, kind.fileType);
  if (result == 0) {
    CreatedFile created(spec);
    if (Export(spec, kind, format, page))
      created.Keep();
    else
      result = kResultFileError;
  }
  return result;
}

int16_t WriteOnePage(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                     int jpegQuality) {
  if (format == TWFF_PICT) return WritePICTfile(path, image);
  FileKind kind;
  FSSpec spec;
  int16_t result = PrepareFile(format, path, &kind, &spec);
  if (result != 0) return result;
  PageImage page;
  if (!MakePageImage(image, facts, &page)) return kResultUnusablePage;
  page.jpegQuality = jpegQuality;
  return WriteImageFile(page, kind, format, spec);
}

}  // namespace

int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                      int jpegQuality) {
  return AnswerWithoutThrowing([&] { return WriteOnePage(image, facts, format, path, jpegQuality); });
}

// ---- multi-page TIFF

struct PageBook {
  FSSpec spec;         // the book's file
  Str63 stem = {};     // what its page files' names start with
  int pages = 0;       // pages in page files
  long long room = 0;  // bytes the page files take, held in the book's file
  bool broken = false;
  bool removed = false;  // the book's file is gone (its first page failed)
  // Each page's depth and resolution (no image), asked again when the book is written.
  std::vector<PageImage> pageSettings;
};

namespace {

constexpr OSType kPageFileCreator = 0x4B567067;  // 'KVpg': a page file of a book
constexpr unsigned char kPartSuffix[] = ".part";
constexpr int kStemChars = 31 - 5 - 6;  // a name part's 31, ".part", six digits
// Room the book takes beyond its page files: each page's page-number and kind tags, and a
// margin for the file.
constexpr long long kRoomPerPage = 64;
constexpr long long kRoomOverall = 4096;

// The page files' names start with the book's name, or, for a long one, with its start, '~'
// and eight hexadecimal digits of a hash of the whole name.
void MakeStem(const FSSpec& book, Str63 stem) {
  const int length = book.name[0];
  if (length <= kStemChars) {
    std::memcpy(stem, book.name, static_cast<size_t>(length) + 1);
    return;
  }
  uint32_t hash = 2166136261u;  // FNV-1a
  for (int i = 1; i <= length; ++i) hash = (hash ^ book.name[i]) * 16777619u;
  const int keep = kStemChars - 9;
  std::memcpy(stem + 1, book.name + 1, static_cast<size_t>(keep));
  std::snprintf(reinterpret_cast<char*>(stem + 1 + keep), 10, "~%08X", static_cast<unsigned>(hash));
  stem[0] = static_cast<unsigned char>(kStemChars);
}

// Page `number`'s file: noErr when it exists, fnfErr when not (the FSSpec made),
// another error when it cannot be named.
OSErr PageFileSpec(const PageBook& book, int number, FSSpec* spec) {
  if (number < 1 || number > 999999) return bdNamErr;
  Str255 name;
  const int stem = book.stem[0];
  std::memcpy(name + 1, book.stem + 1, static_cast<size_t>(stem));
  std::memcpy(name + 1 + stem, kPartSuffix, 5);
  const int digits = std::snprintf(reinterpret_cast<char*>(name + 1 + stem + 5), 8, "%04d", number);
  name[0] = static_cast<unsigned char>(stem + 5 + digits);
  return FSMakeFSSpec(book.spec.vRefNum, book.spec.parID, name, spec);
}

bool IsPageFile(const FSSpec& spec) {
  FInfo info;
  return HGetFInfo(spec.vRefNum, spec.parID, spec.name, &info) == noErr && info.fdCreator == kPageFileCreator;
}

// Removes page files from `number` on: the book's own up to its count, then any left over by
// a book of the same name that died, as far as they go.
void RemovePageFiles(const PageBook& book, int number) {
  FSSpec spec;
  int n = number;
  for (; n <= book.pages; ++n)
    if (PageFileSpec(book, n, &spec) == noErr) FSpDelete(&spec);
  for (; PageFileSpec(book, n, &spec) == noErr && IsPageFile(spec); ++n) FSpDelete(&spec);
}

// A new file for page `number`, in place of one left over: 0 or 8.
int16_t CreatePageFile(const PageBook& book, int number, FSSpec* spec) {
  OSErr err = PageFileSpec(book, number, spec);
  if (err == noErr && IsPageFile(*spec) && FSpDelete(spec) == noErr) err = fnfErr;
  if (err != fnfErr) return kResultFileError;  // also someone's own file of that name
  return FSpCreate(spec, kPageFileCreator, kTypeTiff, smSystemScript) == noErr ? 0 : kResultFileError;
}

// The bytes of an existing file, or -1.
long long FileBytes(const FSSpec& spec) {
  SInt16 ref = 0;
  if (HOpen(spec.vRefNum, spec.parID, spec.name, fsRdPerm, &ref) != noErr) return -1;
  SInt32 bytes = -1;
  const bool known = GetEOF(ref, &bytes) == noErr;
  FSClose(ref);
  return known ? bytes : -1;
}

// Gives the book's file `bytes` of room (0: none): false when the volume has too little.
bool HoldRoom(const PageBook& book, long long bytes) {
  if (bytes > 0x7FFFFFFF) return false;
  SInt16 ref = 0;
  if (HOpen(book.spec.vRefNum, book.spec.parID, book.spec.name, fsWrPerm, &ref) != noErr) return false;
  const bool held = SetEOF(ref, static_cast<SInt32>(bytes)) == noErr;
  return FSClose(ref) == noErr && held;
}

long long RoomFor(long long pageBytes, int pages) { return pageBytes + kRoomPerPage * pages + kRoomOverall; }

// Writes the book's file from its first `pages` page files. True when ImageIO finalized it.
bool WriteBook(const PageBook& book, int pages) {
  Ref<CFURLRef> url(UrlOf(book.spec));
  Ref<CGImageDestinationRef> destination(url ? CGImageDestinationCreateWithURL(url.get(), CFSTR("public.tiff"),
                                                                               static_cast<size_t>(pages),
                                                                               nullptr)
                                             : nullptr);
  if (!destination) return false;
  for (int n = 1; n <= pages; ++n) {
    FSSpec spec;
    if (PageFileSpec(book, n, &spec) != noErr) return false;
    Ref<CFURLRef> pageUrl(UrlOf(spec));
    Ref<CGImageSourceRef> source(pageUrl ? CGImageSourceCreateWithURL(pageUrl.get(), nullptr) : nullptr);
    if (!source || CGImageSourceGetCount(source.get()) != 1) return false;
    // The page's resolution and compression are asked again rather than left to go with the
    // source's properties: what ImageIO keeps of a source when it encodes anew is not
    // documented.
    Ref<CFDictionaryRef> props(ImageProperties(book.pageSettings[static_cast<size_t>(n - 1)], TWFF_TIFFMULTI));
    if (!props) return false;
    CGImageDestinationAddImageFromSource(destination.get(), source.get(), 0, props.get());
  }
  return CGImageDestinationFinalize(destination.get());
}

// Writes the book from its page files and removes them: the pages its file holds. Should the
// room held have gone to someone else, the book is written again with fewer pages (the files
// of those left out removed to make room); with none, the book's file is removed.
int AssembleBook(PageBook* book) {
  HoldRoom(*book, 0);  // ImageIO's writing starts from an empty file in any case
  int pages = book->pages;
  while (pages > 0 && !WriteBook(*book, pages)) {
    pages = pages == book->pages ? pages - 1 : pages / 2;
    RemovePageFiles(*book, pages + 1);
  }
  RemovePageFiles(*book, 1);
  if (pages == 0) FSpDelete(&book->spec);
  return pages;
}

// A book whose first page could not be written leaves nothing: its file goes last, since
// until then no other book of its name can start.
void RemoveBookWithoutPages(PageBook* book) {
  if (book->pages > 0 || book->removed) return;
  RemovePageFiles(*book, 1);
  FSpDelete(&book->spec);
  book->removed = true;
}

}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  PageBook* book = nullptr;
  *result = AnswerWithoutThrowing([&]() -> int16_t {
    book = new PageBook;
    int16_t r = NewFileSpec(path, &book->spec);
    if (r == 0) r = CreateFile(book->spec, kTypeTiff);
    if (r == 0) MakeStem(book->spec, book->stem);
    return r;
  });
  if (*result != 0) {
    delete book;
    book = nullptr;
  }
  return book;
}

namespace {

// Writes the page's image (released here) into its page file, and holds room for it in the
// book's file.
int16_t AddImage(PageBook* book, const PageImage& page) {
  const Ref<CGImageRef, CGImageRelease> held(page.image);
  if (book->broken) return kResultFileError;
  FSSpec spec;
  int16_t result = CreatePageFile(*book, book->pages + 1, &spec);
  if (result == 0) {
    CreatedFile created(spec);
    const FileKind kind{CFSTR("public.tiff"), kTypeTiff};
    PageImage settings = page;
    settings.image = nullptr;
    book->pageSettings.push_back(settings);  // first: should it fail, no file is kept
    const long long bytes = Export(spec, kind, TWFF_TIFFMULTI, page) ? FileBytes(spec) : -1;
    if (bytes >= 0 && HoldRoom(*book, RoomFor(book->room + bytes, book->pages + 1))) {
      created.Keep();
      book->room += bytes;
      ++book->pages;
      return 0;
    }
    book->pageSettings.pop_back();
    result = kResultFileError;
  }
  book->broken = true;
  RemoveBookWithoutPages(book);
  return result;
}

}  // namespace

int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->broken) return kResultFileError;
    PageImage page;
    if (!MakePageImage(image, facts, &page)) return kResultUnusablePage;
    return AddImage(book, page);
  });
}

int16_t ClosePageBook(PageBook* book, int* pages) {
  int held = 0;
  const int16_t result = AnswerWithoutThrowing([&]() -> int16_t {
    if (book->pages == 0) {
      RemoveBookWithoutPages(book);
      return 0;
    }
    held = AssembleBook(book);
    return held < book->pages ? kResultFileError : 0;
  });
  if (pages) *pages = held;
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
  if (!GrowRowBuffer(&page->rows, &page->capacity, page->rowBytes,
                     expectedRows > 0 ? expectedRows : kFirstRows)) {
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
  if (y >= page->capacity &&
      !GrowRowBuffer(&page->rows, &page->capacity, page->rowBytes, RowPageGrowth(page->capacity, y)))
    return nullptr;
  for (; page->made <= y; ++page->made)
    std::memset(page->rows + page->rowBytes * page->made, 0xFF, page->rowBytes);
  return page->rows + page->rowBytes * y;
}

RowPageSize RowPageSizeOf(const RowPage* page) { return RowPageSize{page->width, page->bits, page->made}; }

int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    FileKind kind;
    FSSpec spec;
    int16_t result = PrepareFile(format, path, &kind, &spec);
    if (result != 0) return result;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultUnusablePage;
    image.jpegQuality = jpegQuality;
    return WriteImageFile(image, kind, format, spec);
  });
}

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->broken) return kResultFileError;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultUnusablePage;
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
  FileKind kind{nullptr, kTypePdf};
  if (format != TWFF_PDF && !KindOf(format, &kind)) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  ByteFile* f = new (std::nothrow) ByteFile;
  if (!f) {
    *result = kResultUnusablePage;
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

int16_t CutByteFile(ByteFile* f, uint64_t length) {
  const bool cut = length <= 0x7FFFFFFF && SetEOF(f->refNum, static_cast<SInt32>(length)) == noErr &&
                   SetFPos(f->refNum, fsFromStart, static_cast<SInt32>(length)) == noErr;
  f->failed = !cut;
  return cut ? 0 : kResultFileError;
}

int16_t CloseByteFile(ByteFile* f, bool keep) {
  const bool closed = FSClose(f->refNum) == noErr;
  const bool kept = keep && closed && !f->failed;
  if (!kept) FSpDelete(&f->spec);
  const int16_t r = keep && !kept ? kResultFileError : 0;
  delete f;
  return r;
}

// ---- JPEG into memory (the pages of a PDF): the rows as one CGImage (memory holds the
// page once), written by an ImageIO destination into a CFData.
namespace {

bool CopyRows(PagePixels& page, ByteRun* rows) {
  const size_t bytes = page.RowBytes();
  if (!rows->Resize(bytes * page.Height())) return false;
  for (uint32_t y = 0; y < page.Height(); ++y) {
    const uint8_t* row = page.Row(y);
    if (!row) return false;
    std::memcpy(rows->Data() + bytes * y, row, bytes);
  }
  return true;
}

}  // namespace

int16_t EncodeJpeg(PagePixels& page, int quality, ByteRun* jpeg) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (page.Format() == PixelFormat::kBlackWhite) return kResultUnusablePage;
    ByteRun rows;
    if (!CopyRows(page, &rows)) return kResultUnusablePage;
    const bool colour = page.Format() == PixelFormat::kRgb;
    Ref<CGColorSpaceRef> space(colour ? CGColorSpaceCreateDeviceRGB() : CGColorSpaceCreateDeviceGray());
    Ref<CGDataProviderRef> provider(CGDataProviderCreateWithData(nullptr, rows.Data(), rows.Size(), nullptr));
    if (!space || !provider) return kResultUnusablePage;
    PageImage image;
    image.depth = colour ? Depth::kColour : Depth::kGrey;
    image.jpegQuality = quality;
    image.xDpi = page.XDpi() > 0 ? page.XDpi() : 72;
    image.yDpi = page.YDpi() > 0 ? page.YDpi() : 72;
    image.image = CGImageCreate(page.Width(), page.Height(), 8, colour ? 24 : 8, page.RowBytes(), space.get(),
                                kCGImageAlphaNone, provider.get(), nullptr, false, kCGRenderingIntentDefault);
    const Ref<CGImageRef, CGImageRelease> held(image.image);
    Ref<CFMutableDataRef> data(CFDataCreateMutable(nullptr, 0));
    if (!image.image || !data) return kResultUnusablePage;
    Ref<CGImageDestinationRef> destination(
        CGImageDestinationCreateWithData(data.get(), CFSTR("public.jpeg"), 1, nullptr));
    Ref<CFDictionaryRef> props(ImageProperties(image, TWFF_JFIF));
    if (!destination || !props) return kResultUnusablePage;
    CGImageDestinationAddImage(destination.get(), image.image, props.get());
    if (!CGImageDestinationFinalize(destination.get())) return kResultUnusablePage;
    const UInt8* bytes = CFDataGetBytePtr(data.get());
    const CFIndex length = CFDataGetLength(data.get());
    if (!bytes || length <= 0 || !jpeg->Resize(0) || !jpeg->Append(bytes, static_cast<size_t>(length)))
      return kResultUnusablePage;
    return kResultOk;
  });
}
