// Connection lifecycle, identity and binding, condition-code translation.
#pragma once
#include <string>

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
// Makes `chosen` the source of g's next open, as the selection dialog's choice does: at once
// when no source is open, else once the open one has been closed.
void ChooseSource(TwainGlobals* g, const TW_IDENTITY& chosen);
// The source g's next open will ask for; null when it asks for the DSM's default.
const TW_IDENTITY* NextSourceChoice(const TwainGlobals* g);

// The product names of every source the DSM lists, in its order, one a line (lines separated
// by a carriage return), and the name of the source the next open will use (the chosen one,
// else the DSM's default; empty when there is no source at all). Opens the DSM if need be.
int16_t DoGetSourceNames(TwainGlobals* g, std::string* names, std::string* current);
// Chooses the listed source whose product name is exactly `name`, as ChooseSource does;
// 15 when there is none (the choice is unchanged). Opens the DSM if need be.
int16_t DoSelectSource(TwainGlobals* g, const std::string& name);

// Registers `procedure` as the callback of g's source (opening the source first when it is
// not open), with g as its RefCon. `registered` (optional) tells whether the DSM took it: a
// failure whose condition code is TWCC_SUCCESS translates to 0 and registered nothing.
int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g, bool* registered = nullptr);

// dest: null after a request to the DSM, else the source identity.
int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc);
