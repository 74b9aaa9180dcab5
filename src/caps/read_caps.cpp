// Every container field is read at the running build's offsets (tw::kContainers) and checked
// against the container's real size. What a short or inconsistent container gives:
//  - a fixed field that lies past the end: nothing is written, result 0;
//  - NumItems beyond the container: only the items that lie wholly inside it exist;
//  - no item at all (NumItems 0 or negative, or none inside): list mode gives the empty
//    list, a single read leaves the value field unchanged;
//  - an index past the items that exist: the first item, as for any index out of range;
//  - a string without terminator or with a length byte past its slot: cut at the slot, at
//    the container's end and at 255 characters.
#include "caps/read_caps.h"

#include <cstring>

#include "caps/cap_table.h"
#include "caps/container_view.h"
#include "caps/conversions.h"
#include "host/host_kit.h"
#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/result_codes.h"

namespace {

const tw::ContainerOffsets& kOff = tw::kContainers;

bool IsInteger(TW_UINT16 t) { return t <= TWTY_UINT32; }
bool IsNumeric(TW_UINT16 t) { return IsInteger(t) || t == TWTY_BOOL || t == TWTY_FIX32; }

// Reads a numeric item of `type` at `offset`; false if it does not lie inside the container.
bool ReadItem(const ContainerView& c, size_t offset, TW_UINT16 type, uint32_t* raw) {
  *raw = 0;
  return c.ReadBytes(offset, raw, GetItemSize(type));  // little-endian: low bytes first
}

void ReadItemString(const ContainerView& c, size_t offset, TW_UINT16 type, char* out) {
  size_t slot = GetItemSize(type), available = c.Available(offset);
  tw::DecodeString(c.base + (offset < c.size ? offset : c.size), slot < available ? slot : available, out,
                   kFieldTextMax + 1, tw::native::kPascalStrings);
}

// ---------------------------------------------------------------- TW_ONEVALUE
void ReadOneValue(TwainGlobals* g, const ContainerView& c, int16_t field, int listMode) {
  TW_UINT16 type;
  if (!c.Read16(0, &type)) return;
  HostContext ctx = g->hostParams;
  if (type == TWTY_BOOL && listMode) {
    SetFldText(field, "0,1", ctx);
  } else if (IsNumeric(type)) {
    uint32_t raw;
    if (ReadItem(c, kOff.oneValueItem, type, &raw)) SetFldNumber(field, ItemNumber(type, raw), ctx);
  } else if (IsStringType(type)) {
    char text[kFieldTextMax + 1];
    ReadItemString(c, kOff.oneValueItem, type, text);
    SetFldText(field, text, ctx);
  } else {
    char text[4 * (kFieldTextMax + 1)] = "";
    TW_FRAME frame;
    if (c.ReadBytes(kOff.oneValueItem, &frame, sizeof frame)) StringFrame(g, frame, text, sizeof text, field);
    SetFldText(field, text, ctx);
  }
}

// ---------------------------------------------------------------- TW_ENUMERATION, TW_ARRAY
struct ItemList {
  TW_UINT16 type;
  int16_t declared;  // NumItems as the source gave it (low 16 bits, signed)
  int32_t count;     // the items that really lie inside the container
  size_t first;      // offset of item 0
  size_t itemSize;
};

bool ReadItemList(const ContainerView& c, size_t numItemsAt, size_t listAt, ItemList* list) {
  uint32_t numItems;
  if (!c.Read16(0, &list->type) || !c.Read32(numItemsAt, &numItems)) return false;
  list->declared = static_cast<int16_t>(numItems);
  list->first = listAt;
  list->itemSize = GetItemSize(list->type);
  list->count = list->declared > 0 ? list->declared : 0;
  if (list->itemSize > 0) {
    size_t fit = c.Available(listAt) / list->itemSize;
    if (static_cast<size_t>(list->count) > fit) list->count = static_cast<int32_t>(fit);
  }
  return true;
}

void ReadListItem(TwainGlobals* g, const ContainerView& c, const ItemList& list, int32_t index, int16_t field) {
  size_t at = list.first + static_cast<size_t>(index) * list.itemSize;
  HostContext ctx = g->hostParams;
  if (IsNumeric(list.type)) {
    uint32_t raw;
    if (ReadItem(c, at, list.type, &raw)) SetFldNumber(field, ItemNumber(list.type, raw), ctx);
  } else if (IsStringType(list.type)) {
    char text[kFieldTextMax + 1];
    ReadItemString(c, at, list.type, text);
    SetFldText(field, text, ctx);
  } else {
    SetFldText(field, "", ctx);
  }
}

void ReadEnumOrArrayItem(TwainGlobals* g, const ContainerView& c, bool isEnum, int16_t field, int useDefault) {
  ItemList list;
  bool ok = isEnum ? ReadItemList(c, kOff.enumNumItems, kOff.enumItemList, &list)
                   : ReadItemList(c, kOff.arrayNumItems, kOff.arrayItemList, &list);
  if (!ok) return;
  int32_t index = 0;
  if (isEnum) {
    uint32_t current, fallback;
    if (!c.Read32(kOff.enumCurrentIndex, &current) || !c.Read32(kOff.enumDefaultIndex, &fallback)) return;
    int16_t cur = static_cast<int16_t>(current);
    int16_t chosen = useDefault ? static_cast<int16_t>(fallback) : cur;
    index = chosen;
    if (cur >= list.declared || chosen < 0 || chosen >= list.declared) index = 0;
  }
  if (list.count == 0) return;  // no item to give
  if (index >= list.count) index = 0;
  ReadListItem(g, c, list, index, field);
}

void AppendItem(char* text, const char* item) {
  size_t length = std::strlen(text);
  if (length > 0 && length < kListTextMax) text[length++] = ',';
  text[length] = 0;
  size_t n = std::strlen(item);
  if (length + n <= kListTextMax) std::memcpy(text + length, item, n + 1);
}

void ListEnumOrArray(TwainGlobals* g, const ContainerView& c, bool isEnum, TW_UINT16 capId, int16_t field) {
  ItemList list;
  bool ok = isEnum ? ReadItemList(c, kOff.enumNumItems, kOff.enumItemList, &list)
                   : ReadItemList(c, kOff.arrayNumItems, kOff.arrayItemList, &list);
  if (!ok) return;
  char* text = static_cast<char*>(NewXPPointer(kListBufferSize));
  if (text == nullptr) return;
  text[0] = 0;
  if (list.type == TWTY_BOOL) {
    std::strcpy(text, "0,1");
  } else {
    char item[kFieldTextMax + 1];
    // A full text takes neither another item nor another ",": the rest need no text.
    for (int32_t i = 0; i < list.count && std::strlen(text) < kListTextMax; ++i) {
      size_t at = list.first + static_cast<size_t>(i) * list.itemSize;
      item[0] = 0;
      if (IsNumeric(list.type)) {
        uint32_t raw;
        ReadItem(c, at, list.type, &raw);  // inside: count covers only whole items
        if (capId == CAP_SUPPORTEDCAPS) GetCapName(g, static_cast<TW_UINT16>(raw), item, sizeof item);
        if (item[0] == 0) NumberText(g, field, ItemNumber(list.type, raw), item);
      } else if (IsStringType(list.type)) {
        ReadItemString(c, at, list.type, item);
      }
      AppendItem(text, item);
    }
  }
  SetFldText(field, text, g->hostParams);
  DisposeXPPointer(text);
}

// ---------------------------------------------------------------- TW_RANGE
void ReadRange(TwainGlobals* g, const ContainerView& c, int16_t field) {
  TW_UINT16 type;
  if (!c.Read16(0, &type)) return;
  HostContext ctx = g->hostParams;
  uint32_t current;
  if (IsStringType(type)) {
    char text[kFieldTextMax + 1];
    ReadItemString(c, kOff.rangeCurrent, type, text);
    SetFldText(field, text, ctx);
  } else if (!IsNumeric(type)) {
    SetFldText(field, "", ctx);
  } else if (c.Read32(kOff.rangeCurrent, &current)) {
    HostFloat value = type == TWTY_BOOL    ? HostFloat(current != 0 ? 1 : 0)
                      : type == TWTY_FIX32 ? HostFloat(FIX32ToFloat(Fix32FromBits(current)))
                                           : HostFloat(static_cast<int32_t>(current));
    SetFldNumber(field, value, ctx);
  }
}

void ListRange(TwainGlobals* g, const ContainerView& c, int16_t field) {
  TW_UINT16 type;
  uint32_t bounds[3];
  if (!c.Read16(0, &type)) return;
  bool numeric = IsInteger(type) || type == TWTY_FIX32;
  if (numeric && !(c.Read32(kOff.rangeMin, &bounds[0]) && c.Read32(kOff.rangeMax, &bounds[1]) &&
                   c.Read32(kOff.rangeStep, &bounds[2])))
    return;
  char* text = static_cast<char*>(NewXPPointer(kListBufferSize));
  if (text == nullptr) return;
  text[0] = 0;
  if (numeric) {
    char part[kFieldTextMax + 1];
    for (int i = 0; i < 3; ++i) {
      HostFloat value = type == TWTY_FIX32 ? HostFloat(FIX32ToFloat(Fix32FromBits(bounds[i])))
                                           : HostFloat(static_cast<int32_t>(bounds[i]));
      NumberText(g, field, value, part);
      if (i > 0) std::strcat(text, ":");
      std::strcat(text, part);  // three texts of at most 255 characters fit the buffer
    }
  }
  SetFldText(field, text, g->hostParams);
  DisposeXPPointer(text);
}

}  // namespace

