// What the source's answers mean during a scan, decided once for both builds.
#include "scan/scan_session.h"

#include "host/host_platform.h"
#include "options/options.h"
#include "record/records.h"
#include "transfer/collect_image.h"
#include "transfer/page_marks.h"
#include "twain/connection.h"
#include "twain/requests.h"
#include "twain/result_codes.h"

namespace {

ScanSession* running = nullptr;

enum class Meaning { Transfer, Close, SourcesOwn, HostsEvent, Failure };

Meaning MeaningOf(TW_UINT16 rc, TW_UINT16 message) {
  if (rc != TWRC_DSEVENT && rc != TWRC_NOTDSEVENT && rc != TWRC_SUCCESS) return Meaning::Failure;
  if (message == MSG_XFERREADY) return Meaning::Transfer;
  if (message == MSG_CLOSEDSREQ || message == MSG_CLOSEDSOK) return Meaning::Close;
  return rc == TWRC_DSEVENT ? Meaning::SourcesOwn : Meaning::HostsEvent;
}

// The flags of a scan that the build's record holds; the ones it lacks live in the session.
template <typename G>
uint8_t* TransferPendingOf(G* g, uint8_t* spare) {
  if constexpr (kWindowsBuild) {
    return spare;
  } else {
    return &g->transferPending;
  }
}

template <typename G>
uint8_t* InTransferOf(G* g, uint8_t* spare) {
  if constexpr (kWindowsBuild) {
    return &g->inTransfer;
  } else {
    return spare;
  }
}

// Mac: the record says whether a scan of it runs (false from the start of its scan to the
// end), and whether one ran since the record was set up.
template <typename G>
void MarkScanComplete(G* g, uint8_t complete) {
  if constexpr (!kWindowsBuild) g->scanComplete = complete;
}

// A close request with no scan waiting is carried out at once for a source that a finished
// scan left enabled (its close was refused).
template <typename G>
bool LeftEnabledByAScan(const G* g) {
  if constexpr (kWindowsBuild) {
    return g->dsEnabled != 0;
  } else {
    return g->dsEnabled && g->scanComplete;
  }
}

}  // namespace

ScanSession::ScanSession(TwainGlobals* g, TW_HANDLE* imageSlot, const PageRoute& route,
                         const BatchSettings* batch)
    : g_(g),
      imageSlot_(imageSlot),
      route_(route),
      batch_(batch),
      outer_(running),
      window_(platform::HostWindow()),
      closeRequested_(&g->closeRequested),
      transferPending_(TransferPendingOf(g, &spare_[0])),
      inTransfer_(InTransferOf(g, &spare_[1])) {
  *closeRequested_ = 0;
  *transferPending_ = 0;
  *inTransfer_ = 0;
  MarkScanComplete(g_, 0);
  running = this;
}

ScanSession::~ScanSession() {
  if (batch_ && batch_->marks) CollectPageMarks(g_, nullptr, false);
  MarkScanComplete(g_, 1);
  running = outer_;
}

bool ScanSession::WaitOver() const { return *closeRequested_ != 0; }

void ScanSession::EndWait() { *closeRequested_ = 1; }

void ScanSession::End(int16_t failure) {
  // The first outcome stands: a page already taken, or an earlier failure. In a batch, the
  // pages written before a failure stay written, and the failure is the answer.
  if (!transferDone_ && !failed_) {
    failed_ = true;
    failure_ = failure;
  }
  EndWait();
}

void ScanSession::LoopFailed(int16_t code) { End(code); }

void ScanSession::CloseAsked() {
  closeAsked_ = true;
  EndWait();
}

EventFate ScanSession::OnEvent(void* event, AfterTransfer after) {
  // Nothing reaches the source before it is enabled, nor while a transfer runs.
  if (!g_->dsEnabled || *inTransfer_) return EventFate::ToHost;
  TW_UINT16 message = MSG_NULL;
  TW_UINT16 rc = ProcessEvent(g_, event, &message);
  EventFate fate = EventFate::Consumed;
  switch (MeaningOf(rc, message)) {
    case Meaning::Failure:
      End(xlateErr(g_, &g_->sourceIdentity, rc));
      break;
    case Meaning::Transfer:
      Transfer(event, after, &fate);
      break;
    case Meaning::Close:
      CloseAsked();
      break;
    case Meaning::SourcesOwn:
      break;
    case Meaning::HostsEvent:
      fate = EventFate::ToHost;
      break;
  }
  return fate;
}

