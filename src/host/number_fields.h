// A parameter that stands for a number, as the functions that want one take it: a number,
// or a text that is wholly one number in positional notation (blanks around it, a sign, a
// decimal point: " -12.5 "). The host reads any text as a number, up to the first character
// that is not part of one and 0 when it starts with none ("50abc" 50, "1e2" 1, "abc" and ""
// 0); such a text is no number here, and the function answers for it rather than act on
// what the host made of it. The value itself is still the host's reading.
#pragma once
#include <cstdint>

#include "host/host_kit.h"

// Whether `text` is wholly one number.
bool IsNumberText(const char* text);

// The value of `field` when it holds a number or a text that is wholly one; false (value
// untouched) for any other text and for a picture.
bool GetFldStrictNumber(int16_t field, HostContext ctx, HostFloat* value);
