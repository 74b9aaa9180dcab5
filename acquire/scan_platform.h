// The pieces of a scan that talk to the platform itself (Carbon or Win32). They live in
// platform/macos/ and platform/windows/; the shared scan logic calls only the ones of its
// own build, each from the branch that asks kWindowsBuild.
#pragma once
#include "entry/twain_globals.h"

namespace platform {

// Lets other cooperative threads of the host run (Mac: YieldToAnyThread; Windows: nothing).
void YieldThreads();

// ---- Mac
// Registers TWAIN_callback with the DSM for g's source (opening the source first if needed);
// `registered` says whether the DSM took it.
int16_t RegisterSourceCallback(TwainGlobals* g, bool* registered);
// The Carbon event loop of a scan without a modal source: hands every event to the source,
// passes the others to the host, until the wait is over. Returns the status of the last
// ReceiveNextEvent (eventLoopTimedOutErr included), or the translated failure of an event
// that the source failed.
int32_t RunScanEventLoop(TwainGlobals* g);
constexpr int32_t kEventLoopTimedOut = -9875;

// ---- Windows
// The host window of the current call (the parent of the source's interface).
void* ScanParentWindow();
// Subclasses the parent window for the duration of g's scan, and puts it back.
void InstallWindowRouting(TwainGlobals* g);
void RemoveWindowRouting(TwainGlobals* g);
// Pumps messages until the wait of g's scan is over (modal source). The window procedure
// does the routing and the transfer. Returns 0, or 13 when GetMessageA failed.
int16_t PumpUntilClosed(TwainGlobals* g);
// The modeless wait: every message through the source; collects on MSG_XFERREADY. Returns
// the transfer's result, 0 without one, 13 when GetMessageA failed.
int16_t PumpModeless(TwainGlobals* g, TW_HANDLE* imageSlot);

}  // namespace platform
