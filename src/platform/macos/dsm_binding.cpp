// The Mac build links the TWAIN framework: its DSM_Entry is always there.
#include <TWAIN/TWAINFramework.h>

#include "twain/dsm_platform.h"

namespace platform {

DSMENTRYPROC DsmEntry() { return &DSM_Entry; }
bool BindDSM(TwainGlobals* g) { return g->dsmBound != 0; }
void UnbindDSM(TwainGlobals*) {}
bool DsmEntryResolved() { return true; }
TW_MEMREF DsmParentData() { return nullptr; }
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY*, const TW_IDENTITY&) { return nullptr; }

}  // namespace platform
