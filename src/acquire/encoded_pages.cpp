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

// The book's file holds its pages once closed (none: there is no file), and only then
// takes the place of an older file.
int16_t TiffBookPages::End(TwainGlobals*, uint32_t) {
  if (!book_) return 0;
  const bool pages = PageBookCount(book_) > 0;
  int16_t r = ClosePageBook(book_);
  book_ = nullptr;
  int16_t placed = name_.Settle(pages ? 0 : kResultFileError);
  return r != 0 ? r : (pages ? placed : 0);
}