int16_t GetCapContainer(TwainGlobals* g, TW_UINT16 capId, TW_CAPABILITY* cap) {
  *cap = TW_CAPABILITY{};
  cap->Cap = capId;
  cap->ConType = TWON_DONTCARE16;
  cap->hContainer = nullptr;
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, cap);
  if (rc == TWRC_SUCCESS) return 0;
  // A container handed out with another answer (TWRC_CHECKSTATUS) is still ours to release.
  if (cap->hContainer) DisposeXPHandle(cap->hContainer);
  cap->hContainer = nullptr;
  return xlateErr(g, &g->sourceIdentity, rc);
}

ContainerView LockContainer(TW_HANDLE h) {
  ContainerView c;
  c.base = static_cast<uint8_t*>(LockXPHandle(h));
  c.size = c.base != nullptr ? GetXPHandleSize(h) : 0;
  return c;
}

int16_t GetCap(TwainGlobals* g, TW_UINT16 capId, int16_t valueField, int listMode, int useDefault) {
  TW_CAPABILITY cap;
  int16_t got = GetCapContainer(g, capId, &cap);
  if (got != 0 || cap.hContainer == nullptr) return got;

  TW_HANDLE h = cap.hContainer;
  // A container of a type TWAIN does not define can be read in no way: nothing is filled.
  int16_t result = IsKnownContainer(cap.ConType) ? 0 : kResultUnsupportedCapability;
  ContainerView c = LockContainer(h);
  // A container whose memory cannot be locked holds no value to give: no memory (2).
  if (c.base == nullptr && result == 0) result = kResultUnusablePage;
  if (c.base != nullptr && result == 0) {
    switch (cap.ConType) {
      case TWON_ONEVALUE:
        ReadOneValue(g, c, valueField, listMode);
        break;
      case TWON_ENUMERATION:
      case TWON_ARRAY:
        if (listMode)
          ListEnumOrArray(g, c, cap.ConType == TWON_ENUMERATION, capId, valueField);
        else
          ReadEnumOrArrayItem(g, c, cap.ConType == TWON_ENUMERATION, valueField, useDefault);
        break;
      case TWON_RANGE:
        if (listMode)
          ListRange(g, c, valueField);
        else
          ReadRange(g, c, valueField);
        break;
      default:
        break;
    }
  }
  UnlockXPHandle(h);
  DisposeXPHandle(h);
  return result;
}

