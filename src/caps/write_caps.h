// Setting a capability of the open source: the container of MSG_GET is rewritten in place
// into one TW_ONEVALUE and sent back with MSG_SET.
#pragma once
#include "record/globals.h"

// The new value comes from host field `valueField`, converted to the source's item type.
int16_t SetCap(TwainGlobals* g, TW_UINT16 capId, int16_t valueField);
// Sets an integer capability to `value`.
int16_t SetCapInt(TwainGlobals* g, TW_UINT16 capId, int32_t value);
// Sets a capability the source keeps as an array (CAP_EXTENDEDCAPS) to the one integer item
// `value`, a TW_ONEVALUE of the array's item type. 0 only when the source took it; 9 when its
// container holds no integer item, or a failure translated.
int16_t SetCapArrayToOne(TwainGlobals* g, TW_UINT16 capId, int32_t value);
