// The values that every instance of the Windows build shares for as long as the module is
// loaded: its handle, whose resources hold the catalogue, and the host window of the call being
// carried out, the parent of the source's interface that the DSM is given. Defined with the
// host services that read them (host_services.cpp); DllMain (dsm_binding.cpp) sets them when
// the module is loaded.
#pragma once
#include <windows.h>

namespace module_values {
extern HMODULE moduleHandle;
extern HWND hostWindow;
extern DWORD hostThread;  // the thread of the host's last call
}  // namespace module_values

// The host window, whose device context the bitmap code draws with (device_bitmap.cpp,
// bmp_writer.cpp).
HWND KvHostWindow();

#include "twain/twain.h"
namespace platform {
// The memory functions of the handles exchanged with the source now addressed: a TWAIN 2
// manager's entry points for a DF_DS2 source of a TWAIN 2 application, else null (the
// system's global memory). Kept by dsm_binding.cpp; memory.cpp allocates and frees with them.
const TW_ENTRYPOINT* SourceHandleMemory();
}  // namespace platform
