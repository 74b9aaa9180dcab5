// The scan driver. Both builds open the connection, put the pixel flavour back and enable
// the source; then each waits its own way: the Mac polls a modal source or runs a Carbon
// event loop while TWAIN_callback receives the source's notices, Windows subclasses the
// host window and pumps messages.
//
// Every way out after the source was enabled closes the source again: a scan delivers one
// image, and a source left enabled would fail the next scan with a sequence error.
#include "acquire/scan_driver.h"

#include <type_traits>

#include "acquire/collect_image.h"
#include "acquire/pixel_flavor.h"
#include "acquire/scan_platform.h"
#include "acquire/scan_session.h"
#include "acquire/transfer_mechanism.h"
#include "entry/entry.h"
#include "host/host_kit.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

constexpr int kModalPolls = 6;

template <typename G>
TW_UINT16 PollSource(G* g, TW_EVENT* event) {
  event->pEvent = nullptr;
  event->TWMessage = MSG_NULL;
  return CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, event);
}

// A Mac source that kept ModalUI: poll it with null events for what it has to say.
template <typename G>
int16_t WaitForModalSource(G* g, TW_HANDLE* imageSlot) {
  TW_EVENT event{};
  TW_UINT16 rc = TWRC_SUCCESS;
  for (int i = 0; i < kModalPolls && event.TWMessage == MSG_NULL; ++i) {
    rc = PollSource(g, &event);
    if (rc == TWRC_NOTDSEVENT) rc = TWRC_SUCCESS;
  }
  if (rc != TWRC_SUCCESS) {
    int16_t r = xlateErr(g, &g->sourceIdentity, rc);
    DoCloseDS(g);
    return r;
  }
  // The notice may also have come through the callback, which then collected already.
  ScanSession* s = RunningScanOf(g);
  bool ready = event.TWMessage == MSG_XFERREADY || (event.TWMessage == MSG_NULL && !g->closeRequested);
  if (ready || s->transferDone) {
    if (!s->transferDone) NoteTransfer(g, CollectImage(g, imageSlot));
    int16_t r = s->transferResult;
    if (r != 0) {
      DoCloseDS(g);
      return r;
    }
    rc = PollSource(g, &event);
    r = (rc == TWRC_SUCCESS || rc == TWRC_NOTDSEVENT) ? 0 : xlateErr(g, &g->sourceIdentity, rc);
    DoCloseDS(g);
    return r;
  }
  // MSG_CLOSEDSREQ, or anything else the source came up with: no image this time.
  return DoCloseDS(g);
}

// After the Mac event loop: a ready notice that came during MSG_ENABLEDS is collected
// now; then the source is closed. A failed transfer is the result, then a failure of the
// event loop, then (when no image came) the close.
template <typename G>
int16_t FinishEventLoop(G* g, TW_HANDLE* imageSlot, int32_t status) {
  ScanSession* s = RunningScanOf(g);
  if (g->transferPending && !s->transferDone) {
    g->transferPending = 0;
    NoteTransfer(g, CollectImage(g, imageSlot));
  }
  int16_t closed = DoCloseDS(g);
  if (s->transferDone) return s->transferResult;
  if (status != 0 && status != platform::kEventLoopTimedOut) return static_cast<int16_t>(status);
  return closed;
}

// `enabled`: the source took MSG_ENABLEDS. A failure whose condition code is TWCC_SUCCESS
// translates to 0 but enabled nothing, and nothing must then be waited for.
template <typename G>
int16_t EnableSource(G* g, TW_USERINTERFACE* ui, bool* enabled) {
  ui->ShowUI = g->showUI ? 1 : 0;
  if constexpr (std::is_same_v<G, TwainGlobalsWin>) {
    ui->ModalUI = 0;
    ui->hParent = platform::ScanParentWindow();
  } else {
    ui->ModalUI = 1;
    ui->hParent = nullptr;
  }
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, ui);
  *enabled = rc == TWRC_SUCCESS;
  return *enabled ? 0 : xlateErr(g, &g->sourceIdentity, rc);
}

