// Binding the TWAIN manager at run time (TWAIN_32.DLL; TWAINDSM.DLL first in a 64-bit
// process), and the process-wide values that all instances of the Windows build share: the DSM
// library and its entry here, the module handle and the host window (module_values.h), all
// set afresh when the module is loaded.
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
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && moduleHandle == nullptr) {
    moduleHandle = instance;
    hostWindow = nullptr;
    dsmLibrary = nullptr;
    dsmEntry = nullptr;
  } else if (reason == DLL_PROCESS_DETACH) {
    moduleHandle = nullptr;
  }
  return TRUE;
}

namespace platform {

DSMENTRYPROC DsmEntry() { return dsmEntry; }
bool DsmEntryResolved() { return dsmEntry != nullptr; }

// The library that holds the manager. A 64-bit process has no TWAIN_32.DLL on Windows: its
// manager is TWAINDSM.DLL in the system folder, taken first; where there is none, the
// Windows folder's TWAIN_32.DLL, as a 32-bit process takes it (Wine ships a 64-bit one). A
// folder name longer than 159 characters, or a file that is not there, gives no library.
static HMODULE LoadManager() {
  char path[160 + 16];
  OFSTRUCT of;
  if constexpr (kPointerBytes == 8) {
    UINT n = GetSystemDirectoryA(path, 160);
    if (n != 0 && n < 160) {
      if (path[n - 1] != '\\') path[n++] = '\\';
      std::strcpy(path + n, "TWAINDSM.DLL");
      if (OpenFile(path, &of, OF_EXIST) != HFILE_ERROR) return LoadLibraryA(path);
    }
  }
  UINT n = GetWindowsDirectoryA(path, 160);
  if (n == 0 || n >= 160) return nullptr;
  if (path[n - 1] != '\\') path[n++] = '\\';
  std::strcpy(path + n, "TWAIN_32.DLL");
  if (OpenFile(path, &of, OF_EXIST) == HFILE_ERROR) return nullptr;
  return LoadLibraryA("TWAIN_32.DLL");
}

bool BindDSM(TwainGlobals* g) {
  // An instance still marked bound after another instance unloaded the library binds again.
  if (g->dsmBound && dsmEntry) return true;
  g->dsmBound = 0;
  HMODULE lib = LoadManager();
  if (reinterpret_cast<uintptr_t>(lib) < 32) return false;
  DSMENTRYPROC entry =
      reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(lib, reinterpret_cast<LPCSTR>(1))));
  if (!entry) {
    FreeLibrary(lib);  // not a TWAIN manager: the next call tries afresh, holding nothing
    return false;
  }
  if (dsmLibrary) FreeLibrary(dsmLibrary);  // a reference an earlier binding left
  dsmLibrary = lib;
  dsmEntry = entry;
  g->dsmBound = 1;
  return true;
}

void UnbindDSM(TwainGlobals* g) {
  if (dsmLibrary) FreeLibrary(dsmLibrary);
  dsmLibrary = nullptr;
  dsmEntry = nullptr;
  g->dsmBound = 0;
}

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
