// Test support: the source driven through DS_Entry as a DSM would, with its notifications
// caught in-process, and the platform's memory read back in the running build's layout.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "standins/virtual-scanner/core/scanner.h"
#include "standins/virtual-scanner/vscanner.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
inline std::vector<uint8_t> HandleBytes(TW_HANDLE h) {
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  std::vector<uint8_t> b(p, p + GlobalSize(h));
  GlobalUnlock(h);
  return b;
}
inline void FreeHandle(TW_HANDLE h) { GlobalFree(h); }
inline TW_HANDLE HandleWith(const std::vector<uint8_t>& b) {
  HGLOBAL h = GlobalAlloc(GHND, b.size());
  std::memcpy(GlobalLock(h), b.data(), b.size());
  GlobalUnlock(h);
  return h;
}
#else
#include <Carbon/Carbon.h>
inline std::vector<uint8_t> HandleBytes(TW_HANDLE h) {
  Handle m = static_cast<Handle>(h);
  HLock(m);
  std::vector<uint8_t> b(reinterpret_cast<uint8_t*>(*m), reinterpret_cast<uint8_t*>(*m) + GetHandleSize(m));
  HUnlock(m);
  return b;
}
inline void FreeHandle(TW_HANDLE h) { DisposeHandle(static_cast<Handle>(h)); }
inline TW_HANDLE HandleWith(const std::vector<uint8_t>& b) {
  Handle h = NewHandle(Size(b.size()));
  std::memcpy(*h, b.data(), b.size());
  return h;
}
#endif

namespace nat = tw::native;

template <typename T>
T At(const std::vector<uint8_t>& b, size_t off) {
  T v;
  std::memcpy(&v, b.data() + off, sizeof v);
  return v;
}

inline double Fix(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }
inline TW_FIX32 Fix(double v) {
  long x = long(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
  return TW_FIX32{TW_INT16(x >> 16), TW_UINT16(x & 0xFFFF)};
}

// A TW_ONEVALUE of `size` bytes (at least the item's), written through the layout's struct.
template <typename T>
std::vector<uint8_t> OneValueOf(TW_UINT16 type, const T& item, size_t size = 0) {
  size_t need = offsetof(nat::TW_ONEVALUE, Item) + (sizeof(T) < 4 ? 4 : sizeof(T));
  std::vector<uint8_t> b(size > need ? size : need, 0);
  nat::TW_ONEVALUE one{};
  one.ItemType = type;
  std::memcpy(b.data(), &one, offsetof(nat::TW_ONEVALUE, Item));
  std::memcpy(b.data() + offsetof(nat::TW_ONEVALUE, Item), &item, sizeof(T));
  return b;
}

// A TW_ARRAY of TW_UINT16 items, written through the layout's struct.
inline std::vector<uint8_t> ArrayOf16(const std::vector<uint16_t>& items) {
  std::vector<uint8_t> b(offsetof(nat::TW_ARRAY, ItemList) + 2 * items.size(), 0);
  nat::TW_ARRAY a{};
  a.ItemType = TWTY_UINT16;
  a.NumItems = TW_UINT32(items.size());
  std::memcpy(b.data(), &a, offsetof(nat::TW_ARRAY, ItemList));
  if (!items.empty()) std::memcpy(b.data() + offsetof(nat::TW_ARRAY, ItemList), items.data(), 2 * items.size());
  return b;
}

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Close();
    ASSERT_EQ(VirtualScannerControl("reset"), 0);
    notices.clear();
    refuse = false;
    vs::Scanner::Instance().SetNotifyHook([this](TW_UINT16 m) {
      notices.push_back(m);
      stateAtNotice = State();
      return refuse ? TWRC_FAILURE : TWRC_SUCCESS;
    });
    std::memset(&app, 0, sizeof app);
    std::memset(&self, 0, sizeof self);
    self.Id = 7;
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  }
  void TearDown() override {
    Close();
    vs::Scanner::Instance().SetNotifyHook(nullptr);
  }
  // Brings the source down from whatever state a test left it in.
  void Close() {
    TW_PENDINGXFERS p{};
    TW_USERINTERFACE ui{};
    if (State() == 7) Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
    if (State() == 6) Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p);
    if (State() == 5) Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    if (State() == 4) Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self);
  }

  TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return DS_Entry(&app, dg, dat, msg, data);
  }
  static int State() { return vs::Scanner::Instance().State(); }
  TW_UINT16 Status() {
    TW_STATUS s{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
    return s.ConditionCode;
  }
  std::string Query(const std::string& what) {
    char out[4096];
    return VirtualScannerQuery(what.c_str(), out, sizeof out) == 0 ? out : "?";
  }

  // MSG_GET family: the container's bytes (empty when none), its type and the return code.
  std::vector<uint8_t> Get(TW_UINT16 id, TW_UINT16* conType = nullptr, TW_UINT16 msg = MSG_GET,
                           TW_UINT16* rc = nullptr) {
    TW_CAPABILITY cap{id, TWON_DONTCARE16, nullptr};
    TW_UINT16 r = Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
    if (rc) *rc = r;
    if (conType) *conType = cap.ConType;
    if (!cap.hContainer) return {};
    std::vector<uint8_t> b = HandleBytes(cap.hContainer);
    FreeHandle(cap.hContainer);
    return b;
  }
  // MSG_SET of a container; returns TWRC_SUCCESS or the condition code of the failure.
  TW_UINT16 Set(TW_UINT16 id, const std::vector<uint8_t>& bytes, TW_UINT16 conType = TWON_ONEVALUE) {
    TW_CAPABILITY cap{id, conType, HandleWith(bytes)};
    TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    FreeHandle(cap.hContainer);
    return rc == TWRC_SUCCESS ? TWCC_SUCCESS : Status();
  }
  TW_UINT16 Set16(TW_UINT16 id, TW_UINT16 type, uint16_t v) { return Set(id, OneValueOf(type, v)); }
  TW_UINT16 SetFix(TW_UINT16 id, double v) { return Set(id, OneValueOf(TWTY_FIX32, Fix(v))); }

  TW_UINT16 Enable(bool showUI, TW_BOOL modal = 1) {
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI;
    ui.ModalUI = modal;
    TW_UINT16 rc = Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    lastModal = ui.ModalUI;
    return rc;
  }
  TW_UINT16 Poll(TW_UINT16* message = nullptr) {
    TW_EVENT ev{};
    TW_UINT16 rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    if (message) *message = ev.TWMessage;
    return rc;
  }
  // Enabled without the interface and reported: state 6.
  void ToTransferReady() {
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    Poll();
    ASSERT_EQ(State(), 6);
  }

  TW_IDENTITY app{}, self{};
  std::vector<TW_UINT16> notices;
  int stateAtNotice = 0;
  bool refuse = false;
  TW_BOOL lastModal = 0;
};
