// The message loop of a Windows scan. A ready notice that a TWAIN 2 manager's callback
// brought is taken first, here on the host's thread. Every message of the thread goes to the scan first;
// what the source does not take is translated and dispatched as usual (the host window's
// messages then also pass the scan's window procedure). Modal and modeless sources are
// waited for alike: a modal source's notices, too, come as answers to the events it is
// given. The loop ends when the scan's wait is over, on WM_QUIT (posted again for the host's
// own loop) and when GetMessageA fails.
#include "platform/windows/bitmaps.h"
#include "scan/scan_platform.h"
#include "twain/result_codes.h"

namespace platform {

void WaitForSource(ScanSession& scan) {
  while (!scan.WaitOver()) {
    // What the manager's callback noted while the last message was dispatched.
    scan.TakeAnnouncedImage();
    if (scan.WaitOver()) return;
    MSG m;
    BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got == -1) {
      scan.LoopFailed(kResultFailed);
      return;
    }
    if (got == 0) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return;
    }
    if (scan.OnEvent(&m) == EventFate::ToHost) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
}

// The messages that come go on as in the scan's loop; between them the thread sleeps
// until a message arrives or the time is up.
bool ServeHostFor(ScanSession& scan, double seconds) {
  const DWORD span = static_cast<DWORD>(seconds * 1000 + 0.5);
  const DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));
        return false;
      }
      if (scan.OnEvent(&m) == EventFate::ToHost) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
    }
    const DWORD gone = GetTickCount() - start;
    if (gone >= span) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, span - gone, QS_ALLINPUT);
  }
}

}  // namespace platform
