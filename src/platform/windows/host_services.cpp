// Host services through the hostCallback. Numbers cross it as 8-byte doubles unchanged.
#include "host/host_platform.h"

namespace platform {
using namespace hostabi;

static int32_t Arg(const void* p) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(p)); }

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

}  // namespace platform
