// Connection lifecycle, identity and binding, condition-code translation.
#pragma once
#include "entry/twain_globals.h"

int16_t DoInitAppIdentity(TwainGlobals* g);
int16_t DoOpenDSM(TwainGlobals* g);
int16_t DoCloseDSM(TwainGlobals* g);
int16_t DoSelectDataSource(TwainGlobals* g);
int16_t DoOpenDS(TwainGlobals* g);
int16_t DoCloseDS(TwainGlobals* g);
int16_t DoConnect(TwainGlobals* g);
int16_t DoDisconnect(TwainGlobals* g);
void DoReset(TwainGlobals* g);

// dest: null after a request to the DSM, else the source identity.
int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc);