// What a scan settles with the open source before enabling it. A transfer the source
// refuses ends the scan, and the source is closed as after every scan.
template <typename G>
int16_t PrepareSource(G* g) {
  int16_t r = DoOpenDSM(g);
  if (r == 0) r = DoOpenDS(g);
  if (r == 0) r = SyncPixelFlavor(g);
  if (r != 0) return r;
  r = NegotiateTransferMechanism(g);
  if (r != 0) DoCloseDS(g);
  return r;
}

template <typename G>
int16_t ScanMac(G* g, TW_HANDLE* imageSlot) {
  int16_t r = PrepareSource(g);
  // Without the callback the source's notices would never arrive: no scan is started, even
  // when the failure translates to 0 (TWCC_SUCCESS).
  bool registered = false;
  if (r == 0) r = platform::RegisterSourceCallback(g, &registered);
  if (r != 0 || !registered) return r;

  TW_USERINTERFACE ui{};
  bool enabled = false;
  r = EnableSource(g, &ui, &enabled);
  if (r != 0 || !enabled) return r;
  g->dsEnabled = 1;
  // A modal source that shows its interface still needs the events its user acts through;
  // polling it with null events would take an image before the user asked for one.
  if (ui.ModalUI && !g->showUI) return WaitForModalSource(g, imageSlot);
  return FinishEventLoop(g, imageSlot, platform::RunScanEventLoop(g));
}

template <typename G>
int16_t ScanWindows(G* g, TW_HANDLE* imageSlot) {
  int16_t r = PrepareSource(g);
  if (r != 0) return r;

  g->inTransfer = 0;
  platform::InstallWindowRouting(g);
  TW_USERINTERFACE ui{};
  bool enabled = false;
  r = EnableSource(g, &ui, &enabled);
  if (r != 0 || !enabled) {
    platform::RemoveWindowRouting(g);
    return r;
  }
  g->dsEnabled = 1;
  if (ui.ModalUI) {
    r = platform::PumpUntilClosed(g);
  } else {
    r = platform::PumpModeless(g, imageSlot);
  }
  DoCloseDS(g);
  platform::RemoveWindowRouting(g);
  // A transfer that failed inside the window procedure is the scan's result too.
  ScanSession* s = RunningScanOf(g);
  if (s->transferDone && s->transferResult != 0) return s->transferResult;
  return r;
}

// A source that an earlier close could not bring back (a failed MSG_ENDXFER leaves it inside
// its transfer, a failed disable leaves it enabled) would refuse MSG_ENABLEDS: it is ended,
// disabled and closed first, and the scan opens it again.
template <typename G>
void CloseSourceLeftEnabled(G* g) {
  if (!g->dsEnabled) return;
  TW_PENDINGXFERS pending{};
  CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  // The Mac close stops at the first step that fails; a second round starts where it stopped.
  for (int round = 0; round < 2 && g->dsEnabled; ++round) DoCloseDS(g);
}

template <typename G>
int16_t Scan(G* g, TW_HANDLE* imageSlot) {
  CloseSourceLeftEnabled(g);
  g->closeRequested = 0;
  if constexpr (std::is_same_v<G, TwainGlobalsMac>) {
    g->transferPending = 0;
    g->scanComplete = 0;
    int16_t r = ScanMac(g, imageSlot);
    g->scanComplete = 1;
    return r;
  } else {
    return ScanWindows(g, imageSlot);
  }
}

}  // namespace

int16_t DoScan(TwainGlobals* g, TW_HANDLE* imageSlot) {
  if (RunningScan()) return kResultScanRunning;
  ScanSessionScope session(g);
  return Scan(g, imageSlot);
}

bool AnswerCallDuringScan(HostContext ctx) {
  if (!RunningScan()) return false;
  if (GetPackageId(ctx) == kFnAbout) {
    SetFldText(kFieldReturn, "1.2", ctx);
  } else {
    SetFldNumber(kFieldReturn, kResultScanRunning, ctx);
  }
  return true;
}
