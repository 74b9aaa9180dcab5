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

int16_t LeaveOutBlankPages::LeaveOut() {
  if (breaks_) {
    ++separators_;
    breaks_->BreakDocument();
    return kResultOk;
  }
  ++leftOut_;
  return kResultOk;
}

int16_t LeaveOutBlankPages::WritePage(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info) {
  if (IsBlankNativePage(g->imageHandle, PageFactsOf(info), inkLimit_)) {
    DisposeNativeImage(g);
    return LeaveOut();
  }
  return Written(pages_->WritePage(g, NextNumber(), info));
}

int16_t LeaveOutBlankPages::WriteRows(TwainGlobals* g, uint32_t, const TW_IMAGEINFO& info, RowPage* page,
                                      uint32_t rows) {
  if (IsBlankRowPage(page, rows, PageFactsOf(info), inkLimit_)) return LeaveOut();
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
      IsBlankJpegPage(kept.data(), kept.size(), inkLimit_)) {
    pages_->EndCompressedPage(kResultUnusablePage);  // not kept: the page is left out
    return LeaveOut();
  }
  return Written(pages_->EndCompressedPage(result));
}

int16_t LeaveOutBlankPages::End(TwainGlobals* g, uint32_t* pages) {
  *pages = written_;
  return pages_->End(g, pages);
}
