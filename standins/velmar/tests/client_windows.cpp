// The fake extension's client side, Windows: every service through the stdcall callback.
#include <windows.h>

#include <cstring>

#include "standins/velmar/tests/fake_client.h"

namespace fake {
namespace {
// Function-local, so that a fake's static initialiser may install its handler.
Handler& TheHandler() {
  static Handler handler;
  return handler;
}
HostCallback g_callback = nullptr;

void __stdcall EntryProc(int32_t message, void** slot, void* window, int32_t, int32_t, HostCallback callback) {
  Dispatch(int16_t(message), slot, window, callback);
}

intptr_t A(const void* p) { return reinterpret_cast<intptr_t>(p); }
}  // namespace

void SetHandler(Handler handler) { TheHandler() = std::move(handler); }
void Dispatch(int16_t message, void** slot, void* window, HostContext context) {
  g_callback = context;
  if (TheHandler()) TheHandler()(message, slot, window);
}
velmar::ExtensionEntry Entry() { return EntryProc; }

int16_t FieldByName(const std::string& name) {
  unsigned char counted[257];
  counted[0] = uint8_t(name.size());
  std::memcpy(counted + 1, name.data(), name.size());
  counted[name.size() + 1] = 0;
  return int16_t(g_callback(hostabi::kSvcFieldByName, A(counted), 0, 0, 0));
}

HostFloat ReadNumber(int field) {
  double value = -1;
  g_callback(hostabi::kSvcReadNumber, field, A(&value), 0, 0);
  return value;
}

void WriteNumber(int field, HostFloat value) {
  double d = value;
  WriteValue(field, kValueNumber, &d);
}

void WriteValue(int field, int type, const void* data) {
  g_callback(hostabi::kSvcWriteValue, field, type, A(data), 0);
}

void ReadValue(int field, int type, int maxLength, void* destination) {
  g_callback(hostabi::kSvcReadValue, field, type, maxLength, A(destination));
}

int16_t FieldInfoRequest(HostInfoRecord* record) {
  g_callback(hostabi::kSvcFieldInfo, A(record), 0, 0, 0);
  return record->status;
}

int16_t Atom(int16_t, const std::string&, void**) { return -1; }

int16_t FunctionNumber() {
  int32_t number = -1;
  g_callback(hostabi::kSvcFunctionNumber, A(&number), 0, 0, 0);
  return int16_t(number);
}

uint8_t* DesignRecord() {
  void* record = nullptr;
  g_callback(hostabi::kSvcDesignRecord, A(&record), 0, 0, 0);
  return static_cast<uint8_t*>(record);
}

void WritePicture(int field, int width, int height) {
  HBITMAP bitmap = width > 0 ? CreateBitmap(width, height, 1, 32, nullptr) : nullptr;
  WriteValue(field, kValuePicture, &bitmap);
  if (bitmap) DeleteObject(bitmap);
}

}  // namespace fake
