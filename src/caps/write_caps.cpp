// The rewritten value always stays inside the container that the source returned. A value
// that does not fit is handled so:
//  - a string is cut to the room left from Item to the container's end (terminator or
//    length byte included); with no room at all nothing is sent;
//  - an integer, FIX32 or frame whose Item slot runs past the end, or a range too short for
//    its CurrentValue, is not sent: the result is 0, as for the shapes that are never set;
//  - SetCapInt sends nothing for an item type that is not an integer (result 0).
// A number item (integer, yes/no, FIX32) given a text that is not wholly a number answers 10
// and sends nothing.
#include "caps/write_caps.h"

#include <cmath>
#include <cstring>

#include "caps/container_view.h"
#include "caps/conversions.h"
#include "caps/read_caps.h"
#include "host/host_kit.h"
#include "host/number_fields.h"
#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/result_codes.h"

namespace {

const tw::ContainerOffsets& kOff = tw::kContainers;

bool IsIntegerOrBool(TW_UINT16 t) { return t <= TWTY_UINT32 || t == TWTY_BOOL; }
bool IsNumberType(TW_UINT16 t) { return IsIntegerOrBool(t) || t == TWTY_FIX32; }

bool HoldsNumber(TwainGlobals* g, int16_t field) {
  HostFloat ignored = 0;
  return GetFldStrictNumber(field, g->hostParams, &ignored);
}

// Characters that a string item of this type may take from the host: 31, 63, 127 or 255.
int16_t StringLimit(TW_UINT16 t) {
  switch (t) {
    case TWTY_STR32:
      return 31;
    case TWTY_STR64:
      return 63;
    case TWTY_STR128:
      return 127;
    default:
      return 255;
  }
}

HostFloat FieldNumber(TwainGlobals* g, int16_t field) {
  HostFloat value = 0;
  GetFldVal(field, kValueNumber, 0, &value, g->hostParams);
  return value;
}

TW_FIX32 FieldFix32(TwainGlobals* g, int16_t field) { return FloatToFIX32(ToSingle(FieldNumber(g, field))); }

// The number that the 32 bits of a range bound stand for, by the item's width and sign: a
// signed type's bound below zero stays below zero, an unsigned one is never negative.
HostFloat BoundNumber(TW_UINT16 type, uint32_t raw) {
  return type == TWTY_UINT32 ? HostFloat(raw) : ItemNumber(type, raw);
}

// Puts the host field's value at the Item position of a one-value. False: nothing to send.
bool WriteItem(TwainGlobals* g, ContainerView& c, TW_UINT16 type, int16_t field) {
  const size_t at = kOff.oneValueItem;
  if (IsIntegerOrBool(type)) {
    if (!c.Fits(at, 4)) return false;
    return c.Write32(at, IntegerItemBits(FieldNumber(g, field)));
  }
  if (type == TWTY_FIX32) {
    if (!c.Fits(at, 4)) return false;
    return c.Write32(at, Fix32Bits(FieldFix32(g, field)));
  }
  char text[kFieldTextMax + 1] = "";
  if (IsStringType(type)) {
    int16_t limit = StringLimit(type);
    GetFldVal(field, kValueCText, limit, text, g->hostParams);
    text[limit] = 0;
    return tw::EncodeString(c.base + (at < c.size ? at : c.size), c.Available(at), text, limit,
                            tw::native::kPascalStrings);
  }
  if (!c.Fits(at, sizeof(TW_FRAME))) return false;
  GetFldVal(field, kValueCText, static_cast<int16_t>(kFieldTextMax), text, g->hostParams);
  text[kFieldTextMax] = 0;
  TW_FRAME frame;
  UnstringFrame(g, &frame, text, field);
  return c.WriteBytes(at, &frame, sizeof frame);
}

// Clamps the host field's value into the range and puts it at CurrentValue and Item. The
// value is compared as the number it is with the numbers the bounds stand for, so neither a
// negative value nor one too large for the item's type slips past a bound.
// False: this range is not set.
bool WriteRange(TwainGlobals* g, ContainerView& c, TW_UINT16 type, int16_t field) {
  if (!IsIntegerOrBool(type) && type != TWTY_FIX32) return false;
  uint32_t minValue, maxValue;
  if (!c.Read32(kOff.rangeMin, &minValue) || !c.Read32(kOff.rangeMax, &maxValue) ||
      !c.Fits(kOff.rangeCurrent, 4))
    return false;
  HostFloat value = FieldNumber(g, field);
  uint32_t current;
  if (type == TWTY_FIX32) {
    float single = ToSingle(value);
    current = single > BoundNumber(type, maxValue)       ? maxValue
              : !(single >= BoundNumber(type, minValue)) ? minValue  // a NaN too
                                                         : Fix32Bits(FloatToFIX32(single));
  } else {
    HostFloat whole = value == value ? std::trunc(value) : 0;
    current = whole > BoundNumber(type, maxValue)   ? maxValue
              : whole < BoundNumber(type, minValue) ? minValue
                                                    : IntegerItemBits(whole);
  }
  c.Write32(kOff.rangeCurrent, current);
  c.Write32(kOff.oneValueItem, current);
  return true;
}

int16_t SendAndRelease(TwainGlobals* g, TW_CAPABILITY* cap) {
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, cap);
  DisposeXPHandle(cap->hContainer);
  return rc == TWRC_SUCCESS ? 0 : xlateErr(g, &g->sourceIdentity, rc);
}

}  // namespace

