// Item sizes, fixed-point numbers and frames. Numbers become text, and text numbers, only
// through a host field: the host's own formatting and parsing decide the digits.
#pragma once
#include <cstddef>

#include "record/globals.h"

// Bytes of one item of a TWTY type inside a list; 0 for TWTY_FRAME and unknown types.
size_t GetItemSize(TW_UINT16 itemType);

bool IsStringType(TW_UINT16 itemType);  // TWTY_STR32 .. TWTY_STR255

float FIX32ToFloat(TW_FIX32 value);
TW_FIX32 FloatToFIX32(float value);
// A FIX32 as the 32 bits it takes in a container, and back.
uint32_t Fix32Bits(TW_FIX32 value);
TW_FIX32 Fix32FromBits(uint32_t bits);

// The number that a numeric item of `type` whose bits are `raw` is shown as. TWTY_UINT32 is
// taken as a signed value: 2,147,483,648 and above come out negative.
HostFloat ItemNumber(TW_UINT16 type, uint32_t raw);

// The 32 bits of an integer item made from a host number: truncated toward zero; from
// -2^31 to 2^32 - 1 every value keeps its 32-bit pattern (3000000000 is 0xB2D05E00), beyond
// that it saturates, and a NaN gives 0.
uint32_t IntegerItemBits(HostFloat value);

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
