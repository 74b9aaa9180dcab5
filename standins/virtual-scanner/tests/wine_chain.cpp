// The whole Windows chain: Wine's TWAIN_32.DLL finds the virtual scanner in the prefix as
// source 0, opens it, negotiates a capability and acquires through its notifications, with
// and without the scanner's own window. Exit status 0 when every check holds.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "standins/virtual-scanner/vscanner.h"

namespace {

DSMENTRYPROC dsm;
TW_IDENTITY app, src;
HWND window;
int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return dsm(&app, &src, dg, dat, msg, data);
}

// Enables the source and pumps messages through MSG_PROCESSEVENT until it reports.
TW_UINT16 EnableAndWait(bool showUI) {
  TW_USERINTERFACE ui{};
  ui.ShowUI = showUI;
  ui.ModalUI = 0;
  ui.hParent = window;
  if (ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) return 0xFFFF;
  DWORD until = GetTickCount() + 5000;
  MSG m;
  while (GetTickCount() < until) {
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    TW_EVENT ev{};
    ev.pEvent = &m;
    TW_UINT16 rc = ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    if (ev.TWMessage == MSG_XFERREADY || ev.TWMessage == MSG_CLOSEDSREQ) return ev.TWMessage;
    if (rc != TWRC_DSEVENT) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  return MSG_NULL;
}

}  // namespace

int main() {
  HMODULE twain = LoadLibraryA("TWAIN_32.DLL");
  Check(twain != nullptr, "TWAIN_32.DLL loads");
  if (!twain) return 1;
  dsm = reinterpret_cast<DSMENTRYPROC>(
      reinterpret_cast<void*>(GetProcAddress(twain, reinterpret_cast<LPCSTR>(1))));
  Check(dsm != nullptr, "DSM_Entry by ordinal 1");
  if (!dsm) return 1;
  window = CreateWindowExA(0, "STATIC", "chain", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);

  app.Version.MajorNum = 1;
  app.ProtocolMajor = 1;
  app.ProtocolMinor = 9;
  app.SupportedGroups = DG_CONTROL | DG_IMAGE;
  std::strcpy(app.ProductName, "Chain Test");
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window) == TWRC_SUCCESS, "MSG_OPENDSM");
  TW_IDENTITY first{};
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first) == TWRC_SUCCESS &&
            std::strcmp(first.ProductName, "Virtual Scanner") == 0 && first.ProtocolMinor == 9,
        "the first source listed is the Virtual Scanner");
  // An empty ProductName opens source 0.
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src) == TWRC_SUCCESS,
        "MSG_OPENDS of source 0");

  HMODULE ds = GetModuleHandleA("sane.ds");
  auto control = reinterpret_cast<VirtualScannerControlProc>(
      reinterpret_cast<void*>(GetProcAddress(ds, "VirtualScannerControl")));
  Check(control && control("reset") == 0, "control interface reachable");

  TW_CAPABILITY cap{ICAP_XRESOLUTION, TWON_DONTCARE16, nullptr};
  Check(ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) == TWRC_SUCCESS && cap.ConType == TWON_ENUMERATION,
        "XRESOLUTION is an enumeration");
  if (cap.hContainer) {
    auto* e = static_cast<tw::win::TW_ENUMERATION*>(GlobalLock(cap.hContainer));
    TW_FIX32 cur;
    std::memcpy(&cur, e->ItemList + 4 * e->CurrentIndex, 4);
    Check(e->ItemType == TWTY_FIX32 && e->NumItems == 7 && cur.Whole == 100 && cur.Frac == 0,
          "XRESOLUTION is 100 of 7");
    GlobalUnlock(cap.hContainer);
    GlobalFree(cap.hContainer);
  }

  // Without the interface the scanner reports on its own, through Wine's DSM.
  Check(EnableAndWait(false) == MSG_XFERREADY, "MSG_XFERREADY without the interface");
  TW_IMAGEINFO info{};
  Check(ToSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS && info.ImageWidth == 850 &&
            info.ImageLength == 1100,
        "image information 850x1100");
  TW_HANDLE dib = nullptr;
  Check(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib) == TWRC_XFERDONE && dib, "native transfer");
  if (dib) {
    auto* bih = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    Check(bih->biWidth == 850 && bih->biHeight == 1100 && bih->biBitCount == 24, "a 24-bit 850x1100 DIB");
    GlobalUnlock(dib);
    GlobalFree(dib);
  }
  TW_PENDINGXFERS pending{};
  Check(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) == TWRC_SUCCESS && pending.Count == 0,
        "end of transfer");
  TW_USERINTERFACE ui{};
  Check(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS, "MSG_DISABLEDS");

  // With the interface the scripted user clicks the buttons of the scanner's window.
  Check(EnableAndWait(true) == MSG_XFERREADY, "Scan button gives MSG_XFERREADY");
  Check(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending) == TWRC_SUCCESS, "pending transfers reset");
  Check(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS, "MSG_DISABLEDS");
  control("user cancel");
  Check(EnableAndWait(true) == MSG_CLOSEDSREQ, "Cancel button gives MSG_CLOSEDSREQ");
  Check(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS, "MSG_DISABLEDS");

  Check(dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src) == TWRC_SUCCESS, "MSG_CLOSEDS");
  Check(dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window) == TWRC_SUCCESS, "MSG_CLOSEDSM");
  return failures ? 1 : 0;
}
