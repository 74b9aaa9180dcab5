#include "acquire/encoded_pages.h"

#include "acquire/image_output.h"

EncodedPageFiles::EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest, TW_UINT16 format,
                                   const PageBatch* batch)
    : names_(path, numbered, longest), format_(format), batch_(batch) {}

int16_t EncodedPageFiles::WritePage(TwainGlobals* g, uint32_t) {
  int16_t r = WritePageFile(g->imageHandle, PageFactsOf(batch_->info), format_, names_.WriteName().bytes);
  DisposeNativeImage(g);
  return names_.Settle(r);
}

int16_t EncodedPageFiles::WriteRows(TwainGlobals*, uint32_t, RowPage* page, uint32_t rows) {
  if (!WritesFormatFromRows(format_)) return kNoRowsWriter;
  return names_.Settle(
      WriteRowPageFile(page, rows, PageFactsOf(batch_->info), format_, names_.WriteName().bytes));
}

ByteFile* EncodedPageFiles::OpenCompressedPage(TwainGlobals*, uint32_t, int16_t* result) {
  if (format_ != TWFF_JFIF) {
    *result = kNoRowsWriter;
    return nullptr;
  }
  return CreateByteFile(names_.WriteName().bytes, format_, result);
}

// A book still open here is one whose batch never got going (its scan could not start).
TiffBookPages::~TiffBookPages() {
  if (!book_) return;
  ClosePageBook(book_);  // no page: no file
  name_.Settle(kResultFileError);
}

int16_t TiffBookPages::Begin(TwainGlobals* g) {
  int16_t r = name_.Begin(g);
  if (r == 0) book_ = OpenPageBook(name_.WriteName().bytes, &r);
  return r;
}

int16_t TiffBookPages::WritePage(TwainGlobals* g, uint32_t) {
  int16_t r = AddBookPage(book_, g->imageHandle, PageFactsOf(batch_->info));
  DisposeNativeImage(g);
  return r;
}

int16_t TiffBookPages::WriteRows(TwainGlobals*, uint32_t, RowPage* page, uint32_t rows) {
  return AddBookRowPage(book_, page, rows, PageFactsOf(batch_->info));
}

// The batch counts the pages the book's file holds once closed: after a failure they may be
// fewer than it took. A file with a page takes the place of an older file of its name (none:
// there is no file, and the older file stays); a page count the file cannot stand under its
// name is 0.
int16_t TiffBookPages::End(TwainGlobals*, uint32_t) {
  if (!book_) return 0;
  int pages = 0;
  const int16_t r = ClosePageBook(book_, &pages);
  book_ = nullptr;
  const int16_t placed = name_.Settle(pages > 0 ? kResultOk : kResultFileError);
  if (pages > 0 && placed != kResultOk) pages = 0;
  if (static_cast<uint32_t>(pages) < batch_->written) batch_->written = static_cast<uint32_t>(pages);
  if (r != kResultOk) return r;
  return pages > 0 ? placed : kResultOk;
}
