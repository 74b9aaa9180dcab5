// The Velmar host's extension interface, as both sides of it see it: the entry points, the
// Mac HostParamBlock with its routines at fixed byte offsets, the Windows hostCallback with
// its service numbers, and the records exchanged through them. The host stand-in and the
// extension both include this header, so the two sides cannot drift apart.
//
// Calling conventions, decided here:
//  - Mac entry `main`: C convention, void main(int16_t message, void** slot, HostParamBlock*).
//    The routines in the block use the C convention too.
//  - Windows entry `Kardivelle`: stdcall (WINAPI) with six arguments, exported undecorated:
//    void Kardivelle(int32_t message, void** slot, HWND window, int32_t, int32_t,
//    HostCallback callback). In the 64-bit DLL the slot, the window and the callback are
//    8 bytes wide and the convention is x86-64's one.
//  - Windows hostCallback: stdcall, intptr_t callback(int32_t service, intptr_t a1,
//    intptr_t a2, intptr_t a3, intptr_t a4): pointer-sized arguments and result, so that an
//    address travels whole (32 bits in the 32-bit DLL, as it always was). Unused arguments
//    are 0. Service 28 returns the field number; every other service's result is 0 and is
//    not looked at.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "traits/build_traits.h"

#if KV_WINDOWS_BUILD
#define KV_HOST_CALL __stdcall
#else
#define KV_HOST_CALL
#endif

// Host field numbers and value types.
constexpr int16_t kFieldReturn = 200;
constexpr int16_t kFieldParamCount = 210;
constexpr int16_t kFieldFirstParam = 211;
constexpr int16_t kValueNumber = 0;
constexpr int16_t kValuePascalText = 1;
constexpr int16_t kValueCText = 2;
constexpr int16_t kValuePicture = 9;
// Field types that the field information service reports.
constexpr int16_t kFieldTypeText = 1;
constexpr int16_t kFieldTypeNumber = 2;
constexpr int16_t kFieldTypeNothing = 3;
constexpr int16_t kFieldTypePicture = 14;

// Requests of the field information / instance data services.
constexpr int16_t kInfoGetAtom = 1;
constexpr int16_t kInfoFieldInfo = 2;
constexpr int16_t kInfoSetAtom = 3;
constexpr int16_t kInfoDeleteAtom = 4;

// The host's number as it crosses the interface: Mac 80-bit extended (10 bytes),
// Windows an 8-byte IEEE double.
struct Extended80 {
  uint8_t bytes[10];
};
#if KV_WINDOWS_BUILD
typedef double HostFloat;  // what the extension computes with
#else
typedef long double HostFloat;
#endif

// ------------------------------------------------------------------ Mac HostParamBlock
struct HostParamBlock;
struct HostInfoRecord;
namespace hostabi {
typedef int16_t (*FieldByNameProc)(const unsigned char* pascalName, HostParamBlock* block);
typedef void (*ReadNumberProc)(Extended80* result, int32_t field, HostParamBlock* block);
typedef void (*WriteValueProc)(int32_t field, int32_t type, const void* data, HostParamBlock* block);
typedef void (*ReadValueProc)(int32_t field, int32_t type, int32_t maxLength, void* dest,
                              HostParamBlock* block);
typedef void (*InfoProc)(HostInfoRecord* record, HostParamBlock* block);
typedef int16_t (*FunctionNumberProc)(HostParamBlock* block);
typedef void* (*DesignRecordProc)(HostParamBlock* block);

constexpr size_t kFieldByName = 12;
constexpr size_t kReadNumber = 24;
constexpr size_t kWriteValue = 28;
constexpr size_t kReadValue = 128;
constexpr size_t kFieldInfo = 156;
constexpr size_t kInstanceData = 164;
constexpr size_t kFunctionNumber = 168;
constexpr size_t kDesignRecord = 172;
constexpr size_t kBlockSize = 176;
}  // namespace hostabi

// The block is opaque bytes to both sides; routines live at the offsets above.
struct HostParamBlock {
  uint8_t bytes[hostabi::kBlockSize];

