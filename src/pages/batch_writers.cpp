#include "pages/batch_writers.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "image/jpeg_frame.h"
#include "image/no_throw.h"
#include "pages/page_delivery.h"

namespace {

// After a file of every page was closed with `closed`, holding `pages`: the batch counts the
// pages the file holds (after a failure they may be fewer than it took). A file with a page
// takes the place of an older file of its name (none: there is no file, and the older file
// stays); a page count the file cannot stand under its name is 0. The batch's answer.
int16_t SettleOneFile(PageName* name, uint32_t* taken, int pages, int16_t closed) {
  const int16_t placed =
      name->Settle(pages > 0 ? kResultOk : kResultFileError, pages > 0 ? uint32_t(pages) : 0);
  if (pages > 0 && placed != kResultOk) pages = 0;
  if (static_cast<uint32_t>(pages) < *taken) *taken = static_cast<uint32_t>(pages);
  if (closed != kResultOk) return closed;
  return pages > 0 ? placed : kResultOk;
}

}  // namespace

int16_t PlainPageFiles::Named(TwainGlobals* g, int16_t result) {
  if (result == 0 && route_.transfer == PageTransfer::kFile) {
    static_assert(sizeof g->filePath <= sizeof(HostPath{}.bytes), "a page's name fills the record's path");
    std::memcpy(g->filePath, names_.WriteName().bytes, sizeof g->filePath);
  }
  return result;
}

int16_t PlainPageFiles::Begin(TwainGlobals* g) { return Named(g, names_.Begin()); }

int16_t PlainPageFiles::BeforePage(TwainGlobals* g, uint32_t number) { return Named(g, names_.Name(number)); }

// A file transfer's page is the source's file already, under the temporary name.
int16_t PlainPageFiles::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO&) {
  if (route_.transfer == PageTransfer::kFile) return names_.Settle(kResultOk);
  if (!g->imageHandle) return names_.Settle(kResultUnusablePage);
  return names_.Settle(WriteImageToFile(g, names_.WriteName().bytes));
}

// What a failed page (a file transfer's included) left under its temporary name goes.
void PlainPageFiles::Abandon(TwainGlobals*, uint32_t) { names_.Settle(kResultFileError); }

int16_t PlainPageFiles::End(TwainGlobals*, uint32_t*) {
  names_.EndSeries();
  return 0;
}

EncodedPageFiles::EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest,
                                   const PageRoute& route, int jpegQuality)
    : names_(path, numbered, longest, route.existing), route_(route), jpegQuality_(jpegQuality) {}

int16_t EncodedPageFiles::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  int16_t r =
      WritePageFile(g->imageHandle, PageFactsOf(info), route_.format, names_.WriteName().bytes, jpegQuality_);
  DisposeNativeImage(g);
  return names_.Settle(r);
}

int16_t EncodedPageFiles::WriteRows(TwainGlobals*, uint32_t, const TW_IMAGEINFO& info, RowPage* page,
                                    uint32_t rows) {
  if (!route_.TakesRows()) return kResultUnusablePage;
  return names_.Settle(
      WriteRowPageFile(page, rows, PageFactsOf(info), route_.format, names_.WriteName().bytes, jpegQuality_));
}

PageBytes* EncodedPageFiles::OpenCompressedPage(TwainGlobals*, uint32_t, const TW_IMAGEINFO&, int16_t* result) {
  if (route_.format != TWFF_JFIF) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  compressed_.file = CreateByteFile(names_.WriteName().bytes, route_.format, result);
  return compressed_.file ? &compressed_ : nullptr;
}

// The file stands under the page's name once closed whole.
int16_t EncodedPageFiles::EndCompressedPage(int16_t result) {
  if (!compressed_.file) return result;
  const int16_t closed = CloseByteFile(compressed_.file, result == kResultOk);
  compressed_.file = nullptr;
  return names_.Settle(result == kResultOk && closed != 0 ? kResultFileError : result);
}

// A book still open here is one whose batch never got going (its scan could not start).
TiffBookPages::~TiffBookPages() {
  if (!book_) return;
  ClosePageBook(book_);  // no page: no file
  name_.Settle(kResultFileError);
}

int16_t TiffBookPages::Begin(TwainGlobals*) {
  int16_t r = name_.Begin();
  if (r == 0) book_ = OpenPageBook(name_.WriteName().bytes, &r);
  return r;
}

// A page's room in the book: its rows uncompressed, an offset and a count for each row (the
// most strips it can have) and its directory. A page whose length the source does not know
// yet is taken to need as much as the largest page before it.
int16_t TiffBookPages::TakesPage(const TW_IMAGEINFO& info) {
  uint64_t need = largestPage_;
  if (info.ImageWidth > 0 && info.ImageLength > 0 && info.BitsPerPixel > 0) {
    const uint64_t rowBytes = (uint64_t(info.ImageWidth) * uint64_t(info.BitsPerPixel) + 7) / 8;
    const uint64_t rows = uint64_t(info.ImageLength);
    need = std::max(need, (rowBytes + 8) * rows + 4096);
  }
  const uint64_t have = book_ ? PageBookBytes(book_) : 0;
  return have + need > largestBook_ ? kResultBookFull : kResultOk;
}

