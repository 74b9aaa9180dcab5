// SysBeep (recorded, not sounded), the Thread Manager's yield, and the SANE 80-bit
// extended conversions.
#include <cstring>
#include <thread>

#include "CarbonStandin.h"

static_assert(sizeof(extended80) == 10, "extended80 is 10 bytes");
static_assert(sizeof(long double) >= 10, "long double is the x87 extended type under -m32");

namespace {
int gBeeps = 0;
SInt16 gLastBeep = 0;
long gYields = 0;
}  // namespace

extern "C" {

void SysBeep(SInt16 duration) try {
  ++gBeeps;
  gLastBeep = duration;
} catch (...) {
}

int CarbonStandin_BeepCount(void) { return gBeeps; }
SInt16 CarbonStandin_LastBeepDuration(void) { return gLastBeep; }

OSErr YieldToAnyThread(void) {
  ++gYields;
  std::this_thread::yield();
  return noErr;
}

long CarbonStandin_YieldCount(void) { return gYields; }

// The x87 extended number in memory: 64-bit mantissa (little-endian), then sign and
// exponent. Both sides hold the same bits, so the conversion is a rearrangement.
long double x80told(const extended80* x80) {
  unsigned char raw[sizeof(long double)] = {};
  unsigned long long mantissa = 0;
  for (int i = 0; i < 4; ++i) mantissa = (mantissa << 16) | x80->man[i];
  std::memcpy(raw, &mantissa, 8);
  UInt16 se = static_cast<UInt16>(x80->exp);
  std::memcpy(raw + 8, &se, 2);
  long double x;
  std::memcpy(&x, raw, sizeof x);
  return x;
}

void ldtox80(const long double* x, extended80* x80) try {
  unsigned char raw[sizeof(long double)];
  std::memcpy(raw, x, sizeof raw);
  unsigned long long mantissa;
  std::memcpy(&mantissa, raw, 8);
  UInt16 se;
  std::memcpy(&se, raw + 8, 2);
  x80->exp = static_cast<SInt16>(se);
  for (int i = 3; i >= 0; --i) {
    x80->man[i] = static_cast<UInt16>(mantissa & 0xFFFF);
    mantissa >>= 16;
  }
} catch (...) {
}

}  // extern "C"
