// What a scan asks of the platform (Carbon or Win32), implemented in platform/macos/ and
// platform/windows/. The platform only delivers: the events of its loop and the notices of
// its callback go to the scan's session, which decides what they mean.
#pragma once
#include "scan/scan_session.h"

namespace platform {

// Windows: the host window's procedure is the scan's while it runs, so that the window's
// messages reach the source; the saved procedure is put back at the end. Mac: nothing.
void StartRouting(ScanSession& scan);
void EndRouting(ScanSession& scan);

// Delivers events to the scan until scan.WaitOver(): Mac, a Carbon event loop, or null-event
// polls of a modal source without its interface; Windows, a message loop.
void WaitForSource(ScanSession& scan);

// Serves the host's events for `seconds` before the source is enabled (the scan's loop, with
// nothing for the source yet): true once they passed; false when the loop ended (Windows:
// WM_QUIT, posted again; Mac: a failure, given to the scan).
bool ServeHostFor(ScanSession& scan, double seconds);

}  // namespace platform
