// The Windows source: DS_Entry for Wine's TWAIN_32.DLL and for a TWAIN 2 manager, global
// memory (or the manager's), notifications through the DSM, the interface window with its
// Scan and Cancel buttons, and the description of an installed copy (the module's path plus
// ".ini").
#include <windows.h>
// wincodec.h needs the COM types of windows.h.
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standins/virtual-scanner/core/scanner.h"
#include "standins/virtual-scanner/vscanner.h"

namespace {

HINSTANCE gInstance = nullptr;
const char kWindowClass[] = "VirtualScannerWindow";
enum { kScanButton = 101, kCancelButton = 102 };

long GuardAfter(uint8_t* data, size_t size);
vs::Bytes WicJpeg(const vs::Platform::JpegSource& src);

class WinPlatform : public vs::Platform {
 public:
  // Global memory, or with a TWAIN 2 manager's entry points its blocks. The manager's memory
  // is global memory on Windows too, so GlobalSize still measures a container handed in.
  TW_HANDLE Alloc(size_t size) override {
    if (!manager_) return GlobalAlloc(GHND, size ? size : 1);
    TW_HANDLE h = manager_->DSM_MemAllocate(TW_UINT32(size ? size : 1));
    if (!h) return nullptr;
    // The manager promises no zeroed block.
    uint8_t* p = Lock(h);
    if (p) std::memset(p, 0, size ? size : 1);
    Unlock(h);
    if (!p) {
      manager_->DSM_MemFree(h);
      return nullptr;
    }
    return h;
  }
  uint8_t* Lock(TW_HANDLE h) override {
    return static_cast<uint8_t*>(manager_ ? manager_->DSM_MemLock(h) : GlobalLock(h));
  }
  void Unlock(TW_HANDLE h) override {
    if (manager_)
      manager_->DSM_MemUnlock(h);
    else
      GlobalUnlock(h);
  }
  size_t Size(TW_HANDLE h) override { return GlobalSize(h); }
  void Free(TW_HANDLE h) override {
    if (manager_)
      manager_->DSM_MemFree(h);
    else
      GlobalFree(h);
  }

  void UseEntryPoints(const TW_ENTRYPOINT* points) override {
    if (points) points_ = *points;
    manager_ = points ? &points_ : nullptr;
  }

  TW_HANDLE ImageBlock(const vs::Bytes& image, bool guard, long* distance) override {
    TW_HANDLE h = manager_ ? manager_->DSM_MemAllocate(TW_UINT32(image.size()))
                           : GlobalAlloc(GMEM_MOVEABLE, image.size());
    if (!h) return nullptr;
    uint8_t* p = Lock(h);
    if (p && !image.empty()) std::memcpy(p, image.data(), image.size());
    if (guard) *distance = p ? GuardAfter(p, image.size()) : -1;
    Unlock(h);
    return h;
  }

