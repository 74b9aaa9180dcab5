// How each build reaches the source manager (platform/<os>/dsm_binding.cpp): the entry to
// call, binding (Windows loads TWAIN_32.DLL at run time; the Mac links the framework), and the
// data of MSG_OPENDSM / MSG_CLOSEDSM.
#pragma once
#include "record/globals.h"

namespace platform {

DSMENTRYPROC DsmEntry();
bool BindDSM(TwainGlobals* g);
void UnbindDSM(TwainGlobals* g);
bool DsmEntryResolved();
TW_MEMREF DsmParentData();
// The entry of the loaded source whose identity (MSG_GET) has the product name of `source`,
// asked with `app` as origin: for a source the DSM let go while it was still open. Windows:
// Wine's DSM forgets a source whose close it passed on even when the source refused it, and
// keeps its module loaded. The Mac's DSM keeps every source it opened: always null there.
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY* app, const TW_IDENTITY& source);

}  // namespace platform
