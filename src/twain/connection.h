// Connection lifecycle, identity and binding, condition-code translation.
#pragma once
#include <string>

#include "record/globals.h"
#include "twain/dsm_platform.h"

int16_t DoInitAppIdentity(TwainGlobals* g);
// The identity's protocol and groups for the manager bound now (TWAIN 2 for TWAINDSM.DLL).
void PresentIdentity(TwainGlobals* g);
// g's manager is open and took g as a TWAIN 2 application (DF_APP2 sent, DF_DSM2 answered):
// it gave its entry points, and its memory and callbacks are used.
bool SpeaksTwain2(const TwainGlobals* g);
// Where g's handles with its source come from now: the manager's memory functions for a DF_DS2
// source of a TWAIN 2 application, else the system's. Decided for the record a call serves,
// and again when its source opens.
void ChooseHandleMemory(const TwainGlobals* g);
// Windows: the manager the option DSM asks for takes effect at once when g holds no manager
// open and no other instance does; otherwise at the next binding.
void DoChangeManager(TwainGlobals* g, ManagerChoice choice);
int16_t DoOpenDSM(TwainGlobals* g);
int16_t DoCloseDSM(TwainGlobals* g);
int16_t DoSelectDataSource(TwainGlobals* g);
int16_t DoOpenDS(TwainGlobals* g);
// The one way a source is closed, from whatever state it is in: a transfer not ended is ended
// (MSG_ENDXFER once more), the pending transfers reset, the source disabled and closed. Run by
// every path that closes: a scan's end, the next scan, Disconnect, Reset, the record's end.
int16_t DoCloseDS(TwainGlobals* g);
int16_t DoConnect(TwainGlobals* g);
int16_t DoDisconnect(TwainGlobals* g);
void DoReset(TwainGlobals* g);

// A transfer request is about to be made: until a MSG_ENDXFER succeeds, the source may be
// inside the transfer (TWAIN states 6 and 7), and DoCloseDS ends it first.
void NoteTransferStarted(const TwainGlobals* g);
// DAT_PENDINGXFERS / MSG_ENDXFER; an end that was done (TWRC_SUCCESS or TWRC_CHECKSTATUS)
// ends what NoteTransferStarted noted. Returns the TWAIN return code; `left` (optional)
// receives the count of transfers still pending after an end that was done, else 0; `jobEnd`
// (optional) the job's end the source reported then (TW_PENDINGXFERS.EOJ), else 0.
TW_UINT16 DoEndTransfer(TwainGlobals* g, TW_UINT16* left = nullptr, TW_UINT32* jobEnd = nullptr);

// A source chosen while another was open waits for the next open; a record that goes
// forgets its choice (and whatever else the connection noted about it).
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
// The product name of the source the next open uses when one was chosen (NextSourceChoice),
// else empty.
std::string NextSourceName(const TwainGlobals* g);

// Registers `procedure` as the callback of g's source (opening the source first when it is
// not open), with g as its RefCon.
int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g);

// The result of a request that answered rc. 0 only for TWRC_SUCCESS: a failure without a
// reason (TWCC_SUCCESS) is 2001. dest: null after a request to the DSM, else the source
// identity.
int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc);
// For a request the DSM carries out on the source's behalf (MSG_CLOSEDS, the callback's
// registration): the source's status is asked first, and when the source knows of no failure
// (TWCC_SUCCESS) the DSM's own status says what went wrong.
int16_t xlateDsmErr(TwainGlobals* g, TW_UINT16 rc);
// The result of a failure whose condition code is already known (cc), as xlateErr maps it.
int16_t xlateCondition(TW_UINT16 cc);
