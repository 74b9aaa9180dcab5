// Host services through the hostCallback. Numbers cross it as 8-byte doubles unchanged.
// Besides them, what the entry asks of Windows: the beep and the catalogue's string table in
// the module's resources; and the host window of the call being carried out.
#include <windows.h>

#include <cstring>

#include "entry/entry_platform.h"
#include "host/host_platform.h"
#include "platform/windows/module_values.h"

namespace module_values {
HMODULE moduleHandle = nullptr;
HWND hostWindow = nullptr;
DWORD hostThread = 0;
}  // namespace module_values

using module_values::hostWindow;
using module_values::moduleHandle;

namespace platform {
using namespace hostabi;

// An address travels as one pointer-sized argument.
static intptr_t Arg(const void* p) { return reinterpret_cast<intptr_t>(p); }

int16_t HostFieldByName(const unsigned char* pascalName, HostContext cb) {
  return static_cast<int16_t>(cb(kSvcFieldByName, Arg(pascalName), 0, 0, 0));
}

void HostReadNumber(int16_t field, HostFloat* result, HostContext cb) {
  cb(kSvcReadNumber, field, Arg(result), 0, 0);
}

void HostWriteValue(int16_t field, int16_t type, const void* data, HostContext cb) {
  cb(kSvcWriteValue, field, type, Arg(data), 0);
}

void HostReadValue(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext cb) {
  cb(kSvcReadValue, field, type, maxLength, Arg(destination));
}

void HostFieldInfo(HostInfoRecord* record, HostContext cb) { cb(kSvcFieldInfo, Arg(record), 0, 0, 0); }

void HostInstanceData(HostInfoRecord* record, HostContext) { record->status = 0; }

int16_t HostFunctionNumber(HostContext cb) {
  int32_t n = 0;
  cb(kSvcFunctionNumber, Arg(&n), 0, 0, 0);
  return static_cast<int16_t>(n);
}

void* HostDesignRecord(HostContext cb) {
  void* record = nullptr;
  cb(kSvcDesignRecord, Arg(&record), 0, 0, 0);
  return record;
}

void AllocationBeep() { Beep(1500, 2); }
void SetHostWindow(void* window) {
  hostWindow = static_cast<HWND>(window);
  module_values::hostThread = GetCurrentThreadId();
}
void* HostWindow() { return hostWindow; }

void GetCatalogueEntry(int16_t n, unsigned char out[256]) {
  char text[256];
  int len = LoadStringA(moduleHandle, 16542 + n, text, 255);
  if (len < 0) len = 0;
  if (len > 255) len = 255;
  std::memmove(out + 1, text, len);
  out[0] = static_cast<unsigned char>(len);
  if (len < 255) out[len + 1] = 0;
}

}  // namespace platform

HWND KvHostWindow() { return hostWindow; }
