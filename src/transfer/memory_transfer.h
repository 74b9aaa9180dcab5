// A page of a batch by buffered memory transfer: the source fills a buffer the extension
// gives it, strip after strip, until the page is done, and each strip goes at once to where
// the page is being made (rows for the platform's writers, or the bytes of a JPEG file the
// source compressed), so that the page never passes through a native image.
#pragma once
#include "pages/page_writer.h"
#include "record/globals.h"

// What the source said of its pages' pixels, settled before it was enabled.
struct StripTerms {
  bool zeroIsWhite = false;  // the source's 1-bit pages are TWPF_VANILLA
  // Mac, a native batch: the source takes ICAP_XFERMECH memory in state 6 (it agreed to
  // through CAP_EXTENDEDCAPS), so a page too large for a picture can still come, by memory.
  bool lateMemory = false;
};

// Page `number` of the batch (announced, TWAIN state 6) into `writer`: its own
// DAT_IMAGEINFO, DAT_SETUPMEMXFER, DAT_IMAGEMEMXFER until TWRC_XFERDONE, MSG_ENDXFER, then
// the page written. 0; 5 when the source cancelled; 3000 + cc (or another translated code)
// when it failed; 2 for a strip that reaches outside the page or its buffer, a page of a
// pixel layout that cannot be written, or no memory; or the writer's failure. A page that
// fails leaves no file. *left: as CollectImage gives it (0 when the transfer was not ended).
// A page that arrived whole (TWRC_XFERDONE) whose end the source then refused is written all
// the same, and the refusal goes to *endRefused (as CollectImage gives it). *info receives
// what the source said of the page (DAT_IMAGEINFO).
int16_t CollectPageByMemory(TwainGlobals* g, PageWriter* writer, const StripTerms& terms, uint32_t number,
                            TW_IMAGEINFO* info, TW_UINT16* left, int16_t* endRefused);
