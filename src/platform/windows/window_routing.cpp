// While a Windows scan runs, the procedure of the window it started with is ours: a message
// for that window goes to the scan (and so to the enabled source) first, whichever loop
// dispatched it, and on to the window's own procedure unless the source took it.
#include "platform/windows/bitmaps.h"
#include "scan/scan_platform.h"

namespace {

LRESULT CALLBACK ScanWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  ScanSession* scan = RunningScan();
  WNDPROC own = scan ? reinterpret_cast<WNDPROC>(scan->Record()->previousWndProc) : nullptr;
  if (!own) return DefWindowProcA(hwnd, msg, wp, lp);
  MSG record{};
  record.hwnd = hwnd;
  record.message = msg;
  record.wParam = wp;
  record.lParam = lp;
  if (scan->OnEvent(&record, AfterTransfer::OfferAgain) == EventFate::Consumed) return 0;
  return CallWindowProcA(own, hwnd, msg, wp, lp);
}

}  // namespace

namespace platform {

// The window's own procedure is kept in the record while the window is ours.
void StartRouting(ScanSession& scan) {
  HWND window = static_cast<HWND>(scan.Window());
  scan.Record()->previousWndProc = nullptr;
  if (!window) return;
  LONG_PTR own = SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ScanWindowProc));
  scan.Record()->previousWndProc = reinterpret_cast<void*>(own);
}

void EndRouting(ScanSession& scan) {
  HWND window = static_cast<HWND>(scan.Window());
  void* own = scan.Record()->previousWndProc;
  if (window && own && IsWindow(window))
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
  scan.Record()->previousWndProc = nullptr;
}

}  // namespace platform
