// The route of a Mac source's notices: the DSM calls TWAIN_callback, registered for the
// scan's source, from inside the DSM call during which the source sent them.
#pragma once
#include "record/globals.h"

TW_UINT16 TWAIN_callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                         TW_MEMREF data);
