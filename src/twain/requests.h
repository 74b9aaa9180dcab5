// The requests a scan makes of its source, each built in one place. They return the TWAIN
// return code; what it means is decided by their callers (the scan's owner, the connection).
#pragma once
#include "record/globals.h"

// DAT_EVENT / MSG_PROCESSEVENT: offers one platform event (null: a poll) to the source.
// *message receives the TWMessage the source (or the DSM) put into the answer.
TW_UINT16 ProcessEvent(TwainGlobals* g, void* event, TW_UINT16* message);
// DAT_USERINTERFACE / MSG_ENABLEDS with `ui`; the source may change ui->ModalUI.
TW_UINT16 EnableSource(TwainGlobals* g, TW_USERINTERFACE* ui);
// DAT_USERINTERFACE / MSG_DISABLEDS.
TW_UINT16 DisableSource(TwainGlobals* g);
// DAT_PENDINGXFERS / MSG_ENDXFER: ends the transfer the source is in (states 6 and 7).
// *left and *jobEnd (optional) receive the Count and the EOJ the source put into its answer,
// whatever the answer.
TW_UINT16 EndTransfer(TwainGlobals* g, TW_UINT16* left = nullptr, TW_UINT32* jobEnd = nullptr);
// DAT_PENDINGXFERS / MSG_RESET: drops the pending transfers (state 6).
TW_UINT16 ResetPendingTransfers(TwainGlobals* g);
// DAT_PENDINGXFERS / MSG_STOPFEEDER: the feeder stops; the sheets already pulled in stay
// pending (state 6).
TW_UINT16 StopFeeder(TwainGlobals* g);
