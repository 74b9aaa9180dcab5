// While a Windows scan runs, the host window's procedure is ours: every message for the
// window goes to the enabled source first, and the source's notices arrive here.
#include "acquire/collect_image.h"
#include "acquire/scan_platform.h"
#include "acquire/scan_session.h"
#include "platform/windows/bitmaps.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

// The window that was subclassed and its own procedure. Kept here rather than taken from
// the process-wide host window, which a call nested in the scan may change.
HWND routedWindow = nullptr;
WNDPROC previousProc = nullptr;

LRESULT PassOn(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (previousProc) return CallWindowProcA(previousProc, hwnd, msg, wp, lp);
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ScanWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // The routing belongs to the scan that installed it, whichever instance was made last.
  ScanSession* scan = RunningScan();
  TwainGlobals* g = scan ? scan->instance : nullptr;
  if (!g || !g->dsEnabled || g->inTransfer) return PassOn(hwnd, msg, wp, lp);

  MSG record{};
  record.hwnd = hwnd;
  record.message = msg;
  record.wParam = wp;
  record.lParam = lp;
  TW_EVENT event{};
  event.pEvent = &record;
  event.TWMessage = MSG_NULL;
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);

  if (event.TWMessage == MSG_XFERREADY) {
    if (scan->transferDone) return 0;  // one image per scan
    g->inTransfer = 1;
    int16_t r = CollectImage(g, &g->imageHandle);
    g->inTransfer = 0;
    NoteTransfer(g, r);
    // Either way the wait is over: the image is there, or its failure is the result.
    g->closeRequested = 1;
    if (r != 0) {
      DoCloseDS(g);
      return 0;
    }
    event.TWMessage = MSG_NULL;
    rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (rc == TWRC_NOTDSEVENT || rc == TWRC_SUCCESS) return PassOn(hwnd, msg, wp, lp);
    return 0;
  }
  if (event.TWMessage == MSG_CLOSEDSREQ) {
    g->closeRequested = 1;
    return 0;
  }
  if (rc == TWRC_NOTDSEVENT || rc == TWRC_SUCCESS) return PassOn(hwnd, msg, wp, lp);
  g->closeRequested = 1;
  return 0;
}

}  // namespace

namespace platform {

void YieldThreads() {}

void* ScanParentWindow() { return routedWindow ? routedWindow : KvHostWindow(); }

void InstallWindowRouting(TwainGlobals* g) {
  routedWindow = KvHostWindow();
  previousProc = nullptr;
  if (!routedWindow) return;
  LONG_PTR old = SetWindowLongA(routedWindow, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&ScanWindowProc));
  previousProc = reinterpret_cast<WNDPROC>(old);
  g->previousWndProc = reinterpret_cast<void*>(old);
}

void RemoveWindowRouting(TwainGlobals* g) {
  if (routedWindow && previousProc) {
    SetWindowLongA(routedWindow, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc));
  }
  routedWindow = nullptr;
  previousProc = nullptr;
  g->previousWndProc = nullptr;
}

}  // namespace platform
