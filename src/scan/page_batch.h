// A batch of Twain.ScanPages, in the three parts a scan meets it: what its caller asked for
// (BatchSettings, fixed before the scan), what the source agreed to (the route settled and the
// StripTerms of a memory transfer, before the source is enabled), and what it has taken so
// far (counted by the scan's session).
#pragma once
#include <cstdint>

#include "options/options.h"
#include "pages/documents.h"
#include "pages/page_log.h"
#include "pages/page_writer.h"

// A batch without a page limit stops after this many pages all the same: a source whose
// pending count never goes down would otherwise feed one batch for good.
constexpr uint32_t kMostPagesOfABatch = 9999;

struct BatchSettings {
  PageWriter* writer = nullptr;  // where every page goes
  uint32_t maxPages = 0;         // 0: every page the source has
  // How the pages come, where the extension writes them from rows: as the TRANSFER option
  // says (its words); compressJpeg asks for JPEG strips (COMPRESSION JPEG and JPEG pages).
  int32_t transfer = kTransferNative;
  bool compressJpeg = false;
  // Where the sheets come from (PaperSourceWord), and how many seconds an empty feeder is
  // waited for when the feeder is asked for.
  int32_t paperSource = kPaperSourceAuto;
  int32_t waitForPaper = 0;
  // Told of every page taken; with one, the source is asked what it read on each page
  // (extended image information) where it offers that.
  PageLog* log = nullptr;
  // Where the batch's session puts what the source reported of the page being taken (its
  // marks and the job's end), read by the log and the writer; null: nothing is collected.
  PageMarks* marks = nullptr;
  // Non-null where patch sheets separate documents: how the source does it, settled by the
  // session before it is enabled (a source that cannot fails the batch with 10).
  PatchSeparation* patchSeparation = nullptr;

  // The most pages the batch takes (the sheets the source hands over).
  uint32_t Limit() const { return maxPages != 0 ? maxPages : kMostPagesOfABatch; }
};
