// How each build reaches the source manager (platform/<os>/dsm_binding.cpp): the entry to
// call, binding (Windows loads TWAIN_32.DLL at run time; the Mac links the framework), and the
// data of MSG_OPENDSM / MSG_CLOSEDSM.
#pragma once
#include "record/globals.h"

// The manager a binding asks for (the option DSM), and the one bound.
enum class ManagerChoice : uint8_t { kTwain32, kTwainDsm, kAuto };
enum class BoundManager : uint8_t { kNone, kTwain32, kTwainDsm };

namespace platform {

DSMENTRYPROC DsmEntry();
// Windows: loads the manager `choice` names (kAuto: TWAINDSM.DLL where the system folder has
// one, else TWAIN_32.DLL), unless one is loaded already: the process has one manager, shared
// by every instance. False when there is none, or it has no DSM_Entry.
bool BindDSM(TwainGlobals* g, ManagerChoice choice);
void UnbindDSM(TwainGlobals* g);
bool DsmEntryResolved();
// Which manager is loaded (Mac: the framework counts as none of the Windows ones).
BoundManager Bound();
TW_MEMREF DsmParentData();
// The procedure the manager calls with the source's notices (DAT_NULL), registered with
// DAT_CALLBACK or DAT_CALLBACK2: Mac, TWAIN_callback; Windows, the one a TWAIN 2 manager calls.
// Either hands the notice to the scan of the record it leads to (DeliverSourceNotice).
TW_MEMREF SourceCallback();

// A TWAIN 2 manager's entry points (DAT_ENTRYPOINT), kept while its library is loaded; null
// when there are none. `useForSource` says whether the handles exchanged with the source now
// addressed are the manager's (a DF_DS2 source of a TWAIN 2 application) or the system's.
void KeepManagerEntryPoints(const TW_ENTRYPOINT& points);
const TW_ENTRYPOINT* ManagerEntryPoints();
void UseManagerMemory(bool useForSource);
// The entry of the loaded source whose identity (MSG_GET) has the product name of `source`,
// asked with `app` as origin: for a source the DSM let go while it was still open. Windows:
// Wine's DSM forgets a source whose close it passed on even when the source refused it, and
// keeps its module loaded. The Mac's DSM keeps every source it opened: always null there.
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY* app, const TW_IDENTITY& source);

}  // namespace platform
