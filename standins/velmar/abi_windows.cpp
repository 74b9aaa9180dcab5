// The Windows side of the interface: one stdcall hostCallback whose first argument selects
// the service, numbers as 8-byte doubles, pictures as HBITMAPs, and the host's own
// top-level window, whose handle is the entry's third argument.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "standins/velmar/velmar_host.h"

namespace velmar {

struct AbiState {
  Host* host;
  HWND window;
};

namespace {

// The callback carries no context, so it serves the host whose entry call is running.
Host* g_currentHost = nullptr;

// Its arguments and result are pointer-sized: an address travels whole in both widths.
intptr_t __stdcall HostCallbackProc(int32_t service, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  Host* host = g_currentHost;
  if (!host) return 0;
  auto pointer = [](intptr_t v) { return reinterpret_cast<void*>(v); };
  switch (service) {
    case hostabi::kSvcFieldByName:
      return host->SvcFieldByName(static_cast<const unsigned char*>(pointer(a1)));
    case hostabi::kSvcReadNumber:
      host->SvcReadNumber(int16_t(a1), static_cast<double*>(pointer(a2)));
      break;
    case hostabi::kSvcWriteValue:
      host->SvcWriteValue(int16_t(a1), int16_t(a2), pointer(a3));
      break;
    case hostabi::kSvcReadValue:
      host->SvcReadValue(int16_t(a1), int16_t(a2), int32_t(a3), pointer(a4));
      break;
    case hostabi::kSvcFieldInfo:
      host->SvcFieldInfo(static_cast<HostInfoRecord*>(pointer(a1)));
      break;
    case hostabi::kSvcFunctionNumber:
      if (a1) *static_cast<int32_t*>(pointer(a1)) = host->SvcFunctionNumber();
      break;
    case hostabi::kSvcDesignRecord:
      if (a1) *static_cast<void**>(pointer(a1)) = host->SvcDesignRecord();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

const char* const kWindowClass = "VelmarHostWindow";

HWND CreateHostWindow() {
  static bool registered = false;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!registered) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    registered = RegisterClassA(&windowClass) != 0;
  }
  return CreateWindowExA(0, kWindowClass, "Velmar", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 240,
                         nullptr, nullptr, instance, nullptr);
}

}  // namespace

AbiState* CreateAbi(Host* host) { return new AbiState{host, CreateHostWindow()}; }

void DestroyAbi(AbiState* abi) {
  if (abi->window) DestroyWindow(abi->window);
  delete abi;
}

void InvokeEntry(AbiState* abi, ExtensionEntry entry, int16_t message, void** slot) {
  Host* outer = g_currentHost;
  g_currentHost = abi->host;
  entry(message, slot, abi->window, 0, 0, HostCallbackProc);
  g_currentHost = outer;
}

void* AbiWindow(const AbiState* abi) { return abi->window; }

HostFloat WireToFloat(const WireNumber& wire) { return wire; }
WireNumber FloatToWire(HostFloat value) { return value; }

// Type 9 passes the address of an HBITMAP; the host keeps its own copy of the bitmap.
Picture CopyPicture(const void* data) {
  Picture picture;
  HBITMAP bitmap = *static_cast<const HBITMAP*>(data);
  BITMAP info;
  if (!bitmap || GetObjectA(bitmap, sizeof info, &info) != sizeof info) return picture;
  HBITMAP copy = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, 0));
  if (!copy) return picture;
  picture.present = true;
  picture.width = info.bmWidth;
  picture.height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  picture.bitmap = std::shared_ptr<void>(copy, [](void* b) { DeleteObject(static_cast<HBITMAP>(b)); });
  return picture;
}

bool SavePicture(const Picture& picture, const std::string& path) {
  if (!picture.present || !picture.bitmap) return false;
  HBITMAP bitmap = static_cast<HBITMAP>(picture.bitmap.get());
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = picture.width;
  info.biHeight = picture.height;  // bottom-up, as a BMP file keeps its rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  size_t stride = (size_t(picture.width) * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> pixels(stride * size_t(picture.height));
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, bitmap, 0, UINT(picture.height), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != picture.height) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = DWORD(file.bfOffBits + pixels.size());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
            std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  return std::fclose(f) == 0 && ok;
}

const char* SavedPictureExtension() { return "bmp"; }

bool MakeFolders(const std::string& path) {
  // Each folder from the first below the drive or share down to the last; one that is there
  // already is fine.
  for (size_t cut = path.find_first_of("\\/", 1);; cut = path.find_first_of("\\/", cut + 1)) {
    const std::string part = path.substr(0, cut);
    if (!part.empty() && part.back() != ':' && !CreateDirectoryA(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED)
      return false;
    if (cut == std::string::npos) break;
  }
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace velmar
