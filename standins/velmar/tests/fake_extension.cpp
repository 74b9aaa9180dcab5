// A small extension for the loader and command-line tests, built as a real bundle or DLL
// with the generated catalogue resources. By function number:
//   1 writes "1.2"; 5 hands parameter 1 a 64x48 picture when it is a picture field (0), else 3;
//   6 doubles parameter 1; 7 writes parameter 1's text + "=7" into parameter 2; 3 writes
//   nothing; any other writes the parameter count.
#include <cstdlib>
#include <cstring>

#include "standins/velmar/tests/fake_client.h"

namespace {

void Run(int16_t message, void** slot, void*) {
  if (message == kMsgConstruct) {
    *slot = std::malloc(4);
    return;
  }
  if (message == kMsgDestruct) {
    std::free(*slot);
    *slot = nullptr;
    return;
  }
  if (message == kMsgDescribe) {
    uint8_t* record = fake::DesignRecord();
    int16_t kind;
    std::memcpy(&kind, record + hostabi::kDesignKind, 2);
    const char* text = kind == 5 ? "Parms: (fake)" : "Return Code :";
    record[hostabi::kDesignLength] = uint8_t(std::strlen(text));
    std::strcpy(reinterpret_cast<char*>(record + hostabi::kDesignText), text);
    record[hostabi::kDesignCleared] = 0;
    return;
  }
  if (message != kMsgExecute || !*slot) return;
  int count = int(fake::ReadNumber(kFieldParamCount));
  switch (fake::FunctionNumber()) {
    case 1:
      fake::WriteValue(kFieldReturn, kValueCText, "1.2");
      break;
    case 3:
      break;
    case 5: {
      int16_t type = 0;
      bool picture =
          count >= 1 && fake::FieldInfo(kFieldFirstParam, &type, nullptr) == 1 && type == kFieldTypePicture;
      if (picture) fake::WritePicture(kFieldFirstParam, 64, 48);
      fake::WriteNumber(kFieldReturn, picture ? 0 : 3);
      break;
    }
    case 6:
      fake::WriteNumber(kFieldReturn, fake::ReadNumber(kFieldFirstParam) * 2);
      break;
    case 7: {
      char text[40];
      fake::ReadValue(kFieldFirstParam, kValueCText, 31, text);
      std::strcat(text, "=7");
      fake::WriteValue(kFieldFirstParam + 1, kValueCText, text);
      fake::WriteNumber(kFieldReturn, 0);
      break;
    }
    default:
      fake::WriteNumber(kFieldReturn, count);
  }
}

const bool kInstalled = (fake::SetHandler(Run), true);

}  // namespace

#if KV_WINDOWS_BUILD
extern "C" __declspec(dllexport) void __stdcall Kardivelle(int32_t message, void** slot, void* window, int32_t,
                                                           int32_t, HostCallback callback) {
  fake::Dispatch(int16_t(message), slot, window, callback);
}
#else
extern "C" void FakeMain(int16_t message, void** slot, HostParamBlock* block) __asm__("main");
extern "C" __attribute__((visibility("default"))) void FakeMain(int16_t message, void** slot,
                                                                HostParamBlock* block) {
  fake::Dispatch(message, slot, nullptr, block);
}
#endif
