// The operations that each build implements in its own way, in platform/macos/ or
// platform/windows/. Shared code calls only these; it never names a platform API itself.
#pragma once
#include <cstdint>

#include "twain/globals.h"

namespace platform {

// Host services (Mac: routines of the HostParamBlock; Windows: the hostCallback).
int16_t HostFieldByName(const unsigned char* pascalName, HostContext ctx);
void HostReadNumber(int16_t field, HostFloat* result, HostContext ctx);
void HostWriteValue(int16_t field, int16_t type, const void* data, HostContext ctx);
void HostReadValue(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext ctx);
void HostFieldInfo(HostInfoRecord* record, HostContext ctx);
void HostInstanceData(HostInfoRecord* record, HostContext ctx);  // Mac only; Windows: status 0
int16_t HostFunctionNumber(HostContext ctx);
void* HostDesignRecord(HostContext ctx);

// The DSM: the entry to call, binding (Windows loads TWAIN_32.DLL at run time; the Mac links
// the framework), and the data of MSG_OPENDSM / MSG_CLOSEDSM.
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

// Sounds the short beep of a failed construction.
void AllocationBeep();

// Catalogue entry n (1-based) as a length-prefixed string; empty when there is none.
void GetCatalogueEntry(int16_t n, unsigned char out[256]);

// Windows: the host window passed with the call being carried out (the parent of the
// source's interface and of the page's display); the Mac has none (null).
void SetHostWindow(void* window);
void* HostWindow();

}  // namespace platform
