// Where the pages of a batch go. A batch is one scan that takes page after page from the
// source (scan/scan_session_batch.cpp); the writer decides what each page becomes, one call
// per page, so that every page is written before the next one is transferred and memory holds
// one page whatever the batch's length. A writer that makes one file of all the pages opens
// it in Begin and closes it in End. A writer may stand in front of another (pages/blank_pages.h):
// the batch sees one writer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/row_page.h"
#include "record/globals.h"
#include "twain/result_codes.h"

// Where the bytes of a page that the source compressed itself go as they come.
class PageBytes {
 public:
  virtual ~PageBytes() = default;
  // 0, or why they cannot be kept (8: the file cannot be written; 2: no memory).
  virtual int16_t Append(const void* bytes, size_t size) = 0;
};

// `number` is the page's place in the batch (from 1); `info` what the source said of the page
// before its transfer (DAT_IMAGEINFO).
class PageWriter {
 public:
  virtual ~PageWriter() = default;
  // Before the source is enabled: 0, or why the batch cannot start (nothing is scanned).
  virtual int16_t Begin(TwainGlobals* g) = 0;
  // Before page `number` is transferred: 0 when it can be written. For a file transfer
  // g->filePath then names the file the source writes.
  virtual int16_t BeforePage(TwainGlobals* g, uint32_t number) = 0;
  // Once the source said what the page is (DAT_IMAGEINFO), before its transfer: 0 when a page
  // of that size can be written, else why not (the page is then not transferred).
  virtual int16_t TakesPage(const TW_IMAGEINFO&) { return 0; }
  // After the transfer of page `number`: writes the native page in g->imageHandle and leaves
  // imageHandle null, whatever the result; after a file transfer, the file is the source's.
  virtual int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) = 0;
  // A page that came by memory transfer, as the first `rows` rows of `page` (which stays the
  // caller's). Writers whose format is not written from rows answer 2.
  virtual int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                            uint32_t rows) = 0;
  // A page the source compressed as a JPEG stream: where its bytes go as they come, or null
  // with *result set (2 where the writer takes no such page).
  virtual PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info,
                                        int16_t* result) = 0;
  // The end of that page: `result` 0 when it came whole (its bytes are kept), else why it
  // failed (what it left is removed). The page's answer.
  virtual int16_t EndCompressedPage(int16_t result) = 0;
  // Page `number` failed (its transfer or its writing): removes what it left behind.
  virtual void Abandon(TwainGlobals* g, uint32_t number) = 0;
  // After the batch, whatever its end: closes what Begin opened. *pages, the pages this
  // writer took, becomes the pages its files hold (after a failure a file may hold fewer than
  // it took). 0, or the failure of that close.
  virtual int16_t End(TwainGlobals* g, uint32_t* pages) = 0;
};

// A writer that takes no page the source compressed itself.
class UncompressedPageWriter : public PageWriter {
 public:
  PageBytes* OpenCompressedPage(TwainGlobals*, uint32_t, const TW_IMAGEINFO&, int16_t* result) override {
    *result = kResultUnusablePage;
    return nullptr;
  }
  int16_t EndCompressedPage(int16_t result) override { return result; }
};

// A writer that takes neither rows nor compressed pages (its format is written from native
// pages or by the source).
class NativePageWriter : public UncompressedPageWriter {
 public:
  int16_t WriteRows(TwainGlobals*, uint32_t, const TW_IMAGEINFO&, RowPage*, uint32_t) override {
    return kResultUnusablePage;
  }
};
