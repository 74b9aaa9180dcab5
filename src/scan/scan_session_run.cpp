// The scan driver: the steps of one scan in order. Both builds open the connection, put the
// pixel flavour back, set up the route of the source's notices (Mac: the callback; Windows:
// the host window's procedure), enable the source and wait their own way
// (platform/<os>/scan_wait.cpp) while the session decides what the source says.
//
// Every way out after the source was enabled closes the source again: a scan delivers one
// image, and a source left enabled would fail the next scan with a sequence error.
#include "scan/scan.h"

#include <algorithm>

#include "scan/paper_source.h"
#include "scan/patch_separation.h"
#include "scan/pixel_flavor.h"
#include "scan/scan_platform.h"
#include "scan/scan_session.h"
#include "scan/transfer_mechanism.h"
#include "transfer/page_marks.h"
#include "twain/connection.h"
#include "twain/requests.h"
#include "twain/result_codes.h"

// A source that an earlier close could not bring back (a refused MSG_ENDXFER leaves it inside
// its transfer, a refused disable leaves it enabled) would refuse MSG_ENABLEDS: it is closed
// first, and the scan opens it again.
void ScanSession::CloseSourceLeftEnabled() {
  // The Mac close stops at the first step that fails; a second round starts where it stopped.
  for (int round = 0; round < 2 && g_->dsEnabled; ++round) DoCloseDS(g_);
}

// TWRC_CHECKSTATUS: the source could not do all that was asked (its interface, shown or
// hidden) and is enabled all the same.
int16_t ScanSession::Enable() {
  TW_USERINTERFACE ui{};
  ui.ShowUI = g_->showUI ? 1 : 0;
  ui.ModalUI = kWindowsBuild ? 0 : 1;
  ui.hParent = window_;
  TW_UINT16 rc = EnableSource(g_, &ui);
  if (rc != TWRC_SUCCESS && rc != TWRC_CHECKSTATUS) return xlateErr(g_, &g_->sourceIdentity, rc);
  g_->dsEnabled = 1;
  modal_ = ui.ModalUI != 0;
  return 0;
}

// What a scan settles with the open source before enabling it. A transfer the source
// refuses ends the scan, and the source is closed as after every scan.
int16_t ScanSession::PrepareSource() {
  int16_t r = DoOpenDSM(g_);
  if (r == 0) r = DoOpenDS(g_);
  if (r == 0) r = SyncPixelFlavor(g_);
  if (r != 0) return r;
  if (batch_) r = ChoosePaperSource(g_, batch_->paperSource);
  // A batch that may take memory asks first: a source that answers ICAP_XFERMECH with its
  // current mechanism alone would list nothing but native once native had been asked for.
  if (r == 0 && batch_) r = SettleBatchTransfer(g_, *batch_, &route_, &strips_);
  if (r == 0 && route_.transfer != PageTransfer::kMemory) r = NegotiateTransferMechanism(g_, route_);
  if (r == 0 && batch_) {
    AnnouncePageLimit();
    // Only a batch with a limit stops its feeder.
    autoscan_ = batch_->maxPages != 0 && AutoscanOn(g_);
    if (batch_->patchSeparation) {
      *batch_->patchSeparation = SettlePatchSeparation(g_);
      if (*batch_->patchSeparation == PatchSeparation::kNone) r = kResultBadValue;
    }
    // What the source reads on each sheet, where it can say: asked in state 4, read after each
    // page arrived.
    if (r == 0 && batch_->marks) CollectPageMarks(g_, batch_->marks, EnablePageMarks(g_));
    if (r == 0) r = WaitForPaper();
  }
  if (r != 0) DoCloseDS(g_);
  return r;
}

// Polled this often: paper put in shows within a quarter of a second.
constexpr double kPaperPoll = 0.25;

int16_t ScanSession::WaitForPaper() {
  if (batch_->paperSource != kPaperSourceFeeder) return 0;
  double waited = 0;
  for (;;) {
    // A source that cannot tell is enabled as it is.
    if (ReadFeederPaper(g_) != FeederPaper::Empty) return 0;
    if (waited >= batch_->waitForPaper) return kResultFeederEmpty;
    const double step = std::min(kPaperPoll, batch_->waitForPaper - waited);
    if (!platform::ServeHostFor(*this, step)) return failed_ ? failure_ : kResultCancelled;
    waited += step;
  }
}

int16_t ScanSession::Run() {
  CloseSourceLeftEnabled();
  int16_t r = PrepareSource();
  if (r != 0) return r;
  if constexpr (!kWindowsBuild) {
    // Without the callback the source's notices would never arrive: no scan is started.
    r = DoRegisterCallback(platform::SourceCallback(), g_);
    if (r != 0) return r;
  }
  platform::StartRouting(*this);
  r = Enable();
  if (r == 0) {
    if (*transferPending_) TakeImage(AfterTransfer::Done);  // announced during the enable
    platform::WaitForSource(*this);
    r = Finish();
  }
  platform::EndRouting(*this);
  return r;
}

int16_t DoScan(TwainGlobals* g, const PageRoute& route, TW_HANDLE* imageSlot) {
  if (RunningScan()) return kResultSequenceError;
  ScanSession scan(g, imageSlot, route);
  return scan.Run();
}

int16_t DoScanPages(TwainGlobals* g, const PageRoute& route, const BatchSettings& batch, uint32_t* taken) {
  *taken = 0;
  if (RunningScan()) return kResultSequenceError;
  ScanSession scan(g, &g->imageHandle, route, &batch);
  int16_t r = scan.Run();
  *taken = scan.PagesTaken();
  return r;
}

bool ScanRunning() { return RunningScan() != nullptr; }
