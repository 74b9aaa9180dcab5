// What a scan asks of the platform (Carbon or Win32), implemented in platform/macos/ and
// platform/windows/. The platform only delivers: the events of its loop and the notices of
// its callback go to the scan's session, which decides what they mean.
#pragma once
#include "acquire/scan_session.h"

namespace platform {

// Lets other cooperative threads of the host run (Mac: YieldToAnyThread; Windows: nothing).
void YieldThreads();

// Mac: the procedure the DSM calls with the source's notices (TWAIN_callback); Windows: null.
TW_MEMREF SourceCallback();

// Windows: the host window's procedure is the scan's while it runs, so that the window's
// messages reach the source; the saved procedure is put back at the end. Mac: nothing.
void StartRouting(ScanSession& scan);
void EndRouting(ScanSession& scan);

// The buffer a source fills in a memory transfer, `size` bytes that the extension owns:
// Windows, global memory passed as a pointer (TWMF_APPOWNS | TWMF_POINTER); Mac, a Memory
// Manager handle (TWMF_APPOWNS | TWMF_HANDLE). False when there is no memory.
bool NewTransferBuffer(uint32_t size, TW_MEMORY* memory);
// The buffer's bytes while they are read (the Mac's handle locked), and back.
const uint8_t* LockTransferBuffer(const TW_MEMORY& memory);
void UnlockTransferBuffer(const TW_MEMORY& memory);
void FreeTransferBuffer(TW_MEMORY* memory);

// Delivers events to the scan until scan.WaitOver(): Mac, a Carbon event loop, or null-event
// polls of a modal source without its interface; Windows, a message loop.
void WaitForSource(ScanSession& scan);

}  // namespace platform
