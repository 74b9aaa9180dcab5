// The owner of a scan. One ScanSession exists while a scan call runs (at most one in the
// process: calls nested in its wait are turned away). It owns the scan's flags, reset when it
// starts, and it alone decides what the source's answers mean:
//
//   MSG_XFERREADY                        transfer the image (one per scan), then the wait is over;
//                                        in a batch, the pages one after another
//                                        (scan_session_batch.cpp)
//   MSG_CLOSEDSREQ / MSG_CLOSEDSOK       the source wants to be closed: the wait is over
//   TWRC_DSEVENT with MSG_NULL           the source's own event: keep waiting
//   TWRC_NOTDSEVENT (or TWRC_SUCCESS)    the host's event: it goes on to the host
//   any other return code                a failure: translated, it is the scan's result
//   the wait over without a page         5 (cancelled), unless the close failed
//
// The platform only delivers: the events of its loop (OnEvent), the notices its callback
// receives (DeliverSourceNotice), the failure of its loop (LoopFailed). It waits while
// WaitOver() is false. Closing, the order of results and every request are decided here.
#pragma once
#include "pages/page_route.h"
#include "record/globals.h"
#include "scan/page_batch.h"
#include "transfer/memory_transfer.h"

// Whether the host gets an event after the source saw it.
enum class EventFate { ToHost, Consumed };

// After a transfer that an event announced: whether that event goes to the source once more
// (a window's routing and the modal polls offer it again; a loop that dispatches the event
// itself does not).
enum class AfterTransfer { Done, OfferAgain };

class ScanSession {
 public:
  // Starts the scan of g into *imageSlot, its pages coming as `route` says: resets its flags
  // and makes it the running scan. With a batch, the scan takes pages until the source has
  // none left or the batch is full, and its writer writes each page before the next one is
  // transferred.
  ScanSession(TwainGlobals* g, TW_HANDLE* imageSlot, const PageRoute& route,
              const BatchSettings* batch = nullptr);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // The whole scan: open, pixel flavour, route, enable, wait, close. 0 or a result code.
  int16_t Run();
  // A batch: the pages taken from the source and handed to its writer without a failure.
  uint32_t PagesTaken() const { return taken_; }

  TwainGlobals* Record() const { return g_; }
  bool ShowsUI() const { return g_->showUI != 0; }
  // The source runs modally (it left ModalUI set after MSG_ENABLEDS).
  bool Modal() const { return modal_; }
  // Mac, without the source's interface: how long the wait goes on without any event before
  // the source counts as having delivered nothing (the option READYWAIT).
  double QuietSeconds() const;
  // Windows: the host window the scan started with (its parent and its routing), whatever
  // window later calls pass; null on the Mac.
  void* Window() const { return window_; }

  // ---- what the platform delivers
  EventFate OnEvent(void* event, AfterTransfer after = AfterTransfer::Done);
  void OnNotice(TW_UINT16 message);
  // A modal source that had nothing to say within its polls: its image is taken anyway.
  void TakeImage(AfterTransfer after);
  // A ready notice noted since the last look (Windows: through a TWAIN 2 manager's callback):
  // the image is taken now, on the caller's thread.
  void TakeAnnouncedImage();
  // The platform's loop failed with `code`; the wait is over.
  void LoopFailed(int16_t code);
  bool WaitOver() const;

 private:
  void CloseSourceLeftEnabled();
  int16_t PrepareSource();
  // A batch from the feeder: an empty feeder waited for (the host's events served meanwhile)
  // up to the batch's WAITFORPAPER seconds; 0 once it holds paper, or 20.
  int16_t WaitForPaper();
  // A batch whose source pulls sheets in ahead: before the last page the batch takes, the
  // feeder is stopped, so that only the sheets already pulled in leave it.
  void StopFeederBeforeLastPage(uint32_t number, TW_UINT16 left);
  int16_t Enable();
  void Transfer(void* event, AfterTransfer after, EventFate* fate);
  // A batch: the pages of one ready report, each written before the next one is transferred.
  void TakePages();
  int16_t TakeLargePageByMemory(PageWriter* writer, uint32_t number, TW_UINT16* left, int16_t* endRefused);
  // A batch: CAP_XFERCOUNT as the batch's limit, before the source is enabled.
  void AnnouncePageLimit();
  bool PageTaken() const;
  void End(int16_t failure);
  void CloseAsked();  // the source asked to be closed: the wait is over
  void EndWait();
  int16_t Finish();

  TwainGlobals* g_;
  TW_HANDLE* imageSlot_;
  PageRoute route_;             // settled with the source before it is enabled
  const BatchSettings* batch_;  // null: one page
  StripTerms strips_;           // a batch that may take memory: what the source said of its pixels
  uint32_t taken_ = 0;          // a batch: the pages taken so far
  TW_IMAGEINFO info_{};         // a batch: what the source said of the page being taken
  ScanSession* outer_;
  void* window_;
  bool modal_ = false;
  bool transferDone_ = false;
  int16_t transferResult_ = 0;
  bool failed_ = false;
  int16_t failure_ = 0;
  bool closeAsked_ = false;  // the source asked to be closed
  bool autoscan_ = false;    // a batch with a page limit: the source pulls sheets in ahead
  bool feederStopped_ = false;
  // The scan's flags. Those the build's record has live there; the others here.
  uint8_t spare_[2] = {0, 0};
  uint8_t* closeRequested_;   // the wait is over
  uint8_t* transferPending_;  // a ready notice waits (Mac: one during MSG_ENABLEDS)
  uint8_t* inTransfer_;       // a transfer runs: nothing is routed to the source meanwhile
};

// The running scan, or null; the running scan if it belongs to g, else null.
ScanSession* RunningScan();
ScanSession* RunningScanOf(const TwainGlobals* g);

// A notice a source sent through the DSM to the callback registered with `refCon` (the
// record it was registered for, which may be gone by now: then nothing is read).
void DeliverSourceNotice(void* refCon, TW_UINT16 message);