int16_t TiffBookPages::Grew(uint64_t before, int16_t result) {
  const uint64_t after = PageBookBytes(book_);
  if (result == kResultOk && after > before) largestPage_ = std::max(largestPage_, after - before);
  return result;
}

int16_t TiffBookPages::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  const uint64_t before = PageBookBytes(book_);
  int16_t r = AddBookPage(book_, g->imageHandle, PageFactsOf(info));
  DisposeNativeImage(g);
  return Grew(before, r);
}

int16_t TiffBookPages::WriteRows(TwainGlobals*, uint32_t, const TW_IMAGEINFO& info, RowPage* page,
                                 uint32_t rows) {
  const uint64_t before = PageBookBytes(book_);
  return Grew(before, AddBookRowPage(book_, page, rows, PageFactsOf(info)));
}

int16_t TiffBookPages::End(TwainGlobals*, uint32_t* taken) {
  if (!book_) return 0;
  int pages = 0;
  const int16_t r = ClosePageBook(book_, &pages);
  book_ = nullptr;
  return SettleOneFile(&name_, taken, pages, r);
}

// A document still open here is one whose batch never got going (its scan could not start).
PdfPages::~PdfPages() {
  if (!document_) return;
  delete document_;  // no page: no file
  name_.Settle(kResultFileError);
}

int16_t PdfPages::Begin(TwainGlobals*) {
  int16_t r = name_.Begin();
  if (r != 0) return r;
  return AnswerWithoutThrowing([&] {
    document_ = new PdfDocument(name_.WriteName().bytes, settings_);
    return kResultOk;
  });
}

// The page's pixels (null when they could not be made, with `made` the reason) into the
// document.
int16_t PdfPages::AddPixels(std::unique_ptr<PagePixels> pixels, int16_t made) {
  return pixels ? document_->AddPage(*pixels) : (made != 0 ? made : kResultUnusablePage);
}

int16_t PdfPages::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  int16_t made = 0;
  const int16_t r = AnswerWithoutThrowing(
      [&] { return AddPixels(NativePagePixels(g->imageHandle, PageFactsOf(info), &made), made); });
  DisposeNativeImage(g);
  return r;
}

int16_t PdfPages::WriteRows(TwainGlobals*, uint32_t, const TW_IMAGEINFO& info, RowPage* page, uint32_t rows) {
  int16_t made = 0;
  return AnswerWithoutThrowing(
      [&] { return AddPixels(RowPagePixels(page, rows, PageFactsOf(info), &made), made); });
}

int16_t PdfPages::Gathered::Append(const void* more, size_t size) {
  if (size > bytes.max_size() - bytes.size()) return kResultUnusablePage;
  const uint8_t* from = static_cast<const uint8_t*>(more);
  try {
    bytes.insert(bytes.end(), from, from + size);
  } catch (const std::bad_alloc&) {
    return kResultUnusablePage;
  }
  return kResultOk;
}

PageBytes* PdfPages::OpenCompressedPage(TwainGlobals*, uint32_t, const TW_IMAGEINFO& info, int16_t* result) {
  std::vector<uint8_t>().swap(compressed_.bytes);  // empty, its memory freed
  compressedInfo_ = info;
  *result = kResultOk;
  return &compressed_;
}

// The page's size and kind are what its stream says (a page that ended short, or came with
// ImageLength -1, is the rows that came); its resolution what the source said of it. A stream
// that gives its height only after its scan (DNL) takes the length the source announced.
int16_t PdfPages::EndCompressedPage(int16_t result) {
  std::vector<uint8_t> bytes;
  bytes.swap(compressed_.bytes);  // the page's memory goes with it
  if (result != kResultOk) return result;
  const TW_IMAGEINFO& info = compressedInfo_;
  JpegFrame frame;
  if (!ReadJpegFrame(bytes.data(), bytes.size(), &frame) || (frame.components != 1 && frame.components != 3))
    return kResultUnusablePage;
  if (frame.height == 0) {
    if (info.ImageLength <= 0) return kResultUnusablePage;
    frame.height = static_cast<uint32_t>(info.ImageLength);
  }
  const PageFacts facts = PageFactsOf(info);
  JpegPageFacts jpeg;
  jpeg.width = frame.width;
  jpeg.height = frame.height;
  jpeg.components = frame.components;
  jpeg.xDpi = facts.xResolution;
  jpeg.yDpi = facts.yResolution;
  return document_->AddJpegPage(bytes.data(), bytes.size(), jpeg);
}

int16_t PdfPages::End(TwainGlobals*, uint32_t* taken) {
  if (!document_) return 0;
  int pages = 0;
  const int16_t r = document_->Close(&pages);
  delete document_;
  document_ = nullptr;
  return SettleOneFile(&name_, taken, pages, r);
}
