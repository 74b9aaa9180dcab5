// Host services through the routines of the HostParamBlock. Numbers cross the block as
// 80-bit extended values and are converted with x80told / ldtox80. Besides them, what the
// entry asks of the Mac: the system beep and the catalogue's 'STR#' resource. The Mac has no
// process-wide window.
#include <Carbon/Carbon.h>

#include "entry/entry_platform.h"
#include "host/host_platform.h"

namespace platform {
using namespace hostabi;

int16_t HostFieldByName(const unsigned char* pascalName, HostContext pb) {
  return pb->Routine<FieldByNameProc>(kFieldByName)(pascalName, pb);
}

void HostReadNumber(int16_t field, HostFloat* result, HostContext pb) {
  Extended80 raw{};
  pb->Routine<ReadNumberProc>(kReadNumber)(&raw, field, pb);
  *result = x80told(reinterpret_cast<const extended80*>(&raw));
}

void HostWriteValue(int16_t field, int16_t type, const void* data, HostContext pb) {
  Extended80 raw{};
  if (type == kValueNumber) {
    ldtox80(static_cast<const long double*>(data), reinterpret_cast<extended80*>(&raw));
    data = &raw;
  }
  pb->Routine<WriteValueProc>(kWriteValue)(field, type, data, pb);
}

void HostReadValue(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext pb) {
  ReadValueProc read = pb->Routine<ReadValueProc>(kReadValue);
  if (type == kValueNumber) {
    Extended80 raw{};
    read(field, type, maxLength, &raw, pb);
    *static_cast<HostFloat*>(destination) = x80told(reinterpret_cast<const extended80*>(&raw));
    return;
  }
  read(field, type, maxLength, destination, pb);
}

void HostFieldInfo(HostInfoRecord* record, HostContext pb) { pb->Routine<InfoProc>(kFieldInfo)(record, pb); }

void HostInstanceData(HostInfoRecord* record, HostContext pb) {
  pb->Routine<InfoProc>(kInstanceData)(record, pb);
}

int16_t HostFunctionNumber(HostContext pb) { return pb->Routine<FunctionNumberProc>(kFunctionNumber)(pb); }

void* HostDesignRecord(HostContext pb) { return pb->Routine<DesignRecordProc>(kDesignRecord)(pb); }

void AllocationBeep() { SysBeep(2); }
void SetHostWindow(void*) {}
void* HostWindow() { return nullptr; }

void GetCatalogueEntry(int16_t n, unsigned char out[256]) {
  out[0] = 0;
  GetIndString(out, 16543, n);
}

}  // namespace platform
