// Binding the TWAIN manager at run time (TWAIN_32.DLL from the Windows folder, or TWAINDSM.DLL
// from the system folder, as the option DSM asks), and the process-wide values that all
// instances of the Windows build share: the manager's library, its entry and its TWAIN 2
// entry points here, the module handle and the host window (module_values.h), all set afresh
// when the module is loaded.
#include <windows.h>
// EnumProcessModules from kernel32 (K32EnumProcessModules), as Windows 7 and Wine have it.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <algorithm>
#include <cstring>

#include "platform/windows/module_values.h"
#include "twain/dsm_platform.h"

using module_values::hostWindow;
using module_values::moduleHandle;

namespace {
HMODULE dsmLibrary = nullptr;
DSMENTRYPROC dsmEntry = nullptr;
BoundManager bound = BoundManager::kNone;
TW_ENTRYPOINT entryPoints{};
bool entryPointsKept = false;
bool managerMemoryInUse = false;

void ForgetEntryPoints() {
  entryPoints = TW_ENTRYPOINT{};
  entryPointsKept = false;
  managerMemoryInUse = false;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && moduleHandle == nullptr) {
    moduleHandle = instance;
    hostWindow = nullptr;
    dsmLibrary = nullptr;
    dsmEntry = nullptr;
    bound = BoundManager::kNone;
    ForgetEntryPoints();
  } else if (reason == DLL_PROCESS_DETACH) {
    moduleHandle = nullptr;
  }
  return TRUE;
}

namespace platform {

DSMENTRYPROC DsmEntry() { return dsmEntry; }
bool DsmEntryResolved() { return dsmEntry != nullptr; }

BoundManager Bound() { return dsmEntry ? bound : BoundManager::kNone; }

namespace {

// `folder` (from GetSystemDirectoryA or GetWindowsDirectoryA, which answer the length) with
// `file` behind it, when the whole fits; a folder name longer than 159 characters gives none.
bool PathIn(UINT n, char (&path)[176], const char* file) {
  if (n == 0 || n >= 160) return false;
  if (path[n - 1] != '\\') path[n++] = '\\';
  std::strcpy(path + n, file);
  return true;
}

bool Exists(const char* path) {
  OFSTRUCT of;
  return OpenFile(path, &of, OF_EXIST) != HFILE_ERROR;
}

// TWAINDSM.DLL of the system folder (system32; syswow64 for a 32-bit process of 64-bit
// Windows), by its full path.
HMODULE LoadTwainDsm() {
  char path[176];
  if (!PathIn(GetSystemDirectoryA(path, 160), path, "TWAINDSM.DLL") || !Exists(path)) return nullptr;
  return LoadLibraryA(path);
}

// TWAIN_32.DLL of the Windows folder, loaded by name as every TWAIN 1.x application loads it
// (Wine ships one of each width).
HMODULE LoadTwain32() {
  char path[176];
  if (!PathIn(GetWindowsDirectoryA(path, 160), path, "TWAIN_32.DLL") || !Exists(path)) return nullptr;
  return LoadLibraryA("TWAIN_32.DLL");
}

HMODULE LoadManager(ManagerChoice choice, BoundManager* which) {
  HMODULE lib = nullptr;
  if (choice != ManagerChoice::kTwain32) {
    lib = LoadTwainDsm();
    *which = BoundManager::kTwainDsm;
    if (lib || choice == ManagerChoice::kTwainDsm) return lib;
  }
  *which = BoundManager::kTwain32;
  return LoadTwain32();
}

}  // namespace

bool BindDSM(TwainGlobals* g, ManagerChoice choice) {
  // An instance still marked bound after another instance unloaded the library binds again;
  // one that finds the library another instance bound shares it, whatever it would choose.
  if (dsmEntry) {
    g->dsmBound = 1;
    return true;
  }
  g->dsmBound = 0;
  BoundManager which = BoundManager::kNone;
  HMODULE lib = LoadManager(choice, &which);
  if (reinterpret_cast<uintptr_t>(lib) < 32) return false;
  auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(lib, "DSM_Entry")));
  if (!entry)
    entry = reinterpret_cast<DSMENTRYPROC>(
        reinterpret_cast<void*>(GetProcAddress(lib, reinterpret_cast<LPCSTR>(1))));
  if (!entry) {
    FreeLibrary(lib);  // not a TWAIN manager: the next call tries afresh, holding nothing
    return false;
  }
  if (dsmLibrary) FreeLibrary(dsmLibrary);  // a reference an earlier binding left
  dsmLibrary = lib;
  dsmEntry = entry;
  bound = which;
  ForgetEntryPoints();
  g->dsmBound = 1;
  return true;
}

void UnbindDSM(TwainGlobals* g) {
  if (dsmLibrary) FreeLibrary(dsmLibrary);
  dsmLibrary = nullptr;
  dsmEntry = nullptr;
  bound = BoundManager::kNone;
  ForgetEntryPoints();
  g->dsmBound = 0;
}

void KeepManagerEntryPoints(const TW_ENTRYPOINT& points) {
  entryPoints = points;
  entryPointsKept = true;
}

const TW_ENTRYPOINT* ManagerEntryPoints() { return entryPointsKept && dsmEntry ? &entryPoints : nullptr; }

void UseManagerMemory(bool useForSource) { managerMemoryInUse = useForSource && ManagerEntryPoints(); }

const TW_ENTRYPOINT* SourceHandleMemory() { return managerMemoryInUse ? ManagerEntryPoints() : nullptr; }

TW_MEMREF DsmParentData() { return &hostWindow; }

// A source is a module whose name ends in ".ds" and that exports DS_Entry; its identity is
// asked as the DSM asks it, in any state.
DSENTRYPROC LoadedSourceEntry(TW_IDENTITY* app, const TW_IDENTITY& source) {
  HMODULE modules[256];
  DWORD bytes = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes)) return nullptr;
  DWORD count = std::min<DWORD>(bytes / sizeof(HMODULE), 256);
  for (DWORD i = 0; i < count; ++i) {
    char name[MAX_PATH];
    DWORD n = GetModuleFileNameA(modules[i], name, sizeof name);
    if (n < 3 || n >= sizeof name || lstrcmpiA(name + n - 3, ".ds") != 0) continue;
    auto entry = reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(modules[i], "DS_Entry")));
    if (!entry) continue;
    TW_IDENTITY id{};
    if (entry(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id) != TWRC_SUCCESS) continue;
    if (std::strncmp(id.ProductName, source.ProductName, sizeof id.ProductName) == 0) return entry;
  }
  return nullptr;
}

}  // namespace platform
