// What a transfer asks of the platform (platform/<os>/transfer_buffer.cpp): the buffer of a
// memory transfer, and a moment for the host's other threads between its requests.
#pragma once
#include <cstdint>

#include "twain/twain.h"

namespace platform {

// Lets other cooperative threads of the host run (Mac: YieldToAnyThread; Windows: nothing).
void YieldThreads();

// The buffer a source fills in a memory transfer, `size` bytes that the extension owns:
// Windows, global memory passed as a pointer (TWMF_APPOWNS | TWMF_POINTER); Mac, a Memory
// Manager handle (TWMF_APPOWNS | TWMF_HANDLE). False when there is no memory.
bool NewTransferBuffer(uint32_t size, TW_MEMORY* memory);
// The buffer's bytes while they are read (the Mac's handle locked), and back.
const uint8_t* LockTransferBuffer(const TW_MEMORY& memory);
void UnlockTransferBuffer(const TW_MEMORY& memory);
void FreeTransferBuffer(TW_MEMORY* memory);

}  // namespace platform
