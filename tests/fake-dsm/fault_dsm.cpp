// A TWAIN_32.DLL in front of Wine's: it passes every call on to Wine's DSM (a copy of Wine's
// library beside this one, under another name), and on the way logs the application's calls,
// fails the one chosen, and keeps count of what the application holds open. Sources reach
// it too (they load TWAIN_32.DLL by name); their DAT_NULL messages pass untouched.
// Built a second time as a TWAINDSM.DLL in front of the TWAIN 2 manager stand-in (its copy
// beside this one is KV_FAULT_REAL_DSM): then it can also hand out, in DAT_ENTRYPOINT, memory
// functions that fail (DSM_MemAllocate and DSM_MemLock answer null).
//
// Like the Mac framework stand-in's injection: a failed call is not passed on; its condition
// code is what the next DAT_STATUS then reports, from the DSM (no destination) or for that
// source. DAT_EVENT/MSG_PROCESSEVENT is passed on without being counted or logged: how many
// window messages a scan's loop sees is up to the window system, so the k-th call would not
// be the same call from one run to the next.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "tests/fake-dsm/fault_dsm.h"

namespace {

#ifndef KV_FAULT_REAL_DSM
#define KV_FAULT_REAL_DSM "winedsm.dll"
#endif

HMODULE RealLibrary() {
  static HMODULE real = [] {
    char path[MAX_PATH] = {0};
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&RealLibrary), &self);
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') --n;
    lstrcpyA(path + n, KV_FAULT_REAL_DSM);
    return LoadLibraryA(path);
  }();
  return real;
}

FaultDsmEntry RealEntry() {
  static FaultDsmEntry entry = [] {
    HMODULE real = RealLibrary();
    return real ? reinterpret_cast<FaultDsmEntry>(reinterpret_cast<void*>(GetProcAddress(real, "DSM_Entry")))
                : nullptr;
  }();
  return entry;
}

// Memory functions that fail, handed out in DAT_ENTRYPOINT while gFailMemory is on; what they
// cannot do leaks nothing (a free and an unlock go to the manager's own).
bool gFailMemory = false;
TW_ENTRYPOINT gRealPoints{};
TW_HANDLE TW_CALLINGSTYLE FailingAllocate(TW_UINT32) { return nullptr; }
TW_MEMREF TW_CALLINGSTYLE FailingLock(TW_HANDLE) { return nullptr; }
void TW_CALLINGSTYLE PassedFree(TW_HANDLE h) { gRealPoints.DSM_MemFree(h); }
void TW_CALLINGSTYLE PassedUnlock(TW_HANDLE h) { gRealPoints.DSM_MemUnlock(h); }

void SpoilMemory(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data, TW_UINT16 rc) {
  if (!gFailMemory || rc != TWRC_SUCCESS || DG != DG_CONTROL || DAT != DAT_ENTRYPOINT || MSG != MSG_GET ||
      !data)
    return;
  auto* points = static_cast<TW_ENTRYPOINT*>(data);
  gRealPoints = *points;
  points->DSM_MemAllocate = FailingAllocate;
  points->DSM_MemLock = FailingLock;
  points->DSM_MemFree = PassedFree;
  points->DSM_MemUnlock = PassedUnlock;
}

std::vector<FaultDsmCall> gLog;
int gFailK = 0;
int gAnswerK = 0;  // the k-th call from now is passed on, and a success answers gAnswerRc
TW_UINT16 gAnswerRc = 0;
TW_UINT16 gFailRc = 0, gFailCc = 0;
bool gFailStatus = false;
bool gDsmConditionPending = false;
TW_UINT16 gDsmCondition = TWCC_SUCCESS;
std::map<TW_UINT32, TW_UINT16> gSourceConditions;  // source Id -> condition of its injected failure
// What the applications hold open, with the identities and window to close it again.
struct OpenApp {
  TW_IDENTITY identity;
  HWND parent;
};
std::map<TW_UINT32, OpenApp> gOpenApps;
std::map<std::pair<TW_UINT32, TW_UINT32>, TW_IDENTITY> gOpenSources;  // (application, source)

bool IsEvent(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG) {
  return DG == DG_CONTROL && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT;
}

bool IsStatus(TW_UINT32 DG, TW_UINT16 DAT) { return DG == DG_CONTROL && DAT == DAT_STATUS; }

// The injected condition that this status request reports, if there is one.
bool InjectedStatus(pTW_IDENTITY dest, TW_MEMREF data, TW_UINT16* rc) {
  TW_UINT16 cc;
  if (!dest) {
    if (!gDsmConditionPending) return false;
    gDsmConditionPending = false;
    cc = gDsmCondition;
  } else {
    auto it = gSourceConditions.find(dest->Id);
    if (it == gSourceConditions.end()) return false;
    cc = it->second;
    gSourceConditions.erase(it);
  }
  if (!data) {
    *rc = TWRC_FAILURE;
    return true;
  }
  auto* status = static_cast<TW_STATUS*>(data);
  status->ConditionCode = cc;
  status->Reserved = 0;
  *rc = TWRC_SUCCESS;
  return true;
}

// Whether this call was chosen to fail; fills rc and records its condition.
bool Injected(pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16* rc) {
  if (gFailStatus && IsStatus(DG, DAT)) {
    *rc = TWRC_FAILURE;
    return true;
  }
  if (gFailK == 0 || --gFailK > 0) return false;
  *rc = gFailRc;
  if (dest) {
    gSourceConditions[dest->Id] = gFailCc;
  } else {
    gDsmConditionPending = true;
    gDsmCondition = gFailCc;
  }
  return true;
}

