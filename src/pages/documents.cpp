#include "pages/documents.h"

#include <new>

#include "pages/page_delivery.h"

int16_t DocumentFiles::StartDocument(TwainGlobals* g) {
  HostPath path = path_;
  if (naming_.separated && !NumberedPageName(path_, ended_ + 1, &path)) return kResultFileError;
  try {
    current_ = writers_->Writer(path, naming_.numbered);
  } catch (const std::bad_alloc&) {
    current_.reset();
  }
  if (!current_) return kResultUnusablePage;
  currentPath_ = path;
  const int16_t r = current_->Begin(g);
  if (r != 0) current_.reset();
  return r;
}

int16_t DocumentFiles::EndDocument(TwainGlobals* g) {
  uint32_t pages = inDocument_;
  const int16_t r = current_->End(g, &pages);
  current_.reset();
  kept_ += pages;
  if (pages > 0) ++documents_;
  if (inDocument_ > 0) ++ended_;
  inDocument_ = 0;
  return r;
}

int16_t DocumentFiles::BeforePage(TwainGlobals* g, uint32_t) {
  if (break_ && inDocument_ > 0) {
    const int16_t r = EndDocument(g);
    if (r != 0) return r;
  }
  break_ = false;
  if (!current_) {
    const int16_t r = StartDocument(g);
    if (r != 0) return r;
  }
  return current_->BeforePage(g, inDocument_ + 1);
}

bool DocumentFiles::Front() const { return marks_ && marks_->side == TWCS_TOP; }

bool DocumentFiles::BackOfSheet() const { return marks_ && marks_->side == TWCS_BOTTOM; }

bool DocumentFiles::BackOfSeparator() const { return frontSeparated_ && BackOfSheet(); }

bool DocumentFiles::Separator() const {
  if (!patches_ || *patches_ != PatchSeparation::kPatchMarks || !marks_) return false;
  return marks_->patch >= 0 || BackOfSeparator();
}

void DocumentFiles::Separates() {
  if (!BackOfSeparator()) separatorOf_ = Document();
  frontSeparated_ = Front();
  break_ = true;
}

int16_t DocumentFiles::Separated() {
  ++separators_;
  Separates();
  return kResultOk;
}

bool DocumentFiles::JobEnded() const {
  return patches_ && *patches_ == PatchSeparation::kJobControl && marks_ && marks_->jobEnd != 0;
}

void DocumentFiles::PageLeftOut() {
  frontSeparated_ = false;
  if (JobEnded()) break_ = true;
}

int16_t DocumentFiles::Written(int16_t result) {
  if (result != kResultOk) return result;
  ++inDocument_;
  frontSeparated_ = false;
  if (JobEnded()) break_ = true;
  return result;
}

int16_t DocumentFiles::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  if (!current_ || Separator()) {
    DisposeNativeImage(g);
    if (!current_) return kResultUnusablePage;
    current_->Abandon(g, inDocument_ + 1);  // a file the source wrote of the sheet goes
    return Separated();
  }
  return Written(current_->WritePage(g, inDocument_ + 1, info));
}

int16_t DocumentFiles::WriteRows(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info, RowPage* page,
                                 uint32_t rows) {
  if (!current_) return kResultUnusablePage;
  if (Separator()) return Separated();
  return Written(current_->WriteRows(g, inDocument_ + 1, info, page, rows));
}

PageBytes* DocumentFiles::OpenCompressedPage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info,
                                             int16_t* result) {
  if (!current_) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  return current_->OpenCompressedPage(g, inDocument_ + 1, info, result);
}

int16_t DocumentFiles::EndCompressedPage(int16_t result) {
  if (!current_) return result;
  if (result == kResultOk && Separator()) {
    current_->EndCompressedPage(kResultUnusablePage);  // not kept: the sheet separates
    return Separated();
  }
  return Written(current_->EndCompressedPage(result));
}

void DocumentFiles::Abandon(TwainGlobals* g, uint32_t) {
  if (current_) current_->Abandon(g, inDocument_ + 1);
}

int16_t DocumentFiles::End(TwainGlobals* g, uint32_t* pages) {
  int16_t r = kResultOk;
  if (current_) r = EndDocument(g);
  *pages = kept_;
  return r;
}

PagePlace DocumentFiles::LastWritten() const {
  PagePlace place;
  place.document = Document();
  place.pageInFile = naming_.oneFile ? inDocument_ : 1;
  HostPath page = currentPath_;
  if (!naming_.oneFile && naming_.numbered && !NumberedPageName(currentPath_, inDocument_, &page)) return place;
  place.file = HostPathText(page);
  return place;
}