  TW_HANDLE DeviceBitmap(const vs::Bytes& dib) override {
    if (dib.size() < sizeof(BITMAPINFOHEADER)) return nullptr;
    const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(dib.data());
    const BITMAPINFOHEADER& h = info->bmiHeader;
    DWORD colors = h.biClrUsed ? h.biClrUsed : (h.biBitCount <= 8 ? 1u << h.biBitCount : 0);
    size_t rows = h.biSize + 4 * size_t(colors);
    if (rows > dib.size()) return nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBitmap(screen, &h, CBM_INIT, dib.data() + rows, info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
  }

  TW_UINT16 Notify(TW_IDENTITY* source, TW_IDENTITY* app, TW_UINT16 msg) override {
    if (manager_) return manager_->DSM_Entry(source, app, DG_CONTROL, DAT_NULL, msg, nullptr);
    // A 1.x source reaches the manager that knows the application: the TWAIN 2 manager first
    // where it is in the process, then TWAIN_32.DLL. Neither is loaded here: the source holds
    // no reference that would keep a manager the application let go.
    TW_UINT16 rc = TWRC_FAILURE;
    for (const char* name : {"TWAINDSM.DLL", "TWAIN_32.DLL"}) {
      HMODULE module = GetModuleHandleA(name);
      DSMENTRYPROC dsm = module ? EntryOf(module) : nullptr;
      if (!dsm) continue;
      rc = dsm(source, app, DG_CONTROL, DAT_NULL, msg, nullptr);
      if (rc == TWRC_SUCCESS) return rc;
    }
    return rc;
  }

  void Wake(void* parent) override {
    HWND w = static_cast<HWND>(parent);
    if (w && IsWindow(w))
      PostMessageA(w, WakeMessage(), 0, 0);
    else
      PostThreadMessageA(GetCurrentThreadId(), WakeMessage(), 0, 0);
  }

  // A thread timer: its WM_TIMER comes through the application's loop like any message.
  void WakeAfter(void*, long ms) override {
    if (timer_) KillTimer(nullptr, timer_);
    timer_ = SetTimer(nullptr, 0, UINT(ms), nullptr);
  }
  double Now() override { return double(GetTickCount()) / 1000; }
  void Pause(long ms) override { Sleep(DWORD(ms)); }

  void ShowUI(void* parent, vs::User user) override {
    HideUI();
    Register();
    window_ = CreateWindowExA(0, kWindowClass, "Virtual Scanner", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE,
                              CW_USEDEFAULT, CW_USEDEFAULT, 260, 110, static_cast<HWND>(parent), nullptr,
                              gInstance, nullptr);
    if (!window_) return;
    CreateWindowExA(0, "BUTTON", "Scan", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 20, 20, 100, 28, window_,
                    reinterpret_cast<HMENU>(kScanButton), gInstance, nullptr);
    CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 130, 20, 100, 28, window_,
                    reinterpret_cast<HMENU>(kCancelButton), gInstance, nullptr);
    // The scripted user clicks once the window is up.
    if (user == vs::User::ScanThenClose) user = vs::User::Scan;
    if (user == vs::User::Scan || user == vs::User::Cancel) Press(user);
  }

  void Press(vs::User button) override {
    HWND b = window_ ? GetDlgItem(window_, button == vs::User::Scan ? kScanButton : kCancelButton) : nullptr;
    if (b) PostMessageA(b, BM_CLICK, 0, 0);
  }

  void HideUI() override {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
  }

  Event Classify(void* event) override {
    MSG* m = static_cast<MSG*>(event);
    if (m->message == WakeMessage()) return Event::Wake;
    if (timer_ && m->message == WM_TIMER && !m->hwnd && m->wParam == timer_) {
      KillTimer(nullptr, timer_);
      timer_ = 0;
      return Event::Wake;
    }
    if (window_ && m->hwnd && (m->hwnd == window_ || IsChild(window_, m->hwnd))) {
      // Messages for the interface are the source's own: it dispatches them itself.
      if (!IsDialogMessageA(window_, m)) {
        TranslateMessage(m);
        DispatchMessageA(m);
      }
      return Event::Interface;
    }
    return Event::Foreign;
  }

  // WIC's JPEG encoder writes no comment of its own: the segment is added to its stream.
  vs::Bytes EncodeJpeg(const JpegSource& source, const char* comment) override {
    vs::Bytes stream = WicJpeg(source);
    if (!stream.empty() && !vscan::InsertJpegComment(stream, comment)) stream.clear();
    return stream;
  }

