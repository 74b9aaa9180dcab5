// The callback a TWAIN 2 manager calls with a source's notices (DAT_NULL). It hands the notice
// to the scan of the record it leads to and returns at once: the scan's wait loop, on the
// host's thread, does what the notice asks (a transfer runs there, never inside the callback).
// A notice that arrives on another thread wakes that loop with WM_NULL.
#include <windows.h>

#include "platform/windows/module_values.h"
#include "record/records.h"
#include "scan/scan_session.h"
#include "twain/dsm_platform.h"

namespace {

TW_UINT16 TW_CALLINGSTYLE SourceNotice(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                       TW_UINT16 msg, TW_MEMREF refCon) {
  if (dg != DG_CONTROL || dat != DAT_NULL) return TWRC_FAILURE;
  // DAT_CALLBACK2 carries the record's address; a 64-bit DAT_CALLBACK none, and the
  // application's Id leads to it.
  void* record = refCon ? refCon : dest ? RecordOfApplication(dest->Id) : nullptr;
  DeliverSourceNotice(record, msg);
  const DWORD host = module_values::hostThread;
  if (host != 0 && host != GetCurrentThreadId()) PostThreadMessageA(host, WM_NULL, 0, 0);
  return TWRC_SUCCESS;
}

}  // namespace

namespace platform {
TW_MEMREF SourceCallback() { return reinterpret_cast<TW_MEMREF>(&SourceNotice); }
}  // namespace platform
