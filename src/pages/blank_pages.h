// Blank pages left out: a writer in front of the batch's own writer that judges each page
// before it is written (image/blank_meter.h) and passes on only the pages that are not blank.
// A blank page is taken from the source like any other, counted as left out, and dropped; the
// next page takes its number, so the files hold the pages that were not blank, in order. The
// batch and the transfers know nothing of it: they hand pages to a writer. Where blank sheets
// separate documents, a blank page is a separator instead: dropped the same way, it ends the
// document being written (pages/documents.h). With duplex a separator is a sheet blank on both
// sides: the blank back of a sheet printed on its front is a blank page, left out or written as
// the options say, and separates nothing.
#pragma once
#include <cstdint>
#include <vector>

#include "pages/documents.h"
#include "pages/page_writer.h"

class LeaveOutBlankPages : public PageWriter {
 public:
  // How blank pages are taken.
  struct Rules {
    int32_t inkLimit = 0;                // the most ink of a blank page, in the BLANKINK option's units
    bool separates = false;              // a blank sheet ends a document
    bool leaveOut = true;                // a blank page that separates nothing is left out (else written)
    DocumentBreak* documents = nullptr;  // told of separators and pages left out (null: none)
  };
  LeaveOutBlankPages(PageWriter* pages, const Rules& rules) : pages_(pages), rules_(rules) {}
  ~LeaveOutBlankPages() override;
  LeaveOutBlankPages(const LeaveOutBlankPages&) = delete;
  LeaveOutBlankPages& operator=(const LeaveOutBlankPages&) = delete;

  const Rules& RulesOf() const { return rules_; }
  // The pages left out as blank so far.
  uint32_t LeftOut() const { return leftOut_; }
  // The blank pages taken as separators so far.
  uint32_t Separators() const { return separators_; }

  int16_t Begin(TwainGlobals* g) override { return pages_->Begin(g); }
  int16_t BeforePage(TwainGlobals* g, uint32_t) override { return pages_->BeforePage(g, NextNumber()); }
  int16_t TakesPage(const TW_IMAGEINFO& info) override { return pages_->TakesPage(info); }
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                    uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info,
                                int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  void Abandon(TwainGlobals* g, uint32_t) override { pages_->Abandon(g, NextNumber()); }
  int16_t End(TwainGlobals* g, uint32_t* pages) override;

 private:
  // The bytes of a compressed page, passed on as they come and kept to judge the page once it
  // ended; a page whose bytes find no memory to be kept is not judged (it is written).
  class KeptBytes : public PageBytes {
   public:
    int16_t Append(const void* bytes, size_t size) override;
    PageBytes* onward = nullptr;
    bool keeping = true;
    std::vector<uint8_t> kept;
  };

  uint32_t NextNumber() const { return written_ + 1; }
  // After the writer's answer on a page: counted when written.
  int16_t Written(int16_t result);
  // What becomes of a blank page: true when it is not written (a separator, or left out).
  bool TakeBlank();

  PageWriter* pages_;
  Rules rules_;
  uint32_t separators_ = 0;
  uint32_t written_ = 0;
  uint32_t leftOut_ = 0;
  KeptBytes compressed_;
  bool compressedOpen_ = false;
};
