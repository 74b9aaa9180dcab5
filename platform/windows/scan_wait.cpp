// The message loops of a Windows scan. A loop ends when its wait is over, on WM_QUIT
// (which is posted again for the host's own loop) and when GetMessageA fails.
#include "acquire/collect_image.h"
#include "acquire/scan_platform.h"
#include "acquire/scan_session.h"
#include "platform/windows/bitmaps.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

constexpr int16_t kMessageLoopFailed = 13;

enum class Got { Message, Quit, Failed };

Got NextMessage(MSG* m) {
  BOOL got = GetMessageA(m, nullptr, 0, 0);
  if (got == -1) return Got::Failed;
  if (got == 0) {
    PostQuitMessage(static_cast<int>(m->wParam));
    return Got::Quit;
  }
  return Got::Message;
}

bool WaitOver(TwainGlobals* g) {
  ScanSession* s = RunningScanOf(g);
  return g->closeRequested || !s || s->transferDone;
}

}  // namespace

namespace platform {

int16_t PumpUntilClosed(TwainGlobals* g) {
  g->inTransfer = 0;
  g->closeRequested = 0;
  while (!WaitOver(g)) {
    MSG m;
    Got got = NextMessage(&m);
    if (got == Got::Failed) return kMessageLoopFailed;
    if (got == Got::Quit) break;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return 0;
}

int16_t PumpModeless(TwainGlobals* g, TW_HANDLE* imageSlot) {
  while (g->dsOpen && !WaitOver(g)) {
    MSG m;
    Got got = NextMessage(&m);
    if (got == Got::Failed) return kMessageLoopFailed;
    if (got == Got::Quit) break;
    TW_EVENT event{};
    event.pEvent = &m;
    event.TWMessage = MSG_NULL;
    TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (event.TWMessage == MSG_XFERREADY) {
      int16_t r = CollectImage(g, imageSlot);
      NoteTransfer(g, r);
      return r;
    }
    if (event.TWMessage == MSG_CLOSEDSREQ || event.TWMessage == MSG_CLOSEDSOK) {
      // The user closed the source: the manager goes too, until the host connects again.
      DoCloseDS(g);
      DoCloseDSM(g);
    }
    if (rc != TWRC_DSEVENT) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  ScanSession* s = RunningScanOf(g);
  return s && s->transferDone ? s->transferResult : 0;
}

}  // namespace platform
