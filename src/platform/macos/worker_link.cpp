// The Mac build carries out every call in process: the option ISOLATION takes "NONE" only.
#include "entry/worker_port.h"
#include "twain/result_codes.h"

namespace platform {

int16_t RunInWorker(TwainGlobals*, HostContext, void*) { return kResultNoTwain; }
const TwainGlobals* RecordInWorkerCall() { return nullptr; }
void EndWorker(TwainGlobals*) {}
uint32_t PagesKeptByEndedCall() { return 0; }

}  // namespace platform
