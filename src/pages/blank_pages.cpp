#include "pages/blank_pages.h"

#include <new>

#include "image/blank_meter.h"
#include "image/page_facts.h"
#include "pages/page_delivery.h"

LeaveOutBlankPages::~LeaveOutBlankPages() {
  if (compressedOpen_) pages_->EndCompressedPage(kResultUnusablePage);  // the page did not end well
}

int16_t LeaveOutBlankPages::Written(int16_t result) {
  if (result == kResultOk) ++written_;
  return result;
}

// A blank page separates documents where blank sheets do, unless it is the back of a sheet
// whose front did not separate (duplex: a sheet printed on its front only); the back of any
// separator separates with it. Else it is left out, or written as any page where blank pages
// are kept.
bool LeaveOutBlankPages::TakeBlank() {
  DocumentBreak* documents = rules_.documents;
  if (documents && (documents->BackOfSeparator() || (rules_.separates && !documents->BackOfSheet()))) {
    ++separators_;
    documents->BreakDocument();
    return true;
  }
  if (!rules_.leaveOut) return false;
  ++leftOut_;
  if (documents) documents->PageLeftOut();
  return true;
}

int16_t LeaveOutBlankPages::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  if (IsBlankNativePage(g->imageHandle, PageFactsOf(info), rules_.inkLimit) && TakeBlank()) {
    DisposeNativeImage(g);
    return kResultOk;
  }
  return Written(pages_->WritePage(g, NextNumber(), info));
}

int16_t LeaveOutBlankPages::WriteRows(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info, RowPage* page,
                                      uint32_t rows) {
  if (IsBlankRowPage(page, rows, PageFactsOf(info), rules_.inkLimit) && TakeBlank()) return kResultOk;
  return Written(pages_->WriteRows(g, NextNumber(), info, page, rows));
}

int16_t LeaveOutBlankPages::KeptBytes::Append(const void* bytes, size_t size) {
  if (keeping) {
    try {
      const uint8_t* from = static_cast<const uint8_t*>(bytes);
      kept.insert(kept.end(), from, from + size);
    } catch (const std::bad_alloc&) {
      keeping = false;
      std::vector<uint8_t>().swap(kept);
    }
  }
  return onward->Append(bytes, size);
}

PageBytes* LeaveOutBlankPages::OpenCompressedPage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info,
                                                  int16_t* result) {
  compressed_.onward = pages_->OpenCompressedPage(g, NextNumber(), info, result);
  if (!compressed_.onward) return nullptr;
  compressed_.keeping = true;
  std::vector<uint8_t>().swap(compressed_.kept);
  compressedOpen_ = true;
  return &compressed_;
}

// A page that came whole is judged from its bytes: a blank one is not kept by the writer.
int16_t LeaveOutBlankPages::EndCompressedPage(int16_t result) {
  if (!compressedOpen_) return result;
  compressedOpen_ = false;
  std::vector<uint8_t> kept;
  kept.swap(compressed_.kept);  // the page's memory goes with it
  if (result == kResultOk && compressed_.keeping && !kept.empty() &&
      IsBlankJpegPage(kept.data(), kept.size(), rules_.inkLimit) && TakeBlank()) {
    pages_->EndCompressedPage(kResultUnusablePage);  // not kept: the page is left out
    return kResultOk;
  }
  return Written(pages_->EndCompressedPage(result));
}

int16_t LeaveOutBlankPages::End(TwainGlobals* g, uint32_t* pages) {
  *pages = written_;
  return pages_->End(g, pages);
}
