// A batch: the same scan taking pages while the source has more. After each page the source
// says, in its answer to MSG_ENDXFER, how many transfers it still holds: another (any count
// but 0, also the -1 of a source that does not know) means the next transfer follows at once,
// in state 6 and without a new ready report, unless the batch is full, when MSG_RESET drops
// the rest. 0 ends the batch; with the interface shown the source went back to state 5, where
// its user may scan again, and the batch ends when the user closes the interface.
//
// Every page is written before the next one is transferred, and no page is transferred that
// could not be written: a destination that cannot take it, or a page that failed to be
// written, drops what the source still holds and ends the batch with that failure. A page
// that arrived whole is written and counted even when the source then refuses to end its
// transfer; the refusal ends the batch. A blank page left out (image/blank_meter.h) is
// taken like any other but not written: the next page takes its number.
#include "image/blank_meter.h"
#include "transfer/collect_image.h"
#include "pages/page_delivery.h"
#include "transfer/memory_transfer.h"
#include "scan/scan_session.h"
#include "caps/write_caps.h"
#include "twain/requests.h"

namespace {

// CAP_XFERCOUNT is a 16-bit count; -1 asks for every page.
constexpr uint32_t kLargestTransferCount = 32767;
constexpr int32_t kEveryPage = -1;

}  // namespace

// The source learns the limit before it is enabled. A source that refuses it is stopped after
// the limit all the same.
void ScanSession::AnnouncePageLimit() {
  uint32_t limit = batch_->maxPages;
  bool all = limit == 0 || limit > kLargestTransferCount;
  SetCapInt(g_, CAP_XFERCOUNT, all ? kEveryPage : static_cast<int32_t>(limit));
}

// A natively transferred page: written, or, when it is blank and blank pages are left out,
// released unwritten.
int16_t ScanSession::WriteOrLeaveOut(uint32_t number) {
  if (batch_->leaveOutBlank && IsBlankNativePage(*imageSlot_, PageFactsOf(batch_->info), batch_->blankInk)) {
    DisposeNativeImage(g_);
    batch_->pageLeftOut = true;
    return kResultOk;
  }
  return batch_->writer->WritePage(g_, number);
}

void ScanSession::TakePages() {
  for (;;) {
    uint32_t number = batch_->written + 1;
    int16_t r = batch_->writer->BeforePage(g_, number);
    if (r != 0) {
      ResetPendingTransfers(g_);  // state 6: nothing of this page was transferred
      End(r);
      return;
    }
    TW_UINT16 left = 0;
    int16_t endRefused = 0;
    batch_->pageLeftOut = false;
    if (batch_->byMemory) {
      r = CollectPageByMemory(g_, batch_, number, &left, &endRefused);  // made as its strips come
    } else {
      r = CollectImage(g_, imageSlot_, &left, &batch_->info, &endRefused);
      if (r == 0 && *imageSlot_) r = WriteOrLeaveOut(number);
    }
    if (r != 0) {
      batch_->writer->Abandon(g_, number);
      if (left != 0) ResetPendingTransfers(g_);
      End(r);
      return;
    }
    ++(batch_->pageLeftOut ? batch_->leftOut : batch_->written);
    if (endRefused != 0) {
      End(endRefused);  // the page arrived whole and is kept; the source is closed from state 7
      return;
    }
    bool full = batch_->Taken() >= batch_->Limit();
    if (full && left != 0) ResetPendingTransfers(g_);
    if (full || (left == 0 && !ShowsUI())) EndWait();
    if (full || left == 0) return;
  }
}
