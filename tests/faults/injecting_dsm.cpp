#include "tests/faults/injecting_dsm.h"

#include <cstdlib>

#if KV_WINDOWS_BUILD
#include <windows.h>

#include "tests/fake-dsm/fault_dsm.h"
#include "tests/support/fixture.h"
#else
#include <TWAIN/TWAINFrameworkStandin.h>
#endif

namespace kvtest {
namespace injecting_dsm {

#if KV_WINDOWS_BUILD

namespace {

// The library, loaded once by the test program and kept: its log and injections must outlive
// every Disconnect, which frees the extension's own reference.
HMODULE Library() {
  static HMODULE module = [] {
    if (!std::getenv("KV_FAULT_DSM")) return HMODULE{};
    if (!std::getenv("KV_FAULT_TWAINDSM")) return LoadLibraryA("TWAIN_32.DLL");
    // The TWAIN 2 manager's: the system folder's TWAINDSM.DLL, by its full path as the
    // extension loads it.
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH - 16);
    if (n == 0 || n >= MAX_PATH - 16) return HMODULE{};
    lstrcpyA(path + n, "\\twaindsm.dll");
    return LoadLibraryA(path);
  }();
  return module;
}

template <typename F>
F Control(const char* name) {
  return Library() ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Library(), name))) : nullptr;
}

}  // namespace

bool Available(std::string* why) {
  if (!std::getenv("KV_FAULT_DSM")) {
    *why = "runs only beside the fault-injecting TWAIN_32.DLL (KV_FAULT_DSM)";
    return false;
  }
  if (!Control<void(WINAPI*)(int, TW_UINT16, TW_UINT16)>("FaultDsm_FailCall")) {
    *why = "the TWAIN_32.DLL loaded is not the fault-injecting one";
    return false;
  }
  return true;
}

void Reset() { Control<void(WINAPI*)()>("FaultDsm_Reset")(); }
void ClearLog() { Control<void(WINAPI*)()>("FaultDsm_ClearLog")(); }

std::vector<LoggedRequest> Log() {
  auto count = Control<int(WINAPI*)()>("FaultDsm_CallCount");
  auto call = Control<const FaultDsmCall*(WINAPI*)(int)>("FaultDsm_Call");
  std::vector<LoggedRequest> log;
  for (int i = 0; i < count(); ++i) {
    const FaultDsmCall* c = call(i);
    log.push_back({c->DG, c->DAT, c->MSG, c->dest != 0});
  }
  return log;
}

void FailCall(int k, TW_UINT16 rc, TW_UINT16 cc) {
  Control<void(WINAPI*)(int, TW_UINT16, TW_UINT16)>("FaultDsm_FailCall")(k, rc, cc);
}
void FailStatus(bool on) { Control<void(WINAPI*)(int)>("FaultDsm_FailStatus")(on ? 1 : 0); }
bool FailMemory(bool on) {
  auto fail = Control<void(WINAPI*)(int)>("FaultDsm_FailMemory");
  if (fail) fail(on ? 1 : 0);
  return fail != nullptr;
}
void AnswerCall(int k, TW_UINT16 rc) { Control<void(WINAPI*)(int, TW_UINT16)>("FaultDsm_AnswerCall")(k, rc); }
int OpenApplications() { return Control<int(WINAPI*)()>("FaultDsm_OpenApplications")(); }
int OpenSources() { return Control<int(WINAPI*)()>("FaultDsm_OpenSources")(); }

void ArrangeSelection(velmar::Host& host) {
  std::string error;
  velmar::ArrangeSelection(host, VirtualScannerChoice(), &error);
}
void EndSelection() { velmar::EndSelection(); }

#else

bool Available(std::string*) { return true; }
void Reset() { TWAINFramework_Reset(); }
void ClearLog() { TWAINFramework_ClearLog(); }

std::vector<LoggedRequest> Log() {
  std::vector<LoggedRequest> log;
  for (int i = 0; i < TWAINFramework_CallCount(); ++i) {
    const TWAINFrameworkCall* c = TWAINFramework_Call(i);
    log.push_back({c->DG, c->DAT, c->MSG, c->dest != 0});
  }
  return log;
}

void FailCall(int k, TW_UINT16 rc, TW_UINT16 cc) { TWAINFramework_FailCall(k, rc, cc); }
void FailStatus(bool on) { TWAINFramework_FailStatus(on); }
bool FailMemory(bool) { return false; }
void AnswerCall(int k, TW_UINT16 rc) { TWAINFramework_AnswerCall(k, rc); }
int OpenApplications() { return TWAINFramework_OpenApplications(); }
int OpenSources() { return TWAINFramework_OpenSources(); }
void ArrangeSelection(velmar::Host&) { TWAINFramework_SetSelectionUser(0); }
void EndSelection() {}

#endif

}  // namespace injecting_dsm
}  // namespace kvtest
