#include "twain/requests.h"

#include "twain/dsm.h"

TW_UINT16 ProcessEvent(TwainGlobals* g, void* event, TW_UINT16* message) {
  TW_EVENT e{};
  e.pEvent = event;
  e.TWMessage = MSG_NULL;
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &e);
  *message = e.TWMessage;
  return rc;
}

TW_UINT16 EnableSource(TwainGlobals* g, TW_USERINTERFACE* ui) {
  return CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, ui);
}

TW_UINT16 DisableSource(TwainGlobals* g) {
  TW_USERINTERFACE ui{};
  return CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

TW_UINT16 EndTransfer(TwainGlobals* g, TW_UINT16* left, TW_UINT32* jobEnd) {
  TW_PENDINGXFERS pending{};
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  if (left) *left = pending.Count;
  if (jobEnd) *jobEnd = pending.Reserved;  // EOJ: the field's name from TWAIN 1.9 on
  return rc;
}

TW_UINT16 ResetPendingTransfers(TwainGlobals* g) {
  TW_PENDINGXFERS pending{};
  return CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
}

TW_UINT16 StopFeeder(TwainGlobals* g) {
  TW_PENDINGXFERS pending{};
  return CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_STOPFEEDER, &pending);
}
