// The capability table: the words the host programmer uses for TWAIN capabilities, and the
// lookups between word and identifier. The Windows build holds the first 84 rows, the Mac
// build all 88.
#pragma once
#include <cstddef>

#include "record/globals.h"

// Fills g->capTable in table order.
void initCaps(TwainGlobals* g);

// The identifier of the first row whose word equals `name` byte for byte; 0 if none.
TW_UINT16 GetCapNum(const TwainGlobals* g, const char* name);

// Sets `out` to the word of the first row with identifier `capId`, or to the empty string.
// `out` holds `outSize` bytes; the word is cut to fit.
void GetCapName(const TwainGlobals* g, TW_UINT16 capId, char* out, size_t outSize);
