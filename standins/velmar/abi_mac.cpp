// The Mac side of the interface: a HostParamBlock with the host's routines at their offsets,
// numbers as 80-bit extended values, pictures as Memory Manager handles.
#include <Carbon/Carbon.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standins/velmar/velmar_host.h"

namespace velmar {

// The block the extension sees, with the host it belongs to right behind it.
struct AbiState {
  HostParamBlock block;
  Host* host;
};

namespace {

Host* HostOf(HostParamBlock* block) { return reinterpret_cast<AbiState*>(block)->host; }

int16_t FieldByName(const unsigned char* name, HostParamBlock* block) {
  return HostOf(block)->SvcFieldByName(name);
}
void ReadNumber(Extended80* result, int32_t field, HostParamBlock* block) {
  HostOf(block)->SvcReadNumber(int16_t(field), result);
}
void WriteValue(int32_t field, int32_t type, const void* data, HostParamBlock* block) {
  HostOf(block)->SvcWriteValue(int16_t(field), int16_t(type), data);
}
void ReadValue(int32_t field, int32_t type, int32_t maxLength, void* destination, HostParamBlock* block) {
  HostOf(block)->SvcReadValue(int16_t(field), int16_t(type), maxLength, destination);
}
void FieldInfo(HostInfoRecord* record, HostParamBlock* block) { HostOf(block)->SvcFieldInfo(record); }
void InstanceData(HostInfoRecord* record, HostParamBlock* block) { HostOf(block)->SvcInstanceData(record); }
int16_t FunctionNumber(HostParamBlock* block) { return HostOf(block)->SvcFunctionNumber(); }
void* DesignRecord(HostParamBlock* block) { return HostOf(block)->SvcDesignRecord(); }

static_assert(sizeof(Extended80) == sizeof(extended80), "the host's and Carbon's 80-bit numbers");

}  // namespace

AbiState* CreateAbi(Host* host) {
  auto* abi = new AbiState();
  std::memset(abi->block.bytes, 0, sizeof abi->block.bytes);
  abi->host = host;
  HostParamBlock& b = abi->block;
  b.SetRoutine<hostabi::FieldByNameProc>(hostabi::kFieldByName, FieldByName);
  b.SetRoutine<hostabi::ReadNumberProc>(hostabi::kReadNumber, ReadNumber);
  b.SetRoutine<hostabi::WriteValueProc>(hostabi::kWriteValue, WriteValue);
  b.SetRoutine<hostabi::ReadValueProc>(hostabi::kReadValue, ReadValue);
  b.SetRoutine<hostabi::InfoProc>(hostabi::kFieldInfo, FieldInfo);
  b.SetRoutine<hostabi::InfoProc>(hostabi::kInstanceData, InstanceData);
  b.SetRoutine<hostabi::FunctionNumberProc>(hostabi::kFunctionNumber, FunctionNumber);
  b.SetRoutine<hostabi::DesignRecordProc>(hostabi::kDesignRecord, DesignRecord);
  return abi;
}

void DestroyAbi(AbiState* abi) { delete abi; }

void InvokeEntry(AbiState* abi, ExtensionEntry entry, int16_t message, void** slot) {
  entry(message, slot, &abi->block);
}

void* AbiWindow(const AbiState*) { return nullptr; }

HostFloat WireToFloat(const WireNumber& wire) {
  extended80 x;
  std::memcpy(&x, &wire, sizeof x);
  return x80told(&x);
}

WireNumber FloatToWire(HostFloat value) {
  extended80 x;
  ldtox80(&value, &x);
  WireNumber wire;
  std::memcpy(&wire, &x, sizeof wire);
  return wire;
}

// Type 9 passes the address of a picture handle. The host keeps the picture's bytes; its
// size comes from picFrame (bytes 2..9: top, left, bottom, right, big-endian).
Picture CopyPicture(const void* data) {
  Picture picture;
  Handle handle = *static_cast<const Handle*>(data);
  if (!handle || !*handle) return picture;
  Size size = GetHandleSize(handle);
  if (size <= 0) return picture;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(*handle);
  picture.present = true;
  picture.bytes.assign(bytes, bytes + size);
  if (size >= 10) {
    auto word = [&](int at) { return int(int16_t(uint16_t(bytes[at] << 8 | bytes[at + 1]))); };
    picture.height = word(6) - word(2);
    picture.width = word(8) - word(4);
  }
  return picture;
}

bool SavePicture(const Picture& picture, const std::string& path) {
  if (!picture.present) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  static const uint8_t header[512] = {};
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
            std::fwrite(picture.bytes.data(), 1, picture.bytes.size(), f) == picture.bytes.size();
  return std::fclose(f) == 0 && ok;
}

const char* SavedPictureExtension() { return "pict"; }

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace velmar