  TW_UINT16 WriteFile(const char* nameField, const vs::Bytes& data, TW_UINT16) override {
    char name[257];
    tw::GetString(nameField, 256, name, false);
    HANDLE f = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return TWCC_OPERATIONERROR;
    DWORD written = 0;
    BOOL ok = ::WriteFile(f, data.data(), DWORD(data.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == data.size() ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
  }

 private:
  static UINT WakeMessage() {
    static UINT m = RegisterWindowMessageA("Virtual Scanner Wake");
    return m;
  }
  static DSMENTRYPROC EntryOf(HMODULE dsm) {
    auto proc = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(dsm, "DSM_Entry")));
    if (!proc)
      proc = reinterpret_cast<DSMENTRYPROC>(
          reinterpret_cast<void*>(GetProcAddress(dsm, reinterpret_cast<LPCSTR>(1))));
    return proc;
  }
  static LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
      if (LOWORD(wp) == kScanButton) vs::Scanner::Instance().UserAction(vs::User::Scan);
      if (LOWORD(wp) == kCancelButton) vs::Scanner::Instance().UserAction(vs::User::Cancel);
      return 0;
    }
    if (msg == WM_CLOSE) {
      vs::Scanner::Instance().UserAction(vs::User::Cancel);
      return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
  }
  static void Register() {
    static bool done = false;
    if (done) return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = gInstance ? gInstance : GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    done = RegisterClassA(&wc) != 0;
  }
  HWND window_ = nullptr;
  UINT_PTR timer_ = 0;  // the thread timer of a delayed notice
  TW_ENTRYPOINT points_{};
  const TW_ENTRYPOINT* manager_ = nullptr;  // &points_ while a TWAIN 2 manager's are in use
};

// Makes the pages after a block's last page inaccessible, where the block has pages of its
// own: Wine's heap gives a block its own allocation from its large-block size on (520,161
// bytes; the block's data then starts 32 bytes into the allocation), and keeps smaller ones
// among other blocks, where nothing may be protected. Returns the bytes that can still
// be read after the block's end, or -1 when there is no guard.
long GuardAfter(uint8_t* data, size_t size) {
  MEMORY_BASIC_INFORMATION block;
  if (!VirtualQuery(data, &block, sizeof block)) return -1;
  const uintptr_t base = reinterpret_cast<uintptr_t>(block.AllocationBase);
  if (reinterpret_cast<uintptr_t>(data) - base > 256) return -1;  // among other blocks
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const uintptr_t end = reinterpret_cast<uintptr_t>(data) + size;
  const uintptr_t next = (end + si.dwPageSize - 1) / si.dwPageSize * si.dwPageSize;
  MEMORY_BASIC_INFORMATION after;
  if (!VirtualQuery(reinterpret_cast<void*>(next), &after, sizeof after)) return -1;
  if (after.State == MEM_COMMIT && reinterpret_cast<uintptr_t>(after.AllocationBase) == base) {
    DWORD old;
    const size_t rest = reinterpret_cast<uintptr_t>(after.BaseAddress) + after.RegionSize - next;
    if (!VirtualProtect(reinterpret_cast<void*>(next), rest, PAGE_NOACCESS, &old)) return -1;
  } else if (after.State == MEM_COMMIT) {
    return -1;  // someone else's memory follows
  }
  return long(next - end);
}

// COM for as long as one encoder runs, on whatever terms the thread already has it.
class ComRun {
 public:
  ComRun() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComRun() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComRun(const ComRun&) = delete;
  ComRun& operator=(const ComRun&) = delete;

 private:
  HRESULT hr_;
};

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

