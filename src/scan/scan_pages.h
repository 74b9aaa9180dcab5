// The files of one Twain.ScanPages, from its parameters to its counts: the route its format
// takes, the writer that route and the options choose (one file per page, a multi-page TIFF or
// a PDF, for each document where the batch is separated into documents, blank pages left out
// or taken as separators in front of it where the options ask), checked before anything is
// scanned; then the batch, and the files closed. The entry reads the parameters and opens
// the source; everything a batch is made of is decided here.
#pragma once
#include <cstdint>
#include <vector>

#include "pages/batch_writers.h"
#include "pages/blank_pages.h"
#include "pages/page_log.h"
#include "scan/page_batch.h"

// What the files are for: a Twain.ScanPages batch (separated into documents where the options
// ask), or the single page of Twain.ScanToFile.
enum class FilesOf { kBatch, kSinglePage };

class ScanPagesFiles : private PageLog, private DocumentWriters {
 public:
  // path: the batch's file name as the host gave it; format: a TWAIN file format (0 to 9) or
  // PDF (10); maxPages: 0 for every page. The options of g say the rest.
  ScanPagesFiles(TwainGlobals* g, const HostPath& path, TW_UINT16 format, uint32_t maxPages,
                 FilesOf of = FilesOf::kBatch);
  ScanPagesFiles(const ScanPagesFiles&) = delete;
  ScanPagesFiles& operator=(const ScanPagesFiles&) = delete;

  // Before the source is opened: 0 when the batch's files can be written (nothing is scanned
  // otherwise).
  // Blank sheets separate documents only where the extension sees the pages' pixels (it
  // encodes them itself): else 10.
  int16_t Begin(TwainGlobals* g);
  // The pages, then the files closed: 0, or the batch's failure (the pages before it written
  // and counted), or the failure to close the files.
  int16_t Scan(TwainGlobals* g);
  // After Scan: the pages the files hold, and the pages left out as blank.
  uint32_t Written() const { return written_; }
  uint32_t LeftOut() const { return blank_.LeftOut(); }
  // After Scan: the documents whose files hold a page.
  uint32_t Documents() const { return documents_.Documents(); }
  // After Scan: what each page the source delivered was, in order (a page the batch failed on
  // is none of them).
  const std::vector<PageLine>& Pages() const { return lines_; }

 private:
  // The writer of one document's files in the route's format.
  std::unique_ptr<PageWriter> Writer(const HostPath& path, bool numbered) override;
  void Taken(uint32_t number, const TW_IMAGEINFO& info, const PageMarks& marks) override;
  uint32_t SeparatorsSoFar() const { return blank_.Separators() + documents_.Separators(); }

  PageRoute route_;
  uint32_t maxPages_;
  int jpegQuality_;
  PdfSettings pdf_;
  int32_t separation_;
  PageMarks marks_;
  PatchSeparation patches_ = PatchSeparation::kNone;
  DocumentFiles documents_;
  LeaveOutBlankPages blank_;
  BatchSettings batch_;
  uint32_t written_ = 0;
  std::vector<PageLine> lines_;
  uint32_t leftOutSeen_ = 0;     // the pages left out as blank before the last one taken
  uint32_t separatorsSeen_ = 0;  // the separators before the last one taken
};
