// Reading a capability of the open source into one host field: its current (or default)
// value, or in list mode the text of every value it allows.
#pragma once
#include <cstddef>

#include "twain/globals.h"

// The list text: a 2,050-byte buffer holding at most 2,047 characters.
constexpr size_t kListBufferSize = 2050;
constexpr size_t kListTextMax = 2047;

int16_t GetCap(TwainGlobals* g, TW_UINT16 capId, int16_t valueField, int listMode, int useDefault);
