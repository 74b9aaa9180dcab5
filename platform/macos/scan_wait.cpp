// The Carbon event loop of a Mac scan. Every event goes to the source first; what the
// source does not take goes on to the host. The source's notices arrive meanwhile through
// TWAIN_callback and end the wait.
#include <Carbon/Carbon.h>

#include "acquire/scan_platform.h"
#include "acquire/scan_session.h"
#include "platform/macos/source_callback.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

constexpr EventTimeout kQuietTimeout = 5.0;  // without the interface: the end for a silent source

// The wait is over once an image was collected (or its transfer failed), the source asked
// to close, a ready notice is waiting to be collected, or the source is no longer enabled.
bool WaitOver(TwainGlobals* g) {
  ScanSession* s = RunningScanOf(g);
  return g->scanComplete || g->closeRequested || g->transferPending || !g->dsEnabled || !s || s->transferDone;
}

}  // namespace

namespace platform {

void YieldThreads() { YieldToAnyThread(); }

int32_t RunScanEventLoop(TwainGlobals* g) {
  EventTargetRef target = GetEventDispatcherTarget();
  EventTimeout timeout = g->showUI ? kEventDurationNoWait : kQuietTimeout;
  OSStatus status = noErr;
  while (!WaitOver(g)) {
    EventRef event = nullptr;
    status = ReceiveNextEvent(0, nullptr, timeout, true, &event);
    if (status == noErr) {
      TW_EVENT twEvent{};
      twEvent.pEvent = event;
      twEvent.TWMessage = MSG_NULL;
      TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &twEvent);
      if (rc == TWRC_NOTDSEVENT) SendEventToEventTarget(event, target);
      ReleaseEvent(event);
      // A source that fails an event may have lost its user's action with it: the wait
      // ends, with the failure as the scan's result, as it does on Windows.
      if (rc != TWRC_NOTDSEVENT && rc != TWRC_DSEVENT && rc != TWRC_SUCCESS) {
        int16_t failed = xlateErr(g, &g->sourceIdentity, rc);
        return failed != 0 ? failed : static_cast<int16_t>(eventLoopTimedOutErr);
      }
      // A source may also answer with its notice instead of calling back.
      if (rc == TWRC_DSEVENT && twEvent.TWMessage != MSG_NULL) HandleSourceMessage(g, twEvent.TWMessage);
    }
    YieldToAnyThread();
    if (g->showUI ? (status != noErr && status != eventLoopTimedOutErr) : status != noErr) break;
  }
  return status;
}

}  // namespace platform
