#include "caps/cap_commands.h"

#include <cstring>

#include "caps/cap_table.h"
#include "caps/read_caps.h"
#include "caps/write_caps.h"
#include "host/host_kit.h"
#include "host/value_pairs.h"
#include "twain/connection.h"
#include "twain/result_codes.h"

namespace {

constexpr int16_t kCapNameRead = 31;  // characters of a name parameter that are compared

// The identifier named by name field `field`: a word of the table, or a decimal number of
// 1 to 65535 (read at its full width: a larger one names no capability, it is not cut).
// 0 when neither gives one.
TW_UINT16 PairCapId(TwainGlobals* g, int16_t field) {
  char name[kCapNameRead + 1];
  std::memset(name, 0, sizeof name);
  GetFldVal(field, kValueCText, kCapNameRead, name, g->hostParams);
  name[kCapNameRead] = 0;
  if (name[0] >= '0' && name[0] <= '9') {
    int32_t id = GetFldLong(field, g->hostParams);
    return id > 0 && id <= 0xFFFF ? static_cast<TW_UINT16>(id) : 0;
  }
  return GetCapNum(g, name);
}

// Opens manager and source, then hands each pair to `handle` until one fails.
template <typename Handle>
int16_t ForEachPair(TwainGlobals* g, Handle handle) {
  int16_t result = DoOpenDSM(g);
  if (result != 0) return result;
  result = DoOpenDS(g);
  if (result != 0) return result;
  return ForEachValuePair(g->hostParams, [&](int16_t nameField, int16_t valueField) -> int16_t {
    TW_UINT16 capId = PairCapId(g, nameField);
    if (capId == 0) return kResultUnsupportedCapability;
    // A value, or a variable to receive one, is a number or a text; a picture is neither.
    if (IsThisFieldType(valueField, kFieldTypePicture, g->hostParams)) return kResultBadParameter;
    return handle(capId, valueField);
  });
}

}  // namespace

int16_t DoGetSourceCap(TwainGlobals* g, int listMode) {
  uint8_t mode = listMode != 0 ? 1 : 0;
  return ForEachPair(g, [&](TW_UINT16 capId, int16_t valueField) {
    if (capId == CAP_SUPPORTEDCAPS) mode = 1;
    return GetCap(g, capId, valueField, mode, 0);
  });
}

int16_t DoSetSourceCap(TwainGlobals* g) {
  return ForEachPair(g, [&](TW_UINT16 capId, int16_t valueField) { return SetCap(g, capId, valueField); });
}
