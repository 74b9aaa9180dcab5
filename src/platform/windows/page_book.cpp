// The multi-page TIFF on Windows: a TiffFile (tiff_file.h), each page added as it arrives, a
// band of rows at a time; memory holds a band, whatever the page's size and the batch's
// length. The file is created with the first page (a file of that name stays as it was until
// then) and written through a CheckedFileStream. A failed write (a full disk) is found in the
// stream: the book goes back to the last point where its file was complete, then counts its
// pages by reading the file back with WIC's own decoder. A page that would take the file past
// 4 GiB is refused before it is transferred (BookTakesPage), or, should its encoding come out
// larger than its rows, left out when it meets the limit: the book ends with the pages before.
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include <memory>
#include <new>
#include <string>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"
#include "platform/windows/row_page_store.h"
#include "platform/windows/tiff_file.h"
#include "platform/windows/wic.h"
#include "twain/result_codes.h"

struct PageBook {
  ~PageBook() {
    tiff.reset();
    if (stream) stream->Release();
  }
  Wic wic;
  std::string name;
  CheckedFileStream* stream = nullptr;  // from the first page on
  std::unique_ptr<TiffFile> tiff;
  int pages = 0;
  int16_t ended = 0;  // the failure that ended the book, which every later page answers
};

namespace {

// Whether a file of that name can be written, without changing one that exists.
bool Writable(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  CloseHandle(file);
  if (!existed) DeleteFileA(name);
  return true;
}

// The pages of the TIFF in `stream`, as WIC's decoder reads them (0: not a TIFF it can read).
int PagesIn(IWICImagingFactory* factory, IStream* stream) {
  LARGE_INTEGER start{};
  Held<IWICBitmapDecoder> decoder;
  UINT frames = 0;
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
      FAILED(factory->CreateDecoder(GUID_ContainerFormatTiff, nullptr, decoder.Out())) ||
      FAILED(decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrameCount(&frames))) {
    return 0;
  }
  return static_cast<int>(frames);
}

// Ends the book's file: a failed book goes back to its last complete state, and the pages are
// those the file holds, read back. A file without a page is removed. `failure`: 0 for the
// book's own end.
int16_t SettleBook(PageBook* book, int16_t failure) {
  CheckedFileStream* stream = book->stream;
  stream->StopWrites();
  book->tiff.reset();
  if (failure != 0 || stream->Failed()) {
    if (failure == 0) failure = stream->OutOfMemory() ? kResultUnusablePage : kResultFileError;
    if (!stream->Rollback()) failure = kResultFileError;
  }
  const int held = PagesIn(book->wic.Factory(), stream);
  if (held != book->pages && failure == 0) failure = kResultFileError;
  book->pages = held;
  if (!stream->Close() && failure == 0) failure = kResultFileError;
  stream->Release();
  book->stream = nullptr;
  if (held == 0) DeleteFileA(book->name.c_str());
  book->ended = failure != 0 ? failure : kResultFileError;
  return failure;
}

int16_t AddFrameToBook(PageBook* book, FrameRows* page) {
  if (book->ended) return book->ended;
  if (!book->stream) {
    book->stream = CheckedFileStream::New();
    if (!book->stream) return kResultUnusablePage;  // the book goes on
    if (!book->stream->Open(book->name.c_str())) {
      book->stream->Release();
      book->stream = nullptr;
      return book->ended = kResultFileError;
    }
    book->tiff.reset(new (std::nothrow) TiffFile(book->stream));
    if (!book->tiff) return SettleBook(book, kResultUnusablePage);
  }
  const int16_t r = book->tiff->AddPage(book->wic.Factory(), page);
  if (r == kResultOk) {
    ++book->pages;
    return r;
  }
  if (book->stream->OutOfMemory()) return SettleBook(book, kResultUnusablePage);
  if (r == kResultFileError || r == kResultFileTooLarge) return SettleBook(book, r);
  return r;  // the page was left out, the file is as it was: the book goes on
}

}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  PageBook* book = nullptr;
  *result = AnswerWithoutThrowing([&]() -> int16_t {
    const char* name = reinterpret_cast<const char*>(path);
    if (!Writable(name)) return kResultFileError;
    book = new PageBook;
    book->name = name;
    return book->wic.Factory() ? kResultOk : kResultUnusablePage;
  });
  if (*result != kResultOk) {
    delete book;
    book = nullptr;
  }
  return book;
}

int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->ended) return book->ended;
    PageRows page(image, facts, true);
    if (!page.Ok()) return kResultUnusablePage;  // left out; the book goes on
    return AddFrameToBook(book, &page);
  });
}

int16_t AddBookFrame(PageBook* book, FrameRows* rows) {
  return AnswerWithoutThrowing([&] { return AddFrameToBook(book, rows); });
}

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (rows == 0 || rows > page->rows) return kResultUnusablePage;
    SpooledRows frame(page, rows, facts, true);
    return AddBookFrame(book, &frame);
  });
}

int16_t ClosePageBook(PageBook* book, int* pages) {
  const int16_t result = AnswerWithoutThrowing([&]() -> int16_t {
    if (!book->stream) return kResultOk;
    return SettleBook(book, kResultOk);
  });
  if (pages) *pages = book->pages;
  delete book;
  return result;
}

int PageBookCount(const PageBook* book) { return book->pages; }

int16_t BookTakesPage(const PageBook* book, const PageFacts& facts) {
  if (book->ended || !book->tiff || facts.width <= 0 || facts.height <= 0) return kResultOk;
  const uint64_t bits = facts.pixelType == TWPT_BW ? 1 : facts.pixelType == TWPT_GRAY ? 8 : 24;
  const uint64_t rowBytes = (uint64_t(facts.width) * bits + 7) / 8;
  return book->tiff->HasRoomFor(TiffPageBytes(rowBytes, uint64_t(facts.height))) ? kResultOk
                                                                                 : kResultFileTooLarge;
}
