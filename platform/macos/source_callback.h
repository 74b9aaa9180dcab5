// The route of a Mac source's notices: the DSM calls TWAIN_callback, registered through
// DoRegisterCallback, from inside the DSM call during which the source sent them.
#pragma once
#include "entry/twain_globals.h"

TW_UINT16 TWAIN_callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                         TW_MEMREF data);
// Registers `procedure` for g's source (opening the source first when it is not open).
// `registered` (optional) tells whether the DSM took the registration: a failure whose
// condition code is TWCC_SUCCESS translates to 0 and registered nothing all the same.
int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g, bool* registered = nullptr);
// What the program does with a source notice (MSG_XFERREADY, MSG_CLOSEDSREQ; others are
// ignored), whether it came through the callback or back from MSG_PROCESSEVENT.
void HandleSourceMessage(TwainGlobals* g, TW_UINT16 msg);