  template <typename Proc>
  Proc Routine(size_t offset) const {
    Proc p;
    std::memcpy(&p, bytes + offset, sizeof p);
    return p;
  }
  template <typename Proc>
  void SetRoutine(size_t offset, Proc p) {
    std::memcpy(bytes + offset, &p, sizeof p);
  }
};

// ------------------------------------------------------------------ Windows hostCallback
typedef intptr_t(KV_HOST_CALL* HostCallback)(int32_t service, intptr_t a1, intptr_t a2, intptr_t a3,
                                             intptr_t a4);
namespace hostabi {
constexpr int32_t kSvcFieldByName = 28;     // (pascal name) -> field number
constexpr int32_t kSvcReadNumber = 29;      // (field, double* result)
constexpr int32_t kSvcWriteValue = 30;      // (field, type, data)
constexpr int32_t kSvcReadValue = 38;       // (field, type, max length, destination)
constexpr int32_t kSvcFieldInfo = 45;       // (HostInfoRecord*)
constexpr int32_t kSvcFunctionNumber = 48;  // (int32_t* result)
constexpr int32_t kSvcDesignRecord = 49;    // (void** result)
}  // namespace hostabi

// The call context the extension keeps in `hostParams`.
#if KV_WINDOWS_BUILD
typedef HostCallback HostContext;
#else
typedef HostParamBlock* HostContext;
#endif

// ------------------------------------------------------------------ HostInfoRecord
// Byte offsets: 0 name (length-prefixed, 256 bytes), 256 field number, 258 field type,
// 262 request, 272 atom value (pointer-sized), status at 308 (Mac), 332 (32-bit Windows) or
// 336 (64-bit Windows: the value takes 8 bytes and the status moves with it).
namespace hostabi {
constexpr size_t kInfoStatusMac = 308;
constexpr size_t kInfoStatusWin = kPointerBytes == 8 ? 336 : 332;
constexpr size_t kInfoStatus = kWindowsBuild ? kInfoStatusWin : kInfoStatusMac;
}  // namespace hostabi
struct HostInfoRecord {
  uint8_t name[256];
  int16_t field;
  int16_t fieldType;
  uint8_t pad0[2];
  int16_t request;
  uint8_t pad1[8];
  void* value;
  uint8_t pad2[hostabi::kInfoStatus - 272 - sizeof(void*)];
  int16_t status;
  uint8_t pad3[2];
};
static_assert(offsetof(HostInfoRecord, field) == 256, "HostInfoRecord field");
static_assert(offsetof(HostInfoRecord, fieldType) == 258, "HostInfoRecord type");
static_assert(offsetof(HostInfoRecord, request) == 262, "HostInfoRecord request");
static_assert(offsetof(HostInfoRecord, value) == 272, "HostInfoRecord value");
static_assert(offsetof(HostInfoRecord, status) == hostabi::kInfoStatus, "HostInfoRecord status");

// ------------------------------------------------------------------ DesignRecord
// Byte offsets of the record that the design-record service returns during messages 3, 4.
namespace hostabi {
constexpr size_t kDesignKind = kWindowsBuild ? 8 : 6;
constexpr size_t kDesignCleared = kWindowsBuild ? 10 : 8;
constexpr size_t kDesignLength = kWindowsBuild ? 12 : 10;
constexpr size_t kDesignText = kWindowsBuild ? 13 : 11;
constexpr size_t kDesignFlag = 14;
constexpr size_t kDesignRecordSize = 512;  // room for any description after the text offset
}  // namespace hostabi

// ------------------------------------------------------------------ entry points
typedef void (*MacEntryProc)(int16_t message, void** slot, HostParamBlock* block);
typedef void(KV_HOST_CALL* WinEntryProc)(int32_t message, void** slot, void* window, int32_t reserved1,
                                         int32_t reserved2, HostCallback callback);

// Messages of the entry point.
constexpr int16_t kMsgConstruct = 0;
constexpr int16_t kMsgExecute = 1;
constexpr int16_t kMsgDestruct = 2;
constexpr int16_t kMsgDescribe = 3;
constexpr int16_t kMsgDesignFlag = 4;
