// Shared between the stand-in's own files; not part of its interface.
// Every C entry point catches what its C++ throws (an allocation that failed) and answers the
// call's failure instead (null, 0, memFullErr, with MemError memFullErr for the Memory
// Manager), as the real C APIs never throw.
#pragma once
#include <Carbon/Carbon.h>

namespace carbon {
void SetMemError(OSErr err);
// A handle owned by the Resource Manager: a real handle, but not counted as live, and
// DisposeHandle refuses it (ReleaseResource frees it).
Handle NewResourceHandle(const void* data, Size size);
void DisposeResourceHandle(Handle h);
// File reference numbers shared by the File Manager and the Resource Manager: the lowest
// free one (0 when none is), free again once its file is closed.
SInt16 AllocateRefNum();
void FreeRefNum(SInt16 refNum);
}  // namespace carbon
