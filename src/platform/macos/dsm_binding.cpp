// The Mac build links the TWAIN framework: its DSM_Entry is always there. The Mac has no
// process-wide window.
#include <Carbon/Carbon.h>
#include <TWAIN/TWAINFramework.h>

#include "entry/entry_platform.h"
#include "host/host_platform.h"
#include "twain/dsm_platform.h"

namespace platform {

DSMENTRYPROC DsmEntry() { return &DSM_Entry; }
bool BindDSM(TwainGlobals* g) { return g->dsmBound != 0; }
void UnbindDSM(TwainGlobals*) {}
bool DsmEntryResolved() { return true; }
TW_MEMREF DsmParentData() { return nullptr; }
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY*, const TW_IDENTITY&) { return nullptr; }
void AllocationBeep() { SysBeep(2); }
void SetHostWindow(void*) {}
void* HostWindow() { return nullptr; }

void GetCatalogueEntry(int16_t n, unsigned char out[256]) {
  out[0] = 0;
  GetIndString(out, 16543, n);
}

}  // namespace platform
