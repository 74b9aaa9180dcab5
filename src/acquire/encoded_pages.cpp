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

// The batch counts the pages the file holds: after a failure they may be fewer than it took.
int16_t TiffBookPages::End(TwainGlobals*, uint32_t) {
  if (!book_) return 0;
  int pages = 0;
  int16_t r = ClosePageBook(book_, &pages);
  book_ = nullptr;
  if (static_cast<uint32_t>(pages) < batch_->written) batch_->written = static_cast<uint32_t>(pages);
  return r;
}
