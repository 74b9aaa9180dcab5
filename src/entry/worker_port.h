// What the entry asks of a build that can carry out a record's calls in a worker process: the
// Windows builds (platform/windows/worker_link.cpp), with a worker of their own width (the
// option ISOLATION "PROCESS") and, on the 64-bit build, the 32-bit worker that reaches the
// machine's 32-bit sources (the option SOURCES). The Mac build has no worker.
#pragma once
#include <cstdint>
#include <string>

#include "record/globals.h"

namespace platform {

// Which worker: kv-worker.exe of the build's width, or kv-worker32.exe beside the 64-bit DLL.
enum class WorkerWidth : uint8_t { kOwn, k32Bit };

// Whether the worker's program is beside the extension (else no worker of that width starts).
bool WorkerInstalled(WorkerWidth width);
// Carries out the host's call in g's worker of that width, started first where g has none:
// the worker reads the call's parameters and writes its results through ctx as the call would
// in process. 0 when the worker answered the call; 4 (no TWAIN) when no worker can be
// started; 19 when the worker ended during the call (crashed, exited, was killed or stopped
// answering), which leaves g without one.
int16_t RunInWorker(TwainGlobals* g, WorkerWidth width, HostContext ctx, void* window);
// The worker's sources, as Twain.GetSourceNames lists them (names one a line, the next open's
// source), and a choice among them by product name, as Twain.SelectSource makes it; the
// answers are the calls' own, or 4 and 19 as above.
int16_t ListInWorker(TwainGlobals* g, WorkerWidth width, void* window, std::string* names,
                     std::string* current);
int16_t ChooseInWorker(TwainGlobals* g, WorkerWidth width, void* window, const std::string& name);
// The record whose call runs in its worker now, or null: the host may dispatch another call,
// or destroy the instance, from the wait's message loop, and neither may reach the worker then.
const TwainGlobals* RecordInWorkerCall();
// Ends g's workers, if it has any (their instances close the source and the manager first).
// The source each had chosen is kept, and chosen again in the next worker of its width.
void EndWorker(TwainGlobals* g);
// Ends g's workers and forgets their choices: the record ends.
void ForgetWorkers(TwainGlobals* g);
// After RunInWorker answered 19: the pages the call's worker had kept in files that took their
// final names before it ended (the temporary file it was writing is removed by then).
uint32_t PagesKeptByEndedCall();

}  // namespace platform
