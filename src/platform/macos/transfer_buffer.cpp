// The buffer of a memory transfer: a Memory Manager handle, locked only while it is read.
#include <Carbon/Carbon.h>

#include "transfer/transfer_platform.h"

namespace platform {

void YieldThreads() { YieldToAnyThread(); }

bool NewTransferBuffer(uint32_t size, TW_MEMORY* memory) {
  memory->TheMem = NewHandle(static_cast<Size>(size));
  memory->Flags = TWMF_APPOWNS | TWMF_HANDLE;
  memory->Length = memory->TheMem ? size : 0;
  return memory->TheMem != nullptr;
}

const uint8_t* LockTransferBuffer(const TW_MEMORY& memory) {
  Handle h = static_cast<Handle>(memory.TheMem);
  if (!h) return nullptr;
  HLock(h);
  return reinterpret_cast<const uint8_t*>(*h);
}

void UnlockTransferBuffer(const TW_MEMORY& memory) {
  if (memory.TheMem) HUnlock(static_cast<Handle>(memory.TheMem));
}

void FreeTransferBuffer(TW_MEMORY* memory) {
  if (memory->TheMem) DisposeHandle(static_cast<Handle>(memory->TheMem));
  memory->TheMem = nullptr;
  memory->Length = 0;
}

}  // namespace platform
