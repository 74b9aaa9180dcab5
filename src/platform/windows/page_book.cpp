// The multi-page TIFF on Windows: one TIFF encoder for the whole batch, each page a frame as it
// arrives (wic_frame.h); memory holds the page being written, whatever the batch's length. The
// file is created with the first page (a file of that name stays as it was until then) and
// written through a CheckedFileStream. A failed write (a full disk) is found in the stream,
// whatever the encoder answers: the book goes back to the last point where its file was
// complete, then counts its pages by reading the file back with WIC's own decoder.
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include <string>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"
#include "platform/windows/row_page_store.h"
#include "platform/windows/wic.h"
#include "platform/windows/wic_frame.h"
#include "twain/result_codes.h"

struct PageBook {
  ~PageBook() {
    encoder.Reset();
    if (stream) stream->Release();
  }
  Wic wic;
  std::string name;
  CheckedFileStream* stream = nullptr;  // from the first page on
  Held<IWICBitmapEncoder> encoder;
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

// Ends the book's file: the encoder goes (what it still writes is kept out), a failed book
// goes back to its last complete state, and the pages are those the file holds, read back.
// A file without a page is removed. `failure`: 0 after the encoder's own end.
int16_t SettleBook(PageBook* book, int16_t failure) {
  CheckedFileStream* stream = book->stream;
  stream->StopWrites();
  book->encoder.Reset();
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
    if (FAILED(NewEncoder(book->wic.Factory(), TWFF_TIFFMULTI, book->stream, &book->encoder)))
      return SettleBook(book, kResultUnusablePage);
  }
  const HRESULT hr = AddFrame(book->encoder.Get(), page, TWFF_TIFFMULTI, book->stream, true);
  if (book->stream->OutOfMemory()) return SettleBook(book, kResultUnusablePage);
  if (book->stream->Failed()) return SettleBook(book, kResultFileError);
  if (FAILED(hr)) return SettleBook(book, kResultUnusablePage);
  ++book->pages;
  return kResultOk;
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
    const HRESULT hr = book->encoder->Commit();
    return SettleBook(book, FAILED(hr) ? kResultFileError : kResultOk);
  });
  if (pages) *pages = book->pages;
  delete book;
  return result;
}

int PageBookCount(const PageBook* book) { return book->pages; }

uint64_t PageBookBytes(const PageBook* book) {
  STATSTG stat{};
  if (!book->stream || FAILED(book->stream->Stat(&stat, STATFLAG_NONAME))) return 0;
  return stat.cbSize.QuadPart;
}
