// The Mac build links the TWAIN framework: its DSM_Entry is always there.
#include <TWAIN/TWAINFramework.h>

#include "twain/dsm_platform.h"

namespace platform {

DSMENTRYPROC DsmEntry() { return &DSM_Entry; }
bool BindDSM(TwainGlobals* g, ManagerChoice) { return g->dsmBound != 0; }
void UnbindDSM(TwainGlobals*) {}
bool DsmEntryResolved() { return true; }
BoundManager Bound() { return BoundManager::kNone; }
// The Mac's manager speaks TWAIN 1.x: no entry points, the Memory Manager's handles.
void KeepManagerEntryPoints(const TW_ENTRYPOINT&) {}
const TW_ENTRYPOINT* ManagerEntryPoints() { return nullptr; }
void UseManagerMemory(bool) {}
TW_MEMREF DsmParentData() { return nullptr; }
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY*, const TW_IDENTITY&) { return nullptr; }

}  // namespace platform