// WIC's JPEG encoder, fed row by row (grey, or colour turned into its B, G, R order) into a
// stream on global memory.
vs::Bytes WicJpeg(const vs::Platform::JpegSource& src) {
  ComRun com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))) ||
      FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, &options)) || FAILED(frame->Initialize(options.p)) ||
      FAILED(frame->SetSize(UINT(src.width), UINT(src.height))) ||
      FAILED(frame->SetResolution(src.xres, src.yres)))
    return {};
  const bool grey = src.components == 1;
  WICPixelFormatGUID format = grey ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat24bppBGR;
  const WICPixelFormatGUID wanted = format;
  if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, wanted)) return {};
  const UINT rowBytes = UINT(src.width) * UINT(src.components);
  std::vector<BYTE> row(rowBytes);
  for (int j = 0; j < src.height; ++j) {
    const uint8_t* in = src.row(j);
    if (grey) {
      std::memcpy(row.data(), in, rowBytes);
    } else {
      for (UINT i = 0; i < rowBytes; i += 3) {
        row[i] = in[i + 2];
        row[i + 1] = in[i + 1];
        row[i + 2] = in[i];
      }
    }
    if (FAILED(frame->WritePixels(1, rowBytes, rowBytes, row.data()))) return {};
  }
  if (FAILED(frame->Commit()) || FAILED(encoder->Commit())) return {};
  HGLOBAL memory = nullptr;
  STATSTG stat{};
  if (FAILED(GetHGlobalFromStream(stream.p, &memory)) || FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
    return {};
  const size_t size = size_t(stat.cbSize.QuadPart);
  const BYTE* data = static_cast<const BYTE*>(GlobalLock(memory));
  if (!data) return {};
  vs::Bytes out(data, data + size);
  GlobalUnlock(memory);
  return out;
}

vs::Scanner& Source() {
  static WinPlatform platform;
  vs::Scanner& s = vs::Scanner::Instance();
  s.SetPlatform(&platform);
  return s;
}

// Reads the description of this copy, the module's own path plus ".ini", when there is one.
// A description that cannot be read keeps the module from loading, so a manager leaves the
// copy out rather than list a scanner other than the one described.
bool ConfigureCopy(HINSTANCE instance) {
  char path[MAX_PATH + 8] = {};
  const DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return true;
  std::strcat(path, ".ini");
  HANDLE f =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0 && text.size() < 65536)
    text.append(buffer, got);
  CloseHandle(f);
  vs::Model model;
  std::string error;
  if (!vs::ParseModel(text, &model, &error)) {
    std::fprintf(stderr, "virtual scanner: %s: %s\n", path, error.c_str());
    return false;
  }
  Source().Configure(model);
  return true;
}

// Commands handed on by the program that controls the scanner to the copy that a process of
// its run opens (a worker process that carries out its calls): KV_VSCANNER_COMMANDS holds them,
// one a line, and the semaphore that KV_VSCANNER_HANDED_ON names ("...-<pid of the program>")
// lets one copy take them once, the first that is opened outside that program.
void TakeHandedOnCommands() {
  static bool looked = false;
  if (looked) return;
  looked = true;
  char token[128] = {};
  DWORD n = GetEnvironmentVariableA("KV_VSCANNER_HANDED_ON", token, sizeof token);
  if (n == 0 || n >= sizeof token) return;
  const char* dash = std::strrchr(token, '-');
  if (!dash || std::strtoul(dash + 1, nullptr, 10) == GetCurrentProcessId()) return;
  HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, token);
  if (!semaphore) return;
  const bool mine = WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0;
  CloseHandle(semaphore);
  if (!mine) return;
  std::vector<char> text(1 << 16);
  n = GetEnvironmentVariableA("KV_VSCANNER_COMMANDS", text.data(), DWORD(text.size()));
  if (n == 0 || n >= text.size()) return;
  std::string all(text.data(), n), line;
  for (size_t at = 0; at <= all.size(); ++at) {
    if (at == all.size() || all[at] == '\n') {
      if (!line.empty()) Source().Control(line.c_str());
      line.clear();
    } else {
      line += all[at];
    }
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  gInstance = instance;
  return ConfigureCopy(instance) ? TRUE : FALSE;
}

extern "C" TW_UINT16 WINAPI DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                     TW_MEMREF data) {
  if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_OPENDS) TakeHandedOnCommands();
  return Source().Entry(origin, dg, dat, msg, data);
}

extern "C" int VirtualScannerControl(const char* command) { return Source().Control(command); }
extern "C" int VirtualScannerQuery(const char* what, char* out, int size) {
  return Source().Query(what, out, size);
}
