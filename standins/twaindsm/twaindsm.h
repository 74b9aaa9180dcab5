// The TWAIN 2 source manager stand-in (TWAINDSM.DLL): the TWAIN 2 values that the extension's
// own header does not carry yet, and the manager's test export.
#pragma once
#include "src/twain/twain.h"

// Identity flags in SupportedGroups.
constexpr TW_UINT32 DF_DSM2 = 0x10000000;
constexpr TW_UINT32 DF_APP2 = 0x20000000;
constexpr TW_UINT32 DF_DS2 = 0x40000000;

// DG_CONTROL data argument types of TWAIN 2.
constexpr TW_UINT16 DAT_CALLBACK2 = 0x0012;
constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;

// DAT_CALLBACK2: the reference constant is pointer-sized.
#pragma pack(push, 2)
struct TW_CALLBACK2 {
  TW_MEMREF CallBackProc;
  TW_UINTPTR RefCon;
  TW_INT16 Message;
};
#pragma pack(pop)
static_assert(sizeof(TW_CALLBACK2) == 2 * sizeof(void*) + 2, "TW_CALLBACK2 is packed to 2 bytes");

// The count of memory blocks that DSM_MemAllocate gave out and DSM_MemFree has not taken back
// (exported by name, C convention).
typedef TW_UINT32 (*TWAINDSM_LIVEBLOCKS)();
