#include "platform/macos/source_callback.h"

#include "scan/scan_platform.h"
#include "twain/dsm_platform.h"

// The RefCon is the record the callback was registered for; whether it still exists, and
// what the notice means, is the scan's business.
TW_UINT16 TWAIN_callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF data) {
  const TW_CALLBACK* cb = static_cast<const TW_CALLBACK*>(data);
  if (cb) DeliverSourceNotice(reinterpret_cast<void*>(cb->RefCon), msg);
  return TWRC_SUCCESS;
}

namespace platform {
TW_MEMREF SourceCallback() { return reinterpret_cast<TW_MEMREF>(&TWAIN_callback); }
void StartRouting(ScanSession&) {}
void EndRouting(ScanSession&) {}
}  // namespace platform
