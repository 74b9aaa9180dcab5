// The virtual scanner module's exports: the TWAIN entry and the control interface that
// tests and the host stand-in reach in-process (GetProcAddress / dlsym).
#pragma once
#include "twain/twain.h"

extern "C" {
TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                   TW_MEMREF data);
// 0 for a command carried out, -1 for an unknown or malformed one (README.md lists them).
int VirtualScannerControl(const char* command);
// Writes the answer as NUL-terminated text into out; 0 on success, -1 unknown or too long.
int VirtualScannerQuery(const char* what, char* out, int size);
typedef int (*VirtualScannerControlProc)(const char*);
typedef int (*VirtualScannerQueryProc)(const char*, char*, int);
}
