// A multi-page TIFF on the Mac: ImageIO fixes an image count when a destination is made and
// writes the file when it is finalized, so a book cannot grow in place. Each page is written as
// it arrives into a one-page TIFF of its own beside the book ("NAME.part0001", ...), and the
// book's file, created empty when the book opens, is given room for every page so far
// (SetEOF allocates it): a page that does not leave that room is not taken. When the book
// closes, the room is released and ImageIO writes the book once from the page files
// (CGImageDestinationAddImageFromSource, one page decoded at a time), then the page files go.
// Time grows with the pages, memory holds one page.
//
// The book's file is created when the book opens and is its mark: page files of its name
// found then can only be left over from a book that died (its process ended before it
// closed), and are removed as the book meets them.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/macos/created_file.h"
#include "platform/macos/page_image.h"
#include "twain/result_codes.h"

struct PageBook {
  FSSpec location;     // the book's file
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
OSErr PageFileLocation(const PageBook& book, int number, FSSpec* location) {
  if (number < 1 || number > 999999) return bdNamErr;
  Str255 name;
  const int stem = book.stem[0];
  std::memcpy(name + 1, book.stem + 1, static_cast<size_t>(stem));
  std::memcpy(name + 1 + stem, kPartSuffix, 5);
  const int digits = std::snprintf(reinterpret_cast<char*>(name + 1 + stem + 5), 8, "%04d", number);
  name[0] = static_cast<unsigned char>(stem + 5 + digits);
  return FSMakeFSSpec(book.location.vRefNum, book.location.parID, name, location);
}

bool IsPageFile(const FSSpec& location) {
  FInfo info;
  return HGetFInfo(location.vRefNum, location.parID, location.name, &info) == noErr &&
         info.fdCreator == kPageFileCreator;
}

// Removes page files from `number` on: the book's own up to its count, then any left over by
// a book of the same name that died, as far as they go.
void RemovePageFiles(const PageBook& book, int number) {
  FSSpec location;
  int n = number;
  for (; n <= book.pages; ++n)
    if (PageFileLocation(book, n, &location) == noErr) FSpDelete(&location);
  for (; PageFileLocation(book, n, &location) == noErr && IsPageFile(location); ++n) FSpDelete(&location);
}

// A new file for page `number`, in place of one left over: 0 or 8.
int16_t CreatePageFile(const PageBook& book, int number, FSSpec* location) {
  OSErr err = PageFileLocation(book, number, location);
  if (err == noErr && IsPageFile(*location) && FSpDelete(location) == noErr) err = fnfErr;
  if (err != fnfErr) return kResultFileError;  // also someone's own file of that name
  return FSpCreate(location, kPageFileCreator, kTypeTiff, smSystemScript) == noErr ? 0 : kResultFileError;
}

// The bytes of an existing file, or -1.
long long FileBytes(const FSSpec& location) {
  SInt16 ref = 0;
  if (HOpen(location.vRefNum, location.parID, location.name, fsRdPerm, &ref) != noErr) return -1;
  SInt32 bytes = -1;
  const bool known = GetEOF(ref, &bytes) == noErr;
  FSClose(ref);
  return known ? bytes : -1;
}

// Gives the book's file `bytes` of room (0: none): false when the volume has too little.
bool HoldRoom(const PageBook& book, long long bytes) {
  if (bytes > 0x7FFFFFFF) return false;
  SInt16 ref = 0;
  if (HOpen(book.location.vRefNum, book.location.parID, book.location.name, fsWrPerm, &ref) != noErr)
    return false;
  const bool held = SetEOF(ref, static_cast<SInt32>(bytes)) == noErr;
  return FSClose(ref) == noErr && held;
}

long long RoomFor(long long pageBytes, int pages) { return pageBytes + kRoomPerPage * pages + kRoomOverall; }

// Writes the book's file from its first `pages` page files. True when ImageIO finalized it.
bool WriteBook(const PageBook& book, int pages) {
  Ref<CFURLRef> url(UrlOf(book.location));
  Ref<CGImageDestinationRef> destination(url ? CGImageDestinationCreateWithURL(url.get(), CFSTR("public.tiff"),
                                                                               static_cast<size_t>(pages),
                                                                               nullptr)
                                             : nullptr);
  if (!destination) return false;
  for (int n = 1; n <= pages; ++n) {
    FSSpec location;
    if (PageFileLocation(book, n, &location) != noErr) return false;
    Ref<CFURLRef> pageUrl(UrlOf(location));
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
  if (pages == 0) FSpDelete(&book->location);
  return pages;
}

// A book whose first page could not be written leaves nothing: its file goes last, since
// until then no other book of its name can start.
void RemoveBookWithoutPages(PageBook* book) {
  if (book->pages > 0 || book->removed) return;
  RemovePageFiles(*book, 1);
  FSpDelete(&book->location);
  book->removed = true;
}

}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  PageBook* book = nullptr;
  *result = AnswerWithoutThrowing([&]() -> int16_t {
    book = new PageBook;
    int16_t r = NewFileLocation(path, &book->location);
    if (r == 0) r = CreateFile(book->location, kTypeTiff);
    if (r == 0) MakeStem(book->location, book->stem);
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
  FSSpec location;
  int16_t result = CreatePageFile(*book, book->pages + 1, &location);
  if (result == 0) {
    CreatedFile created(location);
    const FileKind kind{CFSTR("public.tiff"), kTypeTiff};
    PageImage settings = page;
    settings.image = nullptr;
    book->pageSettings.push_back(settings);  // first: should it fail, no file is kept
    const long long bytes = Export(location, kind, TWFF_TIFFMULTI, page) ? FileBytes(location) : -1;
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

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->broken) return kResultFileError;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultUnusablePage;
    return AddImage(book, image);
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

uint64_t PageBookBytes(const PageBook* book) {
  if (book->pages == 0) return 0;
  return static_cast<uint64_t>(RoomFor(book->room, book->pages));
}