int16_t SetCap(TwainGlobals* g, TW_UINT16 capId, int16_t valueField) {
  TW_CAPABILITY cap;
  int16_t result = GetCapContainer(g, capId, &cap);
  if (result != 0 || cap.hContainer == nullptr) return result;
  TW_HANDLE h = cap.hContainer;

  if (!IsKnownContainer(cap.ConType)) {  // no item to rewrite: the value cannot be set
    DisposeXPHandle(h);
    return kResultUnsupportedCapability;
  }
  bool send = false;
  switch (cap.ConType) {
    case TWON_ONEVALUE:
    case TWON_ENUMERATION:
    case TWON_RANGE: {
      bool isRange = cap.ConType == TWON_RANGE;
      cap.ConType = TWON_ONEVALUE;
      ContainerView c = LockContainer(h);
      TW_UINT16 type;
      if (c.base == nullptr) {
        result = kResultUnusablePage;  // the container's memory cannot be locked: no memory
      } else if (c.Read16(0, &type)) {
        // A number is set only from a number (or a text that is wholly one): nothing goes out
        // for any other text.
        if (IsNumberType(type) && !HoldsNumber(g, valueField)) {
          result = kResultBadValue;
        } else {
          send = isRange ? WriteRange(g, c, type, valueField) : WriteItem(g, c, type, valueField);
        }
      }
      UnlockXPHandle(h);
      break;
    }
    case TWON_ARRAY:
      LockXPHandle(h);
      UnlockXPHandle(h);
      break;
    default:
      break;
  }
  if (!send) {
    DisposeXPHandle(h);
    return result;
  }
  return SendAndRelease(g, &cap);
}

namespace {

// The container MSG_GET gave, rewritten as one integer item and sent; `unsent` when it holds
// no integer item to rewrite, or is of another type than those `arrays` allows.
int16_t SendOneInteger(TwainGlobals* g, TW_UINT16 capId, int32_t value, bool arrays, int16_t unsent) {
  TW_CAPABILITY cap;
  int16_t result = GetCapContainer(g, capId, &cap);
  if (result != 0 || cap.hContainer == nullptr) return result != 0 ? result : unsent;
  TW_HANDLE h = cap.hContainer;
  if (cap.ConType != TWON_ONEVALUE && cap.ConType != TWON_ENUMERATION &&
      !(arrays && cap.ConType == TWON_ARRAY)) {
    DisposeXPHandle(h);
    return unsent;
  }
  cap.ConType = TWON_ONEVALUE;
  ContainerView c = LockContainer(h);
  if (c.base == nullptr) unsent = kResultUnusablePage;  // its memory cannot be locked: no memory
  TW_UINT16 type;
  // Only an integer item is set; anything else would send the enumeration's NumItems.
  bool send =
      c.Read16(0, &type) && IsIntegerOrBool(type) && c.Write32(kOff.oneValueItem, static_cast<uint32_t>(value));
  UnlockXPHandle(h);
  if (!send) {
    DisposeXPHandle(h);
    return unsent;
  }
  return SendAndRelease(g, &cap);
}

}  // namespace

int16_t SetCapInt(TwainGlobals* g, TW_UINT16 capId, int32_t value) {
  return SendOneInteger(g, capId, value, false, kResultOk);
}

int16_t SetCapArrayToOne(TwainGlobals* g, TW_UINT16 capId, int32_t value) {
  return SendOneInteger(g, capId, value, true, kResultUnsupportedCapability);
}
