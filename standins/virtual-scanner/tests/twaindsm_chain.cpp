// The chain under the TWAIN 2 manager stand-in: copies of the scanner installed below the
// width's source folder (kvcopies\, with their descriptions) are listed by TWAINDSM.dll, loaded
// by path from the build; a TWAIN 2 feeder copy gets the manager's entry points and reports
// through the application's DAT_CALLBACK2, its images are the manager's memory; a TWAIN 2
// flatbed reports through DAT_CALLBACK with its window shown; a 1.x flatbed copy reaches the
// manager (not TWAIN_32.DLL) and its notice comes through DAT_EVENT. No block of the manager
// is left live.
//
// The program installs the copies, runs the checks in a child process of its own (so that a
// crash or an abort of the manager still leaves the prefix as it was) and removes them again.
// Exit status 0 when every check holds.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standins/twaindsm/twaindsm.h"
#include "standins/virtual-scanner/vscanner.h"

namespace {

constexpr bool kWide = sizeof(void*) == 8;

// A path of the build (a Unix path) as Wine's Z: drive shows it.
std::string WinePath(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string CopiesFolder() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + (kWide ? "\\twain_64\\kvcopies" : "\\twain_32\\kvcopies");
}

struct Copy {
  const char* file;
  const char* name;
  const char* description;  // null: a copy whose description is broken
};
const Copy kCopies[] = {
    {"flatbed1.ds", "KV Flatbed 1x", "ProductName=KV Flatbed 1x\r\n"},
    {"feeder2.ds", "KV Feeder 2",
     "; sheet-fed, TWAIN 2\r\nProductName=KV Feeder 2\r\nTwain2=1\r\nFeeder=1\r\nSheets=2\r\n"},
    {"flatbed2.ds", "KV Flatbed 2", "ProductName=KV Flatbed 2\r\nTwain2=1\r\n"},
    // A description that names no product: the module refuses to load, the manager leaves it out.
    {"broken.ds", "", "Twain2=1\r\n"},
};

std::string Installed(const Copy& c) { return CopiesFolder() + "\\" + c.file; }

void Uninstall() {
  for (const Copy& c : kCopies) {
    DeleteFileA(Installed(c).c_str());
    DeleteFileA((Installed(c) + ".ini").c_str());
  }
  RemoveDirectoryA(CopiesFolder().c_str());
}

bool Install() {
  CreateDirectoryA(CopiesFolder().c_str(), nullptr);
  for (const Copy& c : kCopies) {
    if (!CopyFileA(WinePath(KV_SCANNER_DS).c_str(), Installed(c).c_str(), FALSE)) return false;
    HANDLE f =
        CreateFileA((Installed(c) + ".ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(f, c.description, DWORD(std::strlen(c.description)), &written, nullptr);
    CloseHandle(f);
  }
  return true;
}

// ---------------------------------------------------------------- the checks (child process)

int failures = 0;
void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

DSMENTRYPROC dsm;
TW_ENTRYPOINT points{};
TW_IDENTITY app{};
HWND window;

// What the application's callback received.
struct Received {
  TW_UINT32 origin = 0;
  TW_UINT16 msg = MSG_NULL;
  TW_MEMREF refCon = nullptr;
  int calls = 0;
} received;

TW_UINT16 TW_CALLINGSTYLE Callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                   TW_UINT16 msg, TW_MEMREF data) {
  ++received.calls;
  received.origin = origin ? origin->Id : 0;
  received.msg = dg == DG_CONTROL && dat == DAT_NULL && dest && dest->Id == app.Id ? msg : TW_UINT16(0xFFFF);
  received.refCon = data;
  return TWRC_SUCCESS;
}

TW_UINT16 To(TW_IDENTITY* source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return dsm(&app, source, dg, dat, msg, data);
}

VirtualScannerControlProc ControlOf(const Copy& c) {
  return reinterpret_cast<VirtualScannerControlProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(Installed(c).c_str()), "VirtualScannerControl")));
}
std::string Ask(const Copy& c, const char* what) {
  auto query = reinterpret_cast<VirtualScannerQueryProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(Installed(c).c_str()), "VirtualScannerQuery")));
  char out[256] = {};
  return query && query(what, out, sizeof out) == 0 ? out : "?";
}

