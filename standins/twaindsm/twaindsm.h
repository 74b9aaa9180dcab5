// The TWAIN 2 source manager stand-in (TWAINDSM.DLL): the manager's test exports.
#pragma once
#include "src/twain/twain.h"

// The count of memory blocks that DSM_MemAllocate gave out and DSM_MemFree has not taken back
// (exported by name, C convention).
typedef TW_UINT32 (*TWAINDSM_LIVEBLOCKS)();
// The count of calls the manager made to applications' registered callbacks since it was loaded
// (exported by name, C convention).
typedef TW_UINT32 (*TWAINDSM_CALLBACKS)();
// The count of memory-function calls given global memory the manager did not allocate itself
// (exported by name, C convention).
typedef TW_UINT32 (*TWAINDSM_FOREIGNUSES)();