namespace {

bool ReadIntegerList(const ContainerView& c, bool isEnum, CapIntegers* out) {
  ItemList list;
  bool ok = isEnum ? ReadItemList(c, kOff.enumNumItems, kOff.enumItemList, &list)
                   : ReadItemList(c, kOff.arrayNumItems, kOff.arrayItemList, &list);
  if (!ok || !IsInteger(list.type)) return false;
  for (int32_t i = 0; i < list.count; ++i) {
    uint32_t raw;
    if (ReadItem(c, list.first + static_cast<size_t>(i) * list.itemSize, list.type, &raw))
      out->allowed.push_back(static_cast<int32_t>(ItemNumber(list.type, raw)));
  }
  uint32_t index = 0;
  if (isEnum && !c.Read32(kOff.enumCurrentIndex, &index)) return false;
  if (index < out->allowed.size()) out->current = out->allowed[index];
  return true;
}

bool ReadIntegers(const ContainerView& c, TW_UINT16 conType, CapIntegers* out) {
  TW_UINT16 type;
  if (!c.Read16(0, &type)) return false;
  if (conType == TWON_ENUMERATION || conType == TWON_ARRAY)
    return ReadIntegerList(c, conType == TWON_ENUMERATION, out);
  if (!IsInteger(type)) return false;
  uint32_t raw;
  if (conType == TWON_ONEVALUE) {
    if (!ReadItem(c, kOff.oneValueItem, type, &raw)) return false;
    out->current = static_cast<int32_t>(ItemNumber(type, raw));
    out->allowed.push_back(out->current);
    return true;
  }
  uint32_t least, most, step;
  if (!c.Read32(kOff.rangeMin, &least) || !c.Read32(kOff.rangeMax, &most) || !c.Read32(kOff.rangeStep, &step) ||
      !c.Read32(kOff.rangeCurrent, &raw))
    return false;
  out->current = static_cast<int32_t>(raw);
  const int64_t stride = static_cast<int32_t>(step) > 0 ? static_cast<int32_t>(step) : 1;
  for (int64_t v = static_cast<int32_t>(least);
       v <= static_cast<int32_t>(most) && out->allowed.size() < kMostRangeValues; v += stride)
    out->allowed.push_back(static_cast<int32_t>(v));
  return true;
}

}  // namespace

