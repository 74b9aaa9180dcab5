// The DLL's only export, `Kardivelle` (undecorated through Kardivelle.def).
#include "entry/entry.h"
#include "platform/platform_ops.h"

extern "C" void __stdcall Kardivelle(int32_t message, void** slot, void* window,
                                                            int32_t, int32_t, HostCallback callback) {
  if (static_cast<int16_t>(message) == kMsgExecute) platform::SetHostWindow(window);
  RouteMessage(static_cast<int16_t>(message), slot, callback);
}
