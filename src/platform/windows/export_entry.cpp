// The DLL's only export, `Kardivelle` (undecorated through Kardivelle.def).
#include "entry/entry.h"

extern "C" void __stdcall Kardivelle(int32_t message, void** slot, void* window, int32_t, int32_t,
                                     HostCallback callback) {
  RouteMessage(static_cast<int16_t>(message), slot, callback, window);
}
