#include "platform/macos/source_callback.h"

#include "acquire/collect_image.h"
#include "acquire/scan_platform.h"
#include "acquire/scan_session.h"
#include "twain/connection.h"
#include "twain/dsm.h"

void HandleSourceMessage(TwainGlobals* g, TW_UINT16 msg) {
  ScanSession* scan = RunningScanOf(g);
  if (msg == MSG_XFERREADY) {
    if (!g->dsEnabled) {
      // Still inside MSG_ENABLEDS: the scan driver collects once it is back.
      g->transferPending = 1;
      return;
    }
    // An image needs a scan call to hand it to; and one scan takes one image, so a second
    // notice does not overwrite the first (the source drops the rest when it is closed).
    if (!scan || scan->transferDone) return;
    g->transferPending = 0;
    NoteTransfer(g, CollectImage(g, &g->imageHandle));
    if (g->showUI) g->closeRequested = 1;
  } else if (msg == MSG_CLOSEDSREQ) {
    if (g->dsEnabled && g->scanComplete && !scan) {
      DoCloseDS(g);
    } else {
      g->closeRequested = 1;
    }
  }
}

TW_UINT16 TWAIN_callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF data) {
  TW_CALLBACK* cb = static_cast<TW_CALLBACK*>(data);
  TwainGlobals* g = cb ? static_cast<TwainGlobals*>(cb->RefCon) : nullptr;
  if (!g || g->signature != kSignatureCool) return TWRC_SUCCESS;
  HandleSourceMessage(g, msg);
  return TWRC_SUCCESS;
}

int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g, bool* registered) {
  if (registered) *registered = false;
  if (!g->dsOpen) {
    int16_t r = DoOpenDS(g);
    if (r != 0) return r;
  }
  TW_CALLBACK cb{};
  cb.CallBackProc = procedure;
  cb.RefCon = g;
  cb.Message = 0;
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb);
  if (rc == TWRC_SUCCESS) {
    if (registered) *registered = true;
    return 0;
  }
  int16_t r = xlateErr(g, &g->sourceIdentity, rc);
  // The registration is the DSM's own request: when the source knows of no failure, the
  // DSM's status says what went wrong.
  if (r == 0 && rc == TWRC_FAILURE) r = xlateErr(g, nullptr, rc);
  return r;
}

namespace platform {
int16_t RegisterSourceCallback(TwainGlobals* g, bool* registered) {
  return DoRegisterCallback(reinterpret_cast<TW_MEMREF>(&TWAIN_callback), g, registered);
}
}  // namespace platform
