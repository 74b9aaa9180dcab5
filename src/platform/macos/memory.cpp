// Memory Manager blocks and handles.
#include <Carbon/Carbon.h>

#include "host/host_kit.h"

void* NewXPPointer(uint32_t size) { return NewPtrClear(static_cast<Size>(size)); }
void DisposeXPPointer(void* block) {
  if (block) DisposePtr(static_cast<Ptr>(block));
}
void* LockXPHandle(TW_HANDLE handle) {
  Handle h = static_cast<Handle>(handle);
  if (!h) return nullptr;
  HLock(h);
  return *h;
}
void UnlockXPHandle(TW_HANDLE handle) {
  if (handle) HUnlock(static_cast<Handle>(handle));
}
void DisposeXPHandle(TW_HANDLE handle) {
  if (handle) DisposeHandle(static_cast<Handle>(handle));
}
uint32_t GetXPHandleSize(TW_HANDLE handle) {
  if (!handle) return 0;
  Size n = GetHandleSize(static_cast<Handle>(handle));
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}
