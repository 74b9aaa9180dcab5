// The TWAIN framework's entry: the data source manager with the Mac calling convention
// (C), the Mac structure layout and Pascal strings. Types come from the project's header.
#pragma once
#include "twain/twain.h"

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData);

// What the DSM calls back with a source's DAT_NULL messages (MSG_REGISTER_CALLBACK).
typedef TW_UINT16 (*TWAINCallbackProc)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                       TW_UINT16 MSG, TW_MEMREF pData);
