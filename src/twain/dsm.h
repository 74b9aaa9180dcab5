// The DSM interface: every TWAIN request of the extension goes through CallDSM, with the
// record's application identity as origin.
#pragma once
#include "record/globals.h"

// dest: null for a request to the DSM itself, else the source identity.
TW_UINT16 CallDSM(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                  TW_MEMREF data);
