// What the entry asks of a build that can carry out a record's calls in a worker process of
// its own width (the option ISOLATION "PROCESS"): the Windows builds (platform/windows/
// worker_link.cpp). The Mac build has no worker: nothing runs in one there.
#pragma once
#include <cstdint>

#include "record/globals.h"

namespace platform {

// Carries out the host's call in g's worker, started first where g has none: the worker reads
// the call's parameters and writes its results through ctx as the call would in process. 0
// when the worker answered the call; 4 (no TWAIN) when no worker can be started; 19 when the
// worker ended during the call (crashed, exited or was killed), which leaves g without one.
int16_t RunInWorker(TwainGlobals* g, HostContext ctx, void* window);
// The record whose call runs in its worker now, or null: the host may dispatch another call,
// or destroy the instance, from the wait's message loop, and neither may reach the worker then.
const TwainGlobals* RecordInWorkerCall();
// Ends g's worker, if it has one (its instance closes the source and the manager first).
void EndWorker(TwainGlobals* g);
// After RunInWorker answered 19: the pages the call's worker had kept in files that took their
// final names before it ended (the temporary file it was writing is removed by then).
uint32_t PagesKeptByEndedCall();

}  // namespace platform
