// The files of one Twain.ScanPages, from its parameters to its counts: the route its format
// takes, the writer that route and the options choose (one file per page, a multi-page TIFF or
// a PDF, blank pages left out in front of it where the options ask), checked before anything
// is scanned; then the batch, and the files closed. The entry reads the parameters and opens
// the source; everything a batch is made of is decided here.
#pragma once
#include <cstdint>
#include <vector>

#include "pages/batch_writers.h"
#include "pages/blank_pages.h"
#include "pages/page_log.h"
#include "scan/page_batch.h"

class ScanPagesFiles : private PageLog {
 public:
  // path: the batch's file name as the host gave it; format: a TWAIN file format (0 to 9) or
  // PDF (10); maxPages: 0 for every page. The options of g say the rest.
  ScanPagesFiles(TwainGlobals* g, const HostPath& path, TW_UINT16 format, uint32_t maxPages);
  ScanPagesFiles(const ScanPagesFiles&) = delete;
  ScanPagesFiles& operator=(const ScanPagesFiles&) = delete;

  // Before the source is opened: 0 when the batch's files can be written (nothing is scanned
  // otherwise).
  int16_t Begin(TwainGlobals* g) { return batch_.writer->Begin(g); }
  // The pages, then the files closed: 0, or the batch's failure (the pages before it written
  // and counted), or the failure to close the files.
  int16_t Scan(TwainGlobals* g);
  // After Scan: the pages the files hold, and the pages left out as blank.
  uint32_t Written() const { return written_; }
  uint32_t LeftOut() const { return blank_.LeftOut(); }
  // After Scan: what each page the source delivered was, in order (a page the batch failed on
  // is none of them).
  const std::vector<PageLine>& Pages() const { return lines_; }

 private:
  // The writer of the route's files.
  PageWriter* FilesWriter();
  void Taken(uint32_t number, const TW_IMAGEINFO& info, const PageMarks& marks) override;

  PageRoute route_;
  PlainPageFiles plain_;
  EncodedPageFiles encoded_;
  TiffBookPages book_;
  PdfPages document_;
  LeaveOutBlankPages blank_;
  BatchSettings batch_;
  uint32_t written_ = 0;
  HostPath path_;
  std::vector<PageLine> lines_;
  uint32_t leftOutSeen_ = 0;  // the pages left out as blank before the last one taken
};
