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
// transfer; the refusal ends the batch. What a page becomes (left out as blank included) is
// the batch's writer's to decide.
#include "caps/write_caps.h"
#include "scan/scan_session.h"
#include "transfer/collect_image.h"
#include "transfer/memory_transfer.h"
#include "transfer/page_marks.h"
#include "twain/requests.h"
#include "twain/result_codes.h"

namespace {

// CAP_XFERCOUNT is a 16-bit count; -1 asks for every page.
constexpr uint32_t kLargestTransferCount = 32767;
constexpr int32_t kEveryPage = -1;
// A pending count of a source that does not know it (and before the first page's end).
constexpr TW_UINT16 kUnknownCount = 0xFFFF;

}  // namespace

// The source learns the limit before it is enabled. A source that refuses it is stopped after
// the limit all the same.
void ScanSession::AnnouncePageLimit() {
  uint32_t limit = batch_->maxPages;
  bool all = limit == 0 || limit > kLargestTransferCount;
  SetCapInt(g_, CAP_XFERCOUNT, all ? kEveryPage : static_cast<int32_t>(limit));
}

// Mac: a page too large for a picture, still held by the source (state 6), comes by memory
// transfer, and the batch goes back to native for the pages after it (should the source
// refuse that, the rest come by memory as well). 16 where the source refuses memory now.
int16_t ScanSession::TakeLargePageByMemory(PageWriter* writer, uint32_t number, TW_UINT16* left,
                                           int16_t* endRefused) {
  if (SetCapInt(g_, ICAP_XFERMECH, TWSX_MEMORY) != 0) return kResultPageTooLarge;
  int16_t r = CollectPageByMemory(g_, writer, strips_, number, &info_, left, endRefused);
  if (*left != 0 && SetCapInt(g_, ICAP_XFERMECH, TWSX_NATIVE) != 0) route_.transfer = PageTransfer::kMemory;
  return r;
}

// MSG_STOPFEEDER in state 6: the sheets the source pulled in stay pending (the one in the
// scanner first) and the rest stay in its feeder; the batch takes its last page from them and
// drops the others as before. A source that said this page is its last has nothing to stop;
// one that refuses is stopped after the page as any is. A source that keeps to CAP_XFERCOUNT
// ends the batch itself after the page, the stopped feeder's sheets left in it.
void ScanSession::StopFeederBeforeLastPage(uint32_t number, TW_UINT16 left) {
  if (!autoscan_ || feederStopped_ || number != batch_->Limit() || left == 1) return;
  feederStopped_ = true;
  StopFeeder(g_);
}

void ScanSession::TakePages() {
  TW_UINT16 announced = kUnknownCount;  // what the last MSG_ENDXFER said is left
  for (;;) {
    uint32_t number = taken_ + 1;
    StopFeederBeforeLastPage(number, announced);
    PageWriter* writer = batch_->writer;
    int16_t r = writer->BeforePage(g_, number);
    if (r != 0) {
      ResetPendingTransfers(g_);  // state 6: nothing of this page was transferred
      End(r);
      return;
    }
    TW_UINT16 left = 0;
    int16_t endRefused = 0;
    if (batch_->marks) *batch_->marks = PageMarks{};
    if (route_.transfer == PageTransfer::kMemory) {
      r = CollectPageByMemory(g_, writer, strips_, number, &info_, &left,
                              &endRefused);  // made as its strips come
    } else {
      r = CollectImage(g_, route_, imageSlot_, &left, &info_, &endRefused, writer);
      if (r == kResultPageTooLarge && strips_.lateMemory)
        r = TakeLargePageByMemory(writer, number, &left, &endRefused);
      else if (r == 0 && *imageSlot_)
        r = writer->WritePage(g_, number, info_);
    }
    if (r != 0) {
      writer->Abandon(g_, number);
      if (left != 0) ResetPendingTransfers(g_);
      End(r);
      return;
    }
    ++taken_;
    if (batch_->log) batch_->log->Taken(number, info_, batch_->marks ? *batch_->marks : PageMarks{});
    if (endRefused != 0) {
      End(endRefused);  // the page arrived whole and is kept; the source is closed from state 7
      return;
    }
    bool full = taken_ >= batch_->Limit();
    if (full && left != 0) ResetPendingTransfers(g_);
    if (full || (left == 0 && !ShowsUI())) EndWait();
    if (full || left == 0) return;
    announced = left;
  }
}
