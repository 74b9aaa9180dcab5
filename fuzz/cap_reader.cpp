// The container reader: GetCap over any container a source can return. Input:
//   byte 0: bits 0-2 container type (ONEVALUE, ENUMERATION, ARRAY, RANGE, else byte 1 as
//           the raw type), bit 3 list mode, bit 4 default value, bit 5 SUPPORTEDCAPS,
//           bit 6 success without a container, bit 7 the value field starts as a text
//   byte 1: raw container type (see above)
//   rest:   the container's bytes, any size; its first two bytes are the item type.
// Checked: no memory fault (ASan, UBSan), no Memory Manager block left behind, the result
// (9 for a container of a type TWAIN does not define, else 0), the value field left as it
// was when there is nothing to read (no container, or one of an unknown type), and the value
// field's text within the list buffer's limit.
#include "caps/conversions.h"
#include "caps/read_caps.h"
#include "fuzz/support/fuzz_support.h"

using namespace kvfuzz;

namespace {

// The four container types TWAIN defines; any other is refused with 9.
bool KnownContainer(TW_UINT16 type) {
  return type == TWON_ARRAY || type == TWON_ENUMERATION || type == TWON_ONEVALUE || type == TWON_RANGE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint8_t flags = in.Byte();
  uint8_t raw = in.Byte();
  static const TW_UINT16 kTypes[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE};
  Dsm& dsm = TheDsm();
  dsm = Dsm();
  dsm.conType = (flags & 7) < 4 ? kTypes[flags & 7] : raw;
  dsm.container = (flags & 0x40) == 0;
  dsm.bytes = in.Rest();
  const int listMode = (flags >> 3) & 1, useDefault = (flags >> 4) & 1;
  const TW_UINT16 capId = (flags & 0x20) ? CAP_SUPPORTEDCAPS : ICAP_XRESOLUTION;

  const bool startsAsText = (flags & 0x80) != 0;
  std::vector<velmar::Argument> args = {startsAsText ? TextArgument("before") : NumberArgument(-1)};
  long before = Session::LiveBlocks();
  int16_t result = -1;
  Session::Get().Run(
      args, [&](TwainGlobals* g) { result = GetCap(g, capId, kFieldFirstParam, listMode, useDefault); });
  const bool unknownType = dsm.container && !KnownContainer(dsm.conType);
  KV_FUZZ_CHECK(result == (unknownType ? 9 : 0));
  KV_FUZZ_CHECK(dsm.gets == 1 && !dsm.sent);
  KV_FUZZ_CHECK(Session::LiveBlocks() == before);
  const velmar::Value& value = Session::Get().Host().Fields().Get(kFieldFirstParam);
  if (!dsm.container || unknownType) {
    if (startsAsText)
      KV_FUZZ_CHECK(value.kind == velmar::Value::kText && value.text == "before");
    else
      KV_FUZZ_CHECK(value.kind == velmar::Value::kNumber && value.AsNumber() == -1);
  }
  if (value.kind == velmar::Value::kText) {
    KV_FUZZ_CHECK(value.text.size() <= kListTextMax);
    if (!listMode) KV_FUZZ_CHECK(value.text.size() <= 4 * kFieldTextMax + 3);
  }
  return 0;
}
