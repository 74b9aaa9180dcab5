// The fake extension's client side, Mac: routines read from the HostParamBlock.
#include <Carbon/Carbon.h>

#include <cstring>

#include "standins/velmar/tests/fake_client.h"

namespace fake {
namespace {
// Function-local, so that a fake's static initialiser may install its handler.
Handler& TheHandler() {
  static Handler handler;
  return handler;
}
HostParamBlock* g_block = nullptr;

void EntryProc(int16_t message, void** slot, HostParamBlock* block) { Dispatch(message, slot, nullptr, block); }

template <typename Proc>
Proc R(size_t offset) {
  return g_block->Routine<Proc>(offset);
}
}  // namespace

void SetHandler(Handler handler) { TheHandler() = std::move(handler); }
void Dispatch(int16_t message, void** slot, void* window, HostContext context) {
  g_block = context;
  if (TheHandler()) TheHandler()(message, slot, window);
}
velmar::ExtensionEntry Entry() { return EntryProc; }

int16_t FieldByName(const std::string& name) {
  unsigned char counted[257];
  counted[0] = uint8_t(name.size());
  std::memcpy(counted + 1, name.data(), name.size());
  counted[name.size() + 1] = 0;
  return R<hostabi::FieldByNameProc>(hostabi::kFieldByName)(counted, g_block);
}

HostFloat ReadNumber(int field) {
  Extended80 x;
  R<hostabi::ReadNumberProc>(hostabi::kReadNumber)(&x, field, g_block);
  return x80told(reinterpret_cast<extended80*>(&x));
}

void WriteNumber(int field, HostFloat value) {
  extended80 x;
  ldtox80(&value, &x);
  WriteValue(field, kValueNumber, &x);
}

void WriteValue(int field, int type, const void* data) {
  R<hostabi::WriteValueProc>(hostabi::kWriteValue)(field, type, data, g_block);
}

void ReadValue(int field, int type, int maxLength, void* destination) {
  R<hostabi::ReadValueProc>(hostabi::kReadValue)(field, type, maxLength, destination, g_block);
}

int16_t FieldInfoRequest(HostInfoRecord* record) {
  R<hostabi::InfoProc>(hostabi::kFieldInfo)(record, g_block);
  return record->status;
}

int16_t Atom(int16_t request, const std::string& name, void** value) {
  HostInfoRecord record = {};
  record.name[0] = uint8_t(name.size());
  std::memcpy(record.name + 1, name.data(), name.size());
  record.request = request;
  record.value = value ? *value : nullptr;
  R<hostabi::InfoProc>(hostabi::kInstanceData)(&record, g_block);
  if (value) *value = record.value;
  return record.status;
}

int16_t FunctionNumber() { return R<hostabi::FunctionNumberProc>(hostabi::kFunctionNumber)(g_block); }
uint8_t* DesignRecord() {
  return static_cast<uint8_t*>(R<hostabi::DesignRecordProc>(hostabi::kDesignRecord)(g_block));
}

void WritePicture(int field, int width, int height) {
  Handle picture = nullptr;
  if (width > 0) {
    picture = NewHandleClear(64);
    uint8_t* p = reinterpret_cast<uint8_t*>(*picture);
    auto put = [&](int at, int v) { p[at] = uint8_t(v >> 8), p[at + 1] = uint8_t(v); };
    put(0, 64), put(2, 10), put(4, 20), put(6, 10 + height), put(8, 20 + width);
  }
  WriteValue(field, kValuePicture, &picture);
  if (picture) DisposeHandle(picture);
}

}  // namespace fake
