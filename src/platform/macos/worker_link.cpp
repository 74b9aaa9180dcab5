// The Mac build carries out every call in process: the option ISOLATION takes "NONE" only,
// and no call reaches a worker.
#include "entry/worker_port.h"
#include "twain/result_codes.h"

namespace platform {

bool WorkerInstalled(WorkerWidth) { return false; }
int16_t RunInWorker(TwainGlobals*, WorkerWidth, HostContext, void*) { return kResultNoTwain; }
int16_t ListInWorker(TwainGlobals*, WorkerWidth, void*, std::string*, std::string*) { return kResultNoTwain; }
int16_t ChooseInWorker(TwainGlobals*, WorkerWidth, void*, const std::string&) { return kResultNoTwain; }
const TwainGlobals* RecordInWorkerCall() { return nullptr; }
void EndWorker(TwainGlobals*) {}
void ForgetWorkers(TwainGlobals*) {}
uint32_t PagesKeptByEndedCall() { return 0; }

}  // namespace platform