// Enables the source and pumps messages through MSG_PROCESSEVENT until its notice arrives,
// by the callback or as the TWMessage of an event. `byCallback` says which way it came.
TW_UINT16 EnableAndWait(TW_IDENTITY* source, bool showUI, bool* byCallback) {
  received = Received();
  TW_USERINTERFACE ui{};
  ui.ShowUI = showUI;
  ui.hParent = window;
  if (To(source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) return 0xFFFF;
  const DWORD until = GetTickCount() + 5000;
  MSG m;
  while (GetTickCount() < until) {
    if (received.calls) {
      *byCallback = true;
      return received.msg;
    }
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    TW_EVENT ev{};
    ev.pEvent = &m;
    const TW_UINT16 rc = To(source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    if (rc == TWRC_DSEVENT && ev.TWMessage != MSG_NULL) {
      *byCallback = false;
      return ev.TWMessage;
    }
    if (rc != TWRC_DSEVENT) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  return MSG_NULL;
}

// A DIB's header as the application reads it: through the manager for its blocks.
bool NativeImage(TW_IDENTITY* source, bool managers, const std::string& what) {
  TW_HANDLE dib = nullptr;
  const TW_UINT16 rc = To(source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
  Check(rc == TWRC_XFERDONE && dib, what + ": native transfer");
  if (!dib) return false;
  auto* header = static_cast<BITMAPINFOHEADER*>(managers ? points.DSM_MemLock(dib)
                                                         : GlobalLock(static_cast<HGLOBAL>(dib)));
  Check(header && header->biWidth == 850 && header->biHeight == 1100 && header->biBitCount == 24,
        what + ": a 24-bit 850x1100 DIB");
  if (managers) {
    points.DSM_MemUnlock(dib);
    points.DSM_MemFree(dib);  // the manager halts on a block that is not its own
  } else {
    GlobalUnlock(static_cast<HGLOBAL>(dib));
    GlobalFree(static_cast<HGLOBAL>(dib));
  }
  return true;
}

TW_IDENTITY Open(const Copy& c) {
  TW_IDENTITY source{};
  std::strcpy(source.ProductName, c.name);
  Check(To(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) == TWRC_SUCCESS,
        std::string("MSG_OPENDS of ") + c.name);
  return source;
}
void Close(TW_IDENTITY* source, const char* name) {
  TW_USERINTERFACE ui{};
  To(source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  Check(To(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, source) == TWRC_SUCCESS,
        std::string("MSG_CLOSEDS of ") + name);
}

int RunChecks() {
  HMODULE manager = LoadLibraryA(WinePath(KV_TWAINDSM_DLL).c_str());
  Check(manager != nullptr, "TWAINDSM.dll loads from the build");
  if (!manager) return 1;
  dsm = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")));
  auto liveBlocks = reinterpret_cast<TWAINDSM_LIVEBLOCKS>(
      reinterpret_cast<void*>(GetProcAddress(manager, "TwainDsmStandinLiveBlocks")));
  if (!dsm || !liveBlocks) return 1;
  window = CreateWindowExA(0, "STATIC", "copies", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           nullptr, nullptr);

  app.Version.MajorNum = 1;
  app.ProtocolMajor = 2;
  app.ProtocolMinor = 4;
  app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
  std::strcpy(app.ProductName, "Copies Chain");
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window) == TWRC_SUCCESS, "MSG_OPENDSM");
  points.Size = sizeof points;
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points) == TWRC_SUCCESS, "DAT_ENTRYPOINT");

  // The list: every copy under its own name, the broken one left out.
  std::vector<TW_IDENTITY> listed;
  TW_IDENTITY s{};
  for (TW_UINT16 rc = dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &s); rc == TWRC_SUCCESS;
       rc = dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &s))
    listed.push_back(s);
  auto find = [&](const char* name) {
    int found = 0;
    TW_IDENTITY id{};
    for (const TW_IDENTITY& l : listed)
      if (!std::strcmp(l.ProductName, name)) {
        ++found;
        id = l;
      }
    Check(found == 1, std::string("listed once: ") + name);
    return id;
  };
  const TW_IDENTITY flatbed1 = find("KV Flatbed 1x"), feeder2 = find("KV Feeder 2"),
                    flatbed2 = find("KV Flatbed 2");
  find("Virtual Scanner");  // sane.ds, as installed in the prefix, without a description
  Check(!(flatbed1.SupportedGroups & DF_DS2) && flatbed1.ProtocolMajor == 1, "the 1.x copy says 1.9");
  Check((feeder2.SupportedGroups & DF_DS2) && feeder2.ProtocolMajor == 2 && feeder2.ProtocolMinor == 4 &&
            (flatbed2.SupportedGroups & DF_DS2),
        "the TWAIN 2 copies say DF_DS2 and 2.4");
  Check(!std::strcmp(feeder2.ProductFamily, "Orvane Feeder"), "the feeder copy's family");
  Check(GetModuleHandleA(Installed(kCopies[3]).c_str()) == nullptr, "the broken copy did not load");
  bool named = true;
  for (const TW_IDENTITY& l : listed) named = named && l.ProductName[0] != 0;
  Check(named, "no source without a name is listed");

  // ---- the TWAIN 2 feeder: entry points, DAT_CALLBACK2, the manager's memory
  const Copy& feeder = kCopies[1];
  TW_IDENTITY source = Open(feeder);
  Check(Ask(feeder, "copy") == "KV Feeder 2 twain2 feeder entry-points",
        "the feeder copy got the entry points");
  Check(ControlOf(feeder) && ControlOf(feeder)("user scan") == 0, "the feeder's control interface");
  TW_CALLBACK2 callback{};
  callback.CallBackProc = reinterpret_cast<TW_MEMREF>(Callback);
  callback.RefCon = TW_UINTPTR(0x5eed);
  Check(To(&source, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback) == TWRC_SUCCESS,
        "DAT_CALLBACK2 registered");
  TW_CAPABILITY cap{ICAP_XRESOLUTION, TWON_DONTCARE16, nullptr};
  Check(To(&source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) == TWRC_SUCCESS && cap.hContainer,
        "XRESOLUTION from the feeder");
  if (cap.hContainer) {
    const TW_UINT32 before = liveBlocks();
    auto* e = static_cast<tw::win::TW_ENUMERATION*>(points.DSM_MemLock(cap.hContainer));
    Check(e && e->ItemType == TWTY_FIX32 && e->NumItems == 7, "the container read through DSM_MemLock");
    points.DSM_MemUnlock(cap.hContainer);
    points.DSM_MemFree(cap.hContainer);
    Check(liveBlocks() == before - 1, "the container was the manager's block");
  }
  bool byCallback = false;
  Check(EnableAndWait(&source, false, &byCallback) == MSG_XFERREADY && byCallback,
        "the feeder's MSG_XFERREADY through DAT_CALLBACK2");
  Check(received.origin == source.Id && received.refCon == reinterpret_cast<TW_MEMREF>(TW_UINTPTR(0x5eed)),
        "from the feeder, with the RefCon");
  TW_PENDINGXFERS pending{};
  for (int page = 1; page <= 2; ++page) {
    NativeImage(&source, true, "feeder page " + std::to_string(page));
    Check(To(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) == TWRC_SUCCESS &&
              pending.Count == 2 - page,
          "MSG_ENDXFER of feeder page " + std::to_string(page));
  }
  Close(&source, feeder.name);
  Check(liveBlocks() == 0, "no block of the manager live after the feeder");

  // ---- the TWAIN 2 flatbed: DAT_CALLBACK, with its window shown and Scan pressed
  const Copy& flatbed = kCopies[2];
  source = Open(flatbed);
  TW_CALLBACK old{};
  old.CallBackProc = reinterpret_cast<TW_MEMREF>(Callback);
  old.RefCon = 7;
  Check(To(&source, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &old) == TWRC_SUCCESS,
        "DAT_CALLBACK registered");
  Check(EnableAndWait(&source, true, &byCallback) == MSG_XFERREADY && byCallback,
        "the TWAIN 2 flatbed's Scan button through DAT_CALLBACK");
  NativeImage(&source, true, "TWAIN 2 flatbed");
  To(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  Close(&source, flatbed.name);
  Check(liveBlocks() == 0, "no block of the manager live after the TWAIN 2 flatbed");

  // ---- the 1.x flatbed: no entry points, global memory, its notice reaches the manager
  const Copy& one = kCopies[0];
  source = Open(one);
  Check(Ask(one, "copy") == "KV Flatbed 1x twain1 flatbed", "the 1.x copy has no entry points");
  Check(EnableAndWait(&source, false, &byCallback) == MSG_XFERREADY && !byCallback,
        "the 1.x copy's MSG_XFERREADY through the manager's DAT_EVENT");
  NativeImage(&source, false, "1.x flatbed");
  To(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  Close(&source, one.name);
  Check(GetModuleHandleA("TWAIN_32.DLL") == nullptr, "no copy loaded TWAIN_32.DLL");

  Check(liveBlocks() == 0, "TwainDsmStandinLiveBlocks is 0");
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window) == TWRC_SUCCESS, "MSG_CLOSEDSM");
  return failures ? 1 : 0;
}

// Runs this program again with --checks and answers its exit status.
int RunChild() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --checks";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("FAILED: the checks could not start (%lu)\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (status) std::printf("the checks ended with status %lu\n", status);
  return status ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && !std::strcmp(argv[1], "--checks")) return RunChecks();
  Uninstall();  // what a run that was killed left
  int status = 1;
  if (Install())
    status = RunChild();
  else
    std::printf("FAILED: the copies could not be installed in %s\n", CopiesFolder().c_str());
  Uninstall();
  DWORD left = GetFileAttributesA(CopiesFolder().c_str());
  if (left != INVALID_FILE_ATTRIBUTES) {
    std::printf("FAILED: %s is still there\n", CopiesFolder().c_str());
    status = 1;
  }
  std::fflush(stdout);
  return status;
}
