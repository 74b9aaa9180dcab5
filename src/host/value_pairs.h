// The name/value pairs of a call such as Twain.SetSourceCapability or Twain.SetOption: pair i
// (from 0) has its name in parameter field 211 + 2i and its value, or the variable that
// receives one, in the field after it. A name without a value at the end is no pair.
#pragma once
#include <cstdint>

#include "host/host_kit.h"

// Hands each pair to handle(nameField, valueField), in order, until one answers non-zero;
// that answer ends the call (the pairs before it have taken effect). 0 when every pair did.
template <typename Handle>
int16_t ForEachValuePair(HostContext ctx, Handle handle) {
  const int16_t pairCount = static_cast<int16_t>(GetFldInt(kFieldParamCount, ctx) >> 1);
  for (int16_t i = 0; i < pairCount; ++i) {
    const int16_t nameField = static_cast<int16_t>(kFieldFirstParam + 2 * i);
    const int16_t result = handle(nameField, static_cast<int16_t>(nameField + 1));
    if (result != 0) return result;
  }
  return 0;
}
