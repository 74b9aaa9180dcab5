// The per-instance record. The host keeps a pointer to it in its instance slot; message 0
// creates it, message 2 frees it. Both layouts are declared with the field order the two
// builds use; `TwainGlobals` is the running build's.
#pragma once
#include <cstdint>
#include <type_traits>

#include "host/host_abi.h"
#include "twain/twain.h"

constexpr uint32_t kSignatureLoad = 0x4C4F4144;  // 'LOAD': message 0 is setting the record up
constexpr uint32_t kSignatureCool = 0x434F4F4C;  // 'COOL': ready
constexpr const char* kAtomName = "KARDIVELLE";

constexpr int kCapRowsMac = 88;
constexpr int kCapRowsWin = 84;
constexpr int kCapRows = kWindowsBuild ? kCapRowsWin : kCapRowsMac;
constexpr int kCapNameMax = 28;

struct CapEntry {
  TW_UINT16 capId;
  TW_UINT16 itemType;
  char capName[kCapNameMax + 4];
};

struct TwainGlobalsMac {
  uint32_t signature;
  char atomName[20];
  uint8_t dsOpen;
  uint8_t dsmOpen;
  uint8_t sourceSelected;
  uint8_t dsEnabled;
  uint8_t dsmBound;
  uint8_t showUI;
  uint8_t scanComplete;
  tw::mac::TW_IDENTITY appIdentity;
  tw::mac::TW_IDENTITY sourceIdentity;
  TW_HANDLE imageHandle;
  TW_UINT16 fileFormat;
  uint8_t filePath[256];
  HostParamBlock* hostParams;
  CapEntry capTable[kCapRowsMac];
  uint8_t transferPending;
  uint8_t closeRequested;
};

struct TwainGlobalsWin {
  uint32_t signature;
  uint8_t dsOpen;
  uint8_t dsmOpen;
  uint8_t sourceSelected;
  uint8_t dsEnabled;
  uint8_t dsmBound;
  uint8_t showUI;
  uint8_t closeRequested;
  uint8_t inTransfer;
  tw::win::TW_IDENTITY appIdentity;
  tw::win::TW_IDENTITY sourceIdentity;
  TW_HANDLE imageHandle;  // a packed DIB, or after conversion a device bitmap
  TW_UINT16 fileFormat;
  char filePath[256];
  void* previousWndProc;
  HostCallback hostParams;
  CapEntry capTable[kCapRowsWin];
};

typedef std::conditional_t<kWindowsBuild, TwainGlobalsWin, TwainGlobalsMac> TwainGlobals;
static_assert(std::is_same_v<decltype(TwainGlobals::hostParams), HostContext>, "call context type");
static_assert(std::is_same_v<decltype(TwainGlobals::appIdentity), TW_IDENTITY>, "identity layout");
