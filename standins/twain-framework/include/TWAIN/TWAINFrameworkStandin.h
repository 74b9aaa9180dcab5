// Test controls of the TWAIN framework stand-in: where sources come from, what the user does
// in the selection dialog, a log of the applications' DSM calls, and injected failures.
//
// Behaviour worth knowing (the DSM's side of TWAIN 1.9, per application = origin identity):
//  - Sources are the registered entries (in registration order) followed by the shared
//    objects of the source folder, sorted by file name: a file exporting DS_Entry, or a
//    bundle "X.ds" holding Contents/MacOS/X. They are loaded, and asked for their identity,
//    when the first application opens the DSM, and unloaded when the last one closes it.
//    The first source is the default until the user selects another in MSG_USERSELECT.
//  - The DSM's condition code (DAT_STATUS with no destination) is that of the application's
//    last DSM-level call; a failed MSG_OPENDS takes the source's own condition code. A
//    failed MSG_CLOSEDS leaves the source open; its reason is the source's own status.
//  - A source's DAT_NULL message (MSG_XFERREADY, MSG_CLOSEDSREQ, MSG_CLOSEDSOK,
//    MSG_DEVICEEVENT) is delivered at once, from inside the source's DSM_Entry call, to the
//    callback registered for that connection. Without a callback it is queued and handed out
//    as TWMessage (with TWRC_DSEVENT) by the next DAT_EVENT/MSG_PROCESSEVENT to which the
//    source itself answered TWRC_NOTDSEVENT. Closing the source drops both.
//  - Single-threaded, like the real framework: every call on the host's thread.
#pragma once
#include "twain/twain.h"

extern "C" {

// Adds an in-process source. Takes effect at the next load (the next first MSG_OPENDSM).
void TWAINFramework_RegisterSource(DSENTRYPROC entry);
// The folder of loadable sources. NULL restores the default, "TWAIN Data Sources" beside
// libTWAIN.so; "" means no folder.
void TWAINFramework_SetSourceFolder(const char* path);
const char* TWAINFramework_SourceFolder(void);

// The selection dialog's user: choice >= 0 picks listed source N (0 is the first), -1
// presses Cancel, -2 (the default) presses OK on the highlighted default. A choice past the
// end of the list is a cancel.
void TWAINFramework_SetSelectionUser(int choice);
int TWAINFramework_SelectionDialogs(void);

struct TWAINFrameworkCall {
  TW_UINT32 origin;  // the application's Id at the time of the call
  TW_UINT32 dest;    // 0 for the DSM itself
  TW_UINT32 DG;
  TW_UINT16 DAT, MSG;
  TW_UINT16 rc;
  TW_UINT16 cc;  // DSM-level calls: the DSM's condition code after the call; else 0
};
int TWAINFramework_CallCount(void);
const TWAINFrameworkCall* TWAINFramework_Call(int index);  // NULL when out of range
// Calls matching DG/DAT/MSG, each of which may be TWAINFramework_Any.
int TWAINFramework_CountCalls(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG);
void TWAINFramework_ClearLog(void);

const TW_UINT16 TWAINFramework_Any = 0xFFFF;
// The next application call matching the triplet (any field may be TWAINFramework_Any)
// returns rc without being performed or forwarded; cc becomes the condition code that
// DAT_STATUS then reports, from the DSM (no destination) or for that source.
void TWAINFramework_FailNext(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_UINT16 rc, TW_UINT16 cc);
// The same for the k-th application call from now, whatever it is (1 = the next); 0 cancels.
void TWAINFramework_FailCall(int k, TW_UINT16 rc, TW_UINT16 cc);
// The k-th application call from now is performed as usual, and answers rc if it succeeded
// (TWRC_CHECKSTATUS: done, with something changed); 0 cancels.
void TWAINFramework_AnswerCall(int k, TW_UINT16 rc);
// While on, every DAT_STATUS returns TWRC_FAILURE and leaves the structure untouched.
void TWAINFramework_FailStatus(bool on);

int TWAINFramework_LoadedSources(void);
int TWAINFramework_OpenSources(void);
int TWAINFramework_OpenApplications(void);
long TWAINFramework_SourceMessages(void);      // DAT_NULL messages sent by sources
long TWAINFramework_CallbacksDelivered(void);  // of those, delivered through a callback

// Disables and closes every open source, closes every application, unloads the sources and
// forgets registrations, the log, injections, the selection user, the chosen default and
// the folder setting.
void TWAINFramework_Reset(void);

}  // extern "C"
