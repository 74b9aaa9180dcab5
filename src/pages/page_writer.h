// Where the pages of a batch go. A batch is one scan that takes page after page from the
// source (scan/scan_session_batch.cpp); the writer decides what each page becomes, one call per
// page, so that every page is written before the next one is transferred and memory holds
// one page whatever the batch's length. A writer that makes one file of all the pages opens
// it in Begin and closes it in End.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/image_files.h"
#include "twain/globals.h"

// The answer of a writer that takes no page in rows (as for a page that cannot be encoded).
constexpr int16_t kNoRowsWriter = 2;

// Where the bytes of a page that the source compressed itself go as they come.
class PageBytes {
 public:
  virtual ~PageBytes() = default;
  // 0, or why they cannot be kept (8: the file cannot be written; 2: no memory).
  virtual int16_t Append(const void* bytes, size_t size) = 0;
};

class PageWriter {
 public:
  virtual ~PageWriter() = default;
  // Before the source is enabled: 0, or why the batch cannot start (nothing is scanned).
  virtual int16_t Begin(TwainGlobals* g) = 0;
  // Before page `number` (from 1) is transferred: 0 when it can be written. For a file
  // transfer g->filePath then names the file the source writes.
  virtual int16_t BeforePage(TwainGlobals* g, uint32_t number) = 0;
  // After a native transfer of page `number`: writes the page in g->imageHandle and leaves
  // imageHandle null, whatever the result.
  virtual int16_t WritePage(TwainGlobals* g, uint32_t number) = 0;
  // A page that came by memory transfer, as the first `rows` rows of `page` (which stays the
  // caller's). Writers whose format is not written from rows answer 2.
  virtual int16_t WriteRows(TwainGlobals*, uint32_t, RowPage*, uint32_t) { return kNoRowsWriter; }
  // A page the source compressed as a JPEG stream: where its bytes go as they come, or null
  // with *result set (2 where the writer takes no such page).
  virtual PageBytes* OpenCompressedPage(TwainGlobals*, uint32_t, int16_t* result) {
    *result = kNoRowsWriter;
    return nullptr;
  }
  // The end of that page: `result` 0 when it came whole (its bytes are kept), else why it
  // failed (what it left is removed). The page's answer.
  virtual int16_t EndCompressedPage(int16_t result) { return result; }
  // Page `number` failed (its transfer or its writing): removes what it left behind.
  virtual void Abandon(TwainGlobals* g, uint32_t number) = 0;
  // After the batch, whatever its end, with the number of pages written: closes what Begin
  // opened. 0, or the failure of that close.
  virtual int16_t End(TwainGlobals* g, uint32_t pages) = 0;
};

// A batch without a page limit stops after this many pages all the same: a source whose
// pending count never goes down would otherwise feed one batch for good.
constexpr uint32_t kMostPagesOfABatch = 9999;

// A batch as its scan runs it.
struct PageBatch {
  PageWriter* writer = nullptr;
  uint32_t maxPages = 0;  // 0: every page the source has
  uint32_t written = 0;   // pages written so far
  TW_IMAGEINFO info{};    // what the source said of the page being written (DAT_IMAGEINFO)
  // How the pages come: as the extension's TRANSFER option says (its words), settled to
  // byMemory once the source was asked; compressJpeg asks for JPEG strips (COMPRESSION JPEG
  // and a JPEG file).
  int32_t transfer = 0;
  bool compressJpeg = false;
  bool byMemory = false;
  bool zeroIsWhite = false;  // the source's 1-bit pages are TWPF_VANILLA
  // Blank pages (image/blank_meter.h): with leaveOutBlank, a page whose ink is at most
  // blankInk (the BLANKINK option's units) is judged before it is written, and a blank one is
  // neither written nor counted in `written` but in `leftOut`; pageLeftOut says it of the
  // page just taken.
  bool leaveOutBlank = false;
  int32_t blankInk = 0;
  uint32_t leftOut = 0;
  bool pageLeftOut = false;

  // The most pages the batch takes (the sheets the source hands over, blank ones included).
  uint32_t Limit() const { return maxPages != 0 ? maxPages : kMostPagesOfABatch; }
  uint32_t Taken() const { return written + leftOut; }
};