// With KV_FAULT_DSM_TRACE set, every logged call and its answer go to stderr.
void Trace(pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data, TW_UINT16 rc) {
  static const bool on = std::getenv("KV_FAULT_DSM_TRACE") != nullptr;
  if (!on) return;
  std::fprintf(stderr, "DSM %s DG %u DAT 0x%x MSG 0x%x -> %u", dest ? "src" : "dsm", static_cast<unsigned>(DG),
               DAT, MSG, rc);
  if (IsStatus(DG, DAT) && data && rc == TWRC_SUCCESS)
    std::fprintf(stderr, " cc %u", static_cast<TW_STATUS*>(data)->ConditionCode);
  std::fputc('\n', stderr);
}

// What the application holds open, after a call that the DSM answered.
void Track(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data, TW_UINT16 rc) {
  if (rc != TWRC_SUCCESS || DG != DG_CONTROL) return;
  if (DAT == DAT_PARENT && MSG == MSG_OPENDSM)
    gOpenApps[origin->Id] = {*origin, data ? *static_cast<HWND*>(data) : nullptr};
  if (DAT == DAT_PARENT && MSG == MSG_CLOSEDSM) {
    gOpenApps.erase(origin->Id);
    for (auto it = gOpenSources.begin(); it != gOpenSources.end();)
      it = it->first.first == origin->Id ? gOpenSources.erase(it) : std::next(it);
  }
  if (DAT == DAT_IDENTITY && data) {
    TW_UINT32 source = static_cast<pTW_IDENTITY>(data)->Id;
    if (MSG == MSG_OPENDS) gOpenSources[{origin->Id, source}] = *static_cast<pTW_IDENTITY>(data);
    if (MSG == MSG_CLOSEDS) gOpenSources.erase({origin->Id, source});
  }
}

}  // namespace

extern "C" TW_UINT16 WINAPI DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                      TW_UINT16 MSG, TW_MEMREF pData) {
  FaultDsmEntry real = RealEntry();
  if (!real) return TWRC_FAILURE;
  if (!pOrigin || (DG == DG_CONTROL && DAT == DAT_NULL) || IsEvent(DG, DAT, MSG))
    return real(pOrigin, pDest, DG, DAT, MSG, pData);

  size_t entry = gLog.size();
  gLog.push_back({pOrigin->Id, pDest ? pDest->Id : 0, DG, DAT, MSG, 0});
  TW_UINT16 rc;
  bool answer = gAnswerK > 0 && --gAnswerK == 0;
  if (!Injected(pDest, DG, DAT, &rc) && !(IsStatus(DG, DAT) && InjectedStatus(pDest, pData, &rc))) {
    rc = real(pOrigin, pDest, DG, DAT, MSG, pData);
    Track(pOrigin, DG, DAT, MSG, pData, rc);
    SpoilMemory(DG, DAT, MSG, pData, rc);
  }
  if (answer && rc == TWRC_SUCCESS) rc = gAnswerRc;
  gLog[entry].rc = rc;
  Trace(pDest, DG, DAT, MSG, pData, rc);
  return rc;
}

extern "C" {

int WINAPI FaultDsm_CallCount(void) { return static_cast<int>(gLog.size()); }
const FaultDsmCall* WINAPI FaultDsm_Call(int index) {
  return index >= 0 && index < static_cast<int>(gLog.size()) ? &gLog[index] : nullptr;
}
void WINAPI FaultDsm_ClearLog(void) { gLog.clear(); }

void WINAPI FaultDsm_FailCall(int k, TW_UINT16 rc, TW_UINT16 cc) {
  gFailK = k < 0 ? 0 : k;
  gFailRc = rc;
  gFailCc = cc;
  if (k == 0) {
    gDsmConditionPending = false;
    gSourceConditions.clear();
  }
}
void WINAPI FaultDsm_FailStatus(int on) { gFailStatus = on != 0; }
void WINAPI FaultDsm_AnswerCall(int k, TW_UINT16 rc) {
  gAnswerK = k < 0 ? 0 : k;
  gAnswerRc = rc;
}

void WINAPI FaultDsm_FailMemory(int on) { gFailMemory = on != 0; }

// The manager stand-in's count of live blocks, passed through (0 in front of Wine's DSM).
TW_UINT32 TwainDsmStandinLiveBlocks() {
  auto count = RealLibrary() ? reinterpret_cast<TW_UINT32 (*)()>(reinterpret_cast<void*>(
                                   GetProcAddress(RealLibrary(), "TwainDsmStandinLiveBlocks")))
                             : nullptr;
  return count ? count() : 0;
}

int WINAPI FaultDsm_OpenApplications(void) { return static_cast<int>(gOpenApps.size()); }
int WINAPI FaultDsm_OpenSources(void) { return static_cast<int>(gOpenSources.size()); }

// Disables and closes through Wine's DSM every source and DSM connection still open, and
// forgets the log and any injection.
void WINAPI FaultDsm_Reset(void) {
  gFailMemory = false;
  gFailK = 0;
  gAnswerK = 0;
  gFailStatus = false;
  gDsmConditionPending = false;
  gSourceConditions.clear();
  FaultDsmEntry real = RealEntry();
  if (real) {
    for (auto& open : gOpenSources) {
      auto app = gOpenApps.find(open.first.first);
      if (app == gOpenApps.end()) continue;
      TW_USERINTERFACE ui{};
      real(&app->second.identity, &open.second, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      real(&app->second.identity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &open.second);
    }
    for (auto& app : gOpenApps)
      real(&app.second.identity, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &app.second.parent);
  }
  gOpenSources.clear();
  gOpenApps.clear();
  gLog.clear();
}

}  // extern "C"
