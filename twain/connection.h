// Connection lifecycle, identity and binding, condition-code translation.
#pragma once
#include "twain/globals.h"

int16_t DoInitAppIdentity(TwainGlobals* g);
int16_t DoOpenDSM(TwainGlobals* g);
int16_t DoCloseDSM(TwainGlobals* g);
int16_t DoSelectDataSource(TwainGlobals* g);
int16_t DoOpenDS(TwainGlobals* g);
int16_t DoCloseDS(TwainGlobals* g);
int16_t DoConnect(TwainGlobals* g);
int16_t DoDisconnect(TwainGlobals* g);
void DoReset(TwainGlobals* g);

// A source chosen while another was open waits for the next open; a record that goes
// forgets its choice.
void ForgetSourceChoice(const TwainGlobals* g);

// Registers `procedure` as the callback of g's source (opening the source first when it is
// not open), with g as its RefCon. `registered` (optional) tells whether the DSM took it: a
// failure whose condition code is TWCC_SUCCESS translates to 0 and registered nothing.
int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g, bool* registered = nullptr);

// dest: null after a request to the DSM, else the source identity.
int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc);
