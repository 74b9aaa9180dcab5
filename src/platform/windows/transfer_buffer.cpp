// The buffer of a memory transfer: fixed global memory, passed as a pointer.
#include <windows.h>

#include "transfer/transfer_platform.h"

namespace platform {

// The host's threads are the system's own: nothing to yield to.
void YieldThreads() {}

bool NewTransferBuffer(uint32_t size, TW_MEMORY* memory) {
  memory->TheMem = GlobalAlloc(GMEM_FIXED, size);
  memory->Flags = TWMF_APPOWNS | TWMF_POINTER;
  memory->Length = memory->TheMem ? size : 0;
  return memory->TheMem != nullptr;
}

const uint8_t* LockTransferBuffer(const TW_MEMORY& memory) {
  return static_cast<const uint8_t*>(memory.TheMem);
}

void UnlockTransferBuffer(const TW_MEMORY&) {}

void FreeTransferBuffer(TW_MEMORY* memory) {
  if (memory->TheMem) GlobalFree(memory->TheMem);
  memory->TheMem = nullptr;
  memory->Length = 0;
}

}  // namespace platform
