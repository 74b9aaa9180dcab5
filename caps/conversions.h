// Item sizes, fixed-point numbers and frames. Numbers become text, and text numbers, only
// through a host field: the host's own formatting and parsing decide the digits.
#pragma once
#include <cstddef>

#include "twain/globals.h"

// Bytes of one item of a TWTY type inside a list; 0 for TWTY_FRAME and unknown types.
size_t GetItemSize(TW_UINT16 itemType);

float FIX32ToFloat(TW_FIX32 value);
TW_FIX32 FloatToFIX32(float value);

// Rounds a host number to single precision (the store forces the rounding on x87 too).
float ToSingle(HostFloat value);

// Texts read back from a host field hold at most this many characters.
constexpr size_t kFieldTextMax = 255;

// Writes `value` into host field `field` as a number and reads it back as characters into
// `out` (kFieldTextMax + 1 bytes).
void NumberText(TwainGlobals* g, int16_t field, HostFloat value, char* out);
// Writes `text` into host field `field` as characters and reads it back as a number.
HostFloat TextNumber(TwainGlobals* g, int16_t field, const char* text);

// Appends "left,top,right,bottom" to the NUL-terminated text in `out` (`outSize` bytes);
// an edge that would not fit is cut. `field` is used as scratch.
void StringFrame(TwainGlobals* g, const TW_FRAME& frame, char* out, size_t outSize, int16_t field);
// Fills `frame` from the first four comma-separated numbers of `text`. `field` is used as
// scratch and ends up holding the last token.
void UnstringFrame(TwainGlobals* g, TW_FRAME* frame, const char* text, int16_t field);
