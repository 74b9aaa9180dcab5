#include "acquire/encoded_pages.h"

#include "acquire/image_output.h"

EncodedPageFiles::EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest, TW_UINT16 format,
                                   const PageBatch* batch)
    : names_(path, numbered, longest), format_(format), batch_(batch) {}

int16_t EncodedPageFiles::WritePage(TwainGlobals* g, uint32_t) {
  int16_t r = WritePageFile(g->imageHandle, PageFactsOf(batch_->info), format_, names_.PageName().bytes);
  DisposeNativeImage(g);
  return r;
}

int16_t EncodedPageFiles::WriteRows(TwainGlobals*, uint32_t, RowPage* page, uint32_t rows) {
  if (!WritesFormatFromRows(format_)) return kNoRowsWriter;
  return WriteRowPageFile(page, rows, PageFactsOf(batch_->info), format_, names_.PageName().bytes);
}

ByteFile* EncodedPageFiles::OpenCompressedPage(TwainGlobals*, uint32_t, int16_t* result) {
  if (format_ != TWFF_JFIF) {
    *result = kNoRowsWriter;
    return nullptr;
  }
  return CreateByteFile(names_.PageName().bytes, format_, result);
}

// A book still open here is one whose batch never got going (its scan could not start).
TiffBookPages::~TiffBookPages() {
  if (book_) ClosePageBook(book_);
}

int16_t TiffBookPages::Begin(TwainGlobals*) {
  int16_t r = 0;
  book_ = OpenPageBook(path_.bytes, &r);
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

int16_t TiffBookPages::End(TwainGlobals*, uint32_t) {
  if (!book_) return 0;
  int16_t r = ClosePageBook(book_);
  book_ = nullptr;
  return r;
}
