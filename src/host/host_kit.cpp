// Field and atom routines of the host kit, over the platform's host services.
#include "host/host_kit.h"

#include <cmath>
#include <cstring>

#include "host/host_platform.h"

namespace {

// Truncates toward zero into 32 bits; values outside that range saturate, and a NaN gives 0.
int32_t TruncateToLong(HostFloat v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0L) return INT32_MAX;
  if (v <= -2147483648.0L) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// A NUL-terminated name as the host's length-prefixed name: length byte, characters, NUL.
void ToPascalName(const char* name, unsigned char* out, size_t keep) {
  size_t n = std::strlen(name);
  if (n > keep) n = keep;
  out[0] = static_cast<unsigned char>(n);
  std::memcpy(out + 1, name, n);
  out[n + 1] = 0;
}

}  // namespace

int32_t GetFldLong(int16_t field, HostContext ctx) {
  HostFloat v = 0;
  platform::HostReadNumber(field, &v, ctx);
  return TruncateToLong(v);
}

int16_t GetFldInt(int16_t field, HostContext ctx) { return static_cast<int16_t>(GetFldLong(field, ctx)); }

void GetFldVal(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext ctx) {
  platform::HostReadValue(field, type, maxLength, destination, ctx);
}

void SetFldVal(int16_t field, int16_t type, const void* data, HostContext ctx) {
  platform::HostWriteValue(field, type, data, ctx);
}

void SetFldNumber(int16_t field, HostFloat value, HostContext ctx) {
  SetFldVal(field, kValueNumber, &value, ctx);
}

void SetFldText(int16_t field, const char* text, HostContext ctx) { SetFldVal(field, kValueCText, text, ctx); }

int16_t GetFldInfo(HostInfoRecord* record, HostContext ctx) {
  platform::HostFieldInfo(record, ctx);
  record->name[record->name[0] + 1 < 256 ? record->name[0] + 1 : 255] = 0;
  return record->status;
}

bool IsThisFieldType(int16_t field, int16_t type, HostContext ctx) {
  HostInfoRecord record;
  std::memset(&record, 0, sizeof record);
  record.field = field;
  record.fieldType = 0;
  record.request = kInfoFieldInfo;
  return GetFldInfo(&record, ctx) == 1 && record.fieldType == type;
}

int16_t GetFldRef(const char* name, HostContext ctx) {
  unsigned char pascal[257];
  ToPascalName(name, pascal, 254);
  return platform::HostFieldByName(pascal, ctx);
}

int16_t GetPackageId(HostContext ctx) { return platform::HostFunctionNumber(ctx); }

void* GetDesignPtr(HostContext ctx) { return platform::HostDesignRecord(ctx); }

int16_t ExtensionInfo(HostInfoRecord* record, HostContext ctx) {
  platform::HostInstanceData(record, ctx);
  return record->status;
}

namespace {
int16_t AtomRequest(const char* name, int16_t request, void* value, HostInfoRecord* record, HostContext ctx) {
  std::memset(record, 0, sizeof *record);
  ToPascalName(name, record->name, 254);
  record->request = request;
  record->value = value;
  return ExtensionInfo(record, ctx);
}
}  // namespace

int16_t SetVelAtom(const char* name, void* value, HostContext ctx) {
  HostInfoRecord record;
  return AtomRequest(name, kInfoSetAtom, value, &record, ctx);
}

void* GetVelAtom(const char* name, HostContext ctx) {
  HostInfoRecord record;
  return AtomRequest(name, kInfoGetAtom, nullptr, &record, ctx) != 0 ? record.value : nullptr;
}

int16_t DeleteVelAtom(const char* name, HostContext ctx) {
  HostInfoRecord record;
  return AtomRequest(name, kInfoDeleteAtom, nullptr, &record, ctx);
}