// Mac: the DSM calls back from inside a request of the extension's, and the image is taken
// there. Windows: a TWAIN 2 manager may call from wherever the source sent the notice, so a
// ready notice is only noted, and the wait loop takes the image on the host's thread.
void ScanSession::OnNotice(TW_UINT16 message) {
  Meaning m = MeaningOf(TWRC_DSEVENT, message);
  if (m == Meaning::Close) CloseAsked();
  if (m != Meaning::Transfer) return;
  if (g_->dsEnabled && !kWindowsBuild) {
    TakeImage(AfterTransfer::Done);
  } else {
    *transferPending_ = 1;  // taken once the enable returned, or by the wait loop
  }
}

void ScanSession::TakeAnnouncedImage() {
  if (*transferPending_ && g_->dsEnabled && !*inTransfer_) TakeImage(AfterTransfer::Done);
}

void ScanSession::TakeImage(AfterTransfer after) {
  EventFate ignored;
  Transfer(nullptr, after, &ignored);
}

// One image per scan: a second ready notice, or one during the transfer, is left to the
// close (which drops what the source still holds). A batch takes the pages of every ready
// report until its wait is over.
void ScanSession::Transfer(void* event, AfterTransfer after, EventFate* fate) {
  *fate = EventFate::Consumed;
  if (*inTransfer_ || (batch_ ? WaitOver() : transferDone_)) return;
  *transferPending_ = 0;
  *inTransfer_ = 1;
  if (batch_) {
    TakePages();
  } else {
    transferResult_ = CollectImage(g_, route_, imageSlot_);
    transferDone_ = true;
    EndWait();
  }
  *inTransfer_ = 0;
  bool taken = batch_ ? !failed_ : transferResult_ == 0;
  if (!taken || after != AfterTransfer::OfferAgain) return;
  // The event that announced the page goes to the source once more; the host gets it unless
  // the source takes it. Whatever it answers, the page stands.
  TW_UINT16 message = MSG_NULL;
  Meaning m = MeaningOf(ProcessEvent(g_, event, &message), message);
  if (m == Meaning::HostsEvent) *fate = EventFate::ToHost;
}

// A scan that ends without a page answers 5 (cancelled): the user's Cancel, a close request
// instead of a page, a Mac source silent for READYWAIT seconds. A failed close then says more.
int16_t ScanSession::Finish() {
  int16_t closed = DoCloseDS(g_);
  // Windows: a modeless source the user closed takes the manager with it, until the host
  // connects again; a batch keeps the manager open however it ended.
  if (kWindowsBuild && closeAsked_ && !modal_ && !PageTaken() && !batch_) DoCloseDSM(g_);
  if (transferDone_) return transferResult_;
  if (failed_) return failure_;
  // A batch that ended without a failure: its pages, or none came (cancelled).
  if (batch_) return taken_ > 0 ? kResultOk : kResultCancelled;
  return closed != 0 ? closed : kResultCancelled;
}

double ScanSession::QuietSeconds() const { return OptionValue(g_, Option::kReadyWait); }

bool ScanSession::PageTaken() const { return transferDone_ || taken_ > 0; }

ScanSession* RunningScan() { return running; }

ScanSession* RunningScanOf(const TwainGlobals* g) {
  return running && running->Record() == g ? running : nullptr;
}

void DeliverSourceNotice(void* refCon, TW_UINT16 message) {
  TwainGlobals* g = LiveRecord(refCon);
  if (!g || g->signature != kSignatureCool) return;
  if (ScanSession* scan = RunningScanOf(g)) {
    scan->OnNotice(message);
    return;
  }
  // No scan of this record waits: a close request is carried out at once; a page has no
  // scan to go to.
  if (MeaningOf(TWRC_DSEVENT, message) == Meaning::Close && LeftEnabledByAScan(g)) DoCloseDS(g);
}
