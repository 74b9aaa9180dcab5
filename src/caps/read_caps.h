// Reading a capability of the open source into one host field: its current (or default)
// value, or in list mode the text of every value it allows.
#pragma once
#include <cstddef>
#include <vector>

#include "caps/container_view.h"
#include "record/globals.h"

// The list text: a 2,050-byte buffer holding at most 2,047 characters.
constexpr size_t kListBufferSize = 2050;
constexpr size_t kListTextMax = 2047;

int16_t GetCap(TwainGlobals* g, TW_UINT16 capId, int16_t valueField, int listMode, int useDefault);

// MSG_GET of the capability: 0 with the container the source handed out (which may be none),
// or the translated failure with no container left behind.
int16_t GetCapContainer(TwainGlobals* g, TW_UINT16 capId, TW_CAPABILITY* cap);
// A container locked for bounded access (an empty view when the handle cannot be locked).
ContainerView LockContainer(TW_HANDLE h);

// What an integer capability allows and holds, for the extension's own decisions (a scan's
// transfer mechanism, pixel flavour, compression): the items of an enumeration or array, the
// one value, or a range's values (at most kMostRangeValues of them).
struct CapIntegers {
  std::vector<int32_t> allowed;
  int32_t current = 0;
  bool Allows(int32_t value) const;
};
constexpr size_t kMostRangeValues = 1024;
// 0, the translated failure of MSG_GET, or 9 for a container that holds no integers.
int16_t GetCapIntegers(TwainGlobals* g, TW_UINT16 capId, CapIntegers* out);
// A TW_BOOL capability's current value (a one value, or an enumeration's current item): 0,
// the translated failure of MSG_GET, or 9 for a container that holds no TW_BOOL.
int16_t GetCapBool(TwainGlobals* g, TW_UINT16 capId, bool* value);
