// Memory. Our own data: fixed zero-filled global blocks. Handles exchanged with a source (its
// containers and its native image): the system's global memory, or the TWAIN 2 manager's
// memory functions where the source and the application both speak TWAIN 2
// (platform::SourceHandleMemory). That manager's blocks are global memory too: their size is
// asked of the system.
#include <windows.h>

#include "host/host_kit.h"
#include "platform/windows/module_values.h"

void* NewXPPointer(uint32_t size) { return GlobalAlloc(GPTR, size); }
void DisposeXPPointer(void* block) {
  if (block) GlobalFree(block);
}
void* LockXPHandle(TW_HANDLE handle) {
  if (!handle) return nullptr;
  if (const TW_ENTRYPOINT* manager = platform::SourceHandleMemory()) return manager->DSM_MemLock(handle);
  return GlobalLock(handle);
}
void UnlockXPHandle(TW_HANDLE handle) {
  if (!handle) return;
  if (const TW_ENTRYPOINT* manager = platform::SourceHandleMemory()) {
    manager->DSM_MemUnlock(handle);
  } else {
    GlobalUnlock(handle);
  }
}
void DisposeXPHandle(TW_HANDLE handle) {
  if (!handle) return;
  if (const TW_ENTRYPOINT* manager = platform::SourceHandleMemory()) {
    manager->DSM_MemFree(handle);
  } else {
    GlobalFree(handle);
  }
}
uint32_t GetXPHandleSize(TW_HANDLE handle) { return handle ? static_cast<uint32_t>(GlobalSize(handle)) : 0; }
