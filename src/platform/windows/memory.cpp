// Global memory blocks: fixed zero-filled blocks for our own data; containers and images
// are the source's GlobalAlloc handles.
#include <windows.h>

#include "host/host_kit.h"

void* NewXPPointer(uint32_t size) { return GlobalAlloc(GPTR, size); }
void DisposeXPPointer(void* block) {
  if (block) GlobalFree(block);
}
void* LockXPHandle(TW_HANDLE handle) { return handle ? GlobalLock(handle) : nullptr; }
void UnlockXPHandle(TW_HANDLE handle) {
  if (handle) GlobalUnlock(handle);
}
void DisposeXPHandle(TW_HANDLE handle) {
  if (handle) GlobalFree(handle);
}
uint32_t GetXPHandleSize(TW_HANDLE handle) { return handle ? static_cast<uint32_t>(GlobalSize(handle)) : 0; }