bool CapIntegers::Allows(int32_t value) const {
  for (const int32_t v : allowed)
    if (v == value) return true;
  return false;
}

namespace {

// The source's current container of the capability, read by `read` while it is locked, then
// freed: 0, the failure of MSG_GET, or 9 for a container that cannot be read.
template <typename Read>
int16_t ReadCapContainer(TwainGlobals* g, TW_UINT16 capId, Read read) {
  TW_CAPABILITY cap;
  int16_t got = GetCapContainer(g, capId, &cap);
  if (got != 0) return got;
  if (cap.hContainer == nullptr) return kResultUnsupportedCapability;
  ContainerView c = LockContainer(cap.hContainer);
  bool ok = c.base != nullptr && read(c, cap.ConType);
  UnlockXPHandle(cap.hContainer);
  DisposeXPHandle(cap.hContainer);
  return ok ? kResultOk : kResultUnsupportedCapability;
}

}  // namespace

int16_t GetCapIntegers(TwainGlobals* g, TW_UINT16 capId, CapIntegers* out) {
  *out = CapIntegers{};
  return ReadCapContainer(g, capId, [out](const ContainerView& c, TW_UINT16 conType) {
    return IsKnownContainer(conType) && ReadIntegers(c, conType, out);
  });
}

namespace {

// A TW_BOOL's current value in a one value or an enumeration (its current item).
bool ReadCurrentBool(const ContainerView& c, TW_UINT16 conType, bool* value) {
  uint32_t raw = 0;
  if (conType == TWON_ONEVALUE) {
    TW_UINT16 type;
    if (!c.Read16(0, &type) || type != TWTY_BOOL || !ReadItem(c, kOff.oneValueItem, type, &raw)) return false;
  } else if (conType == TWON_ENUMERATION) {
    ItemList list;
    uint32_t index = 0;
    if (!ReadItemList(c, kOff.enumNumItems, kOff.enumItemList, &list) || list.type != TWTY_BOOL ||
        !c.Read32(kOff.enumCurrentIndex, &index) || index >= static_cast<uint32_t>(list.count) ||
        !ReadItem(c, list.first + index * list.itemSize, list.type, &raw)) {
      return false;
    }
  } else {
    return false;
  }
  *value = raw != 0;
  return true;
}

}  // namespace

int16_t GetCapBool(TwainGlobals* g, TW_UINT16 capId, bool* value) {
  *value = false;
  return ReadCapContainer(g, capId, [value](const ContainerView& c, TW_UINT16 conType) {
    return ReadCurrentBool(c, conType, value);
  });
}
