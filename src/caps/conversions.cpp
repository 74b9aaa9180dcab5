#include "caps/conversions.h"

#include <cmath>
#include <cstring>

#include "host/host_kit.h"

size_t GetItemSize(TW_UINT16 itemType) {
  switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    case TWTY_STR32:
      return 34;
    case TWTY_STR64:
      return 66;
    case TWTY_STR128:
      return 130;
    case TWTY_STR255:
      return 256;
    default:
      return 0;
  }
}

bool IsStringType(TW_UINT16 itemType) { return itemType >= TWTY_STR32 && itemType <= TWTY_STR255; }

uint32_t Fix32Bits(TW_FIX32 value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TW_FIX32 Fix32FromBits(uint32_t bits) {
  TW_FIX32 value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint32_t IntegerItemBits(HostFloat value) {
  if (!(value == value)) return 0;
  if (value <= -2147483648.0L) return 0x80000000u;
  if (value >= 4294967295.0L) return 0xFFFFFFFFu;
  HostFloat whole = std::trunc(value);
  return whole < 0 ? static_cast<uint32_t>(static_cast<int32_t>(whole)) : static_cast<uint32_t>(whole);
}

HostFloat ItemNumber(TW_UINT16 type, uint32_t raw) {
  switch (type) {
    case TWTY_INT8:
      return static_cast<int8_t>(raw);
    case TWTY_INT16:
      return static_cast<int16_t>(raw);
    case TWTY_UINT8:
      return static_cast<uint8_t>(raw);
    case TWTY_UINT16:
    case TWTY_BOOL:
      return static_cast<uint16_t>(raw);
    case TWTY_FIX32:
      return FIX32ToFloat(Fix32FromBits(raw));
    default:  // TWTY_INT32, TWTY_UINT32: the 32 bits as a signed value
      return static_cast<int32_t>(raw);
  }
}

float FIX32ToFloat(TW_FIX32 value) {
  // Whole + Frac/65536 needs at most 32 significant bits, so the double sum is exact and
  // the one rounding happens in the store to single precision.
  double sum = static_cast<double>(static_cast<float>(value.Whole)) + static_cast<double>(value.Frac) / 65536.0;
  volatile float single = static_cast<float>(sum);
  return single;
}

TW_FIX32 FloatToFIX32(float value) {
  double scaled = static_cast<double>(value) * 65536.0;
  scaled += (value >= 0 || std::isnan(value)) ? 0.5 : -0.5;
  double truncated = std::trunc(scaled);
  int32_t n;
  if (truncated >= -2147483648.0 && truncated <= 2147483647.0) {
    n = static_cast<int32_t>(truncated);
  } else {
    n = INT32_MIN;  // out of range or not a number: what the x86 conversion itself yields
  }
  TW_FIX32 fix;
  fix.Whole = static_cast<TW_INT16>(n >> 16);
  fix.Frac = static_cast<TW_UINT16>(n & 0xFFFF);
  return fix;
}

float ToSingle(HostFloat value) {
  volatile float single = static_cast<float>(value);
  return single;
}

void NumberText(TwainGlobals* g, int16_t field, HostFloat value, char* out) {
  std::memset(out, 0, kFieldTextMax + 1);
  SetFldNumber(field, value, g->hostParams);
  GetFldVal(field, kValueCText, static_cast<int16_t>(kFieldTextMax), out, g->hostParams);
  out[kFieldTextMax] = 0;
}

HostFloat TextNumber(TwainGlobals* g, int16_t field, const char* text) {
  SetFldText(field, text, g->hostParams);
  HostFloat value = 0;
  GetFldVal(field, kValueNumber, 0, &value, g->hostParams);
  return value;
}

namespace {

void Append(char* out, size_t outSize, const char* text) {
  size_t used = strnlen(out, outSize - 1);
  size_t n = std::strlen(text);
  if (n > outSize - 1 - used) n = outSize - 1 - used;
  std::memcpy(out + used, text, n);
  out[used + n] = 0;
}

// Copies the next token of `text` from `*pos` into `token` (kFieldTextMax + 1 bytes). A comma
// ends the token and is dropped, unless it is the last character of the whole text.
void NextToken(const char* text, size_t length, size_t* pos, char* token) {
  size_t n = 0;
  while (*pos < length) {
    char c = text[(*pos)++];
    if (c == ',' && *pos < length) break;
    if (n < kFieldTextMax) token[n++] = c;
    if (c == ',') break;
  }
  token[n] = 0;
}

}  // namespace

void StringFrame(TwainGlobals* g, const TW_FRAME& frame, char* out, size_t outSize, int16_t field) {
  if (outSize == 0) return;
  const TW_FIX32 edges[4] = {frame.Left, frame.Top, frame.Right, frame.Bottom};
  char text[kFieldTextMax + 1];
  for (int i = 0; i < 4; ++i) {
    NumberText(g, field, FIX32ToFloat(edges[i]), text);
    Append(out, outSize, text);
    if (i < 3) Append(out, outSize, ",");
  }
}

void UnstringFrame(TwainGlobals* g, TW_FRAME* frame, const char* text, int16_t field) {
  TW_FIX32* edges[4] = {&frame->Left, &frame->Top, &frame->Right, &frame->Bottom};
  size_t length = strnlen(text, kFieldTextMax);
  size_t pos = 0;
  char token[kFieldTextMax + 1];
  for (TW_FIX32* edge : edges) {
    NextToken(text, length, &pos, token);
    *edge = FloatToFIX32(ToSingle(TextNumber(g, field, token)));
  }
}
