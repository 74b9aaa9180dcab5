// The manager's memory functions, handed out through DAT_ENTRYPOINT: fixed global memory
// (GPTR, so a handle is its own address), with every live block counted. A block freed twice,
// or a handle the manager never gave out, halts the process: a message on stderr, then abort.
// Freed blocks are held back from the heap for a while, so that a second free of a recent
// block is still recognised as such rather than hitting a new block at the same address.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "standins/freed_blocks.h"
#include "standins/twaindsm/manager.h"

namespace twaindsm {
namespace {

std::mutex g_lock;
std::unordered_set<TW_HANDLE>* g_live = new std::unordered_set<TW_HANDLE>;
standins::FreedBlocks* g_freed =
    new standins::FreedBlocks(4096, 64 << 20, [](void* block) { GlobalFree(static_cast<HGLOBAL>(block)); });

[[noreturn]] void Halt(const char* function, TW_HANDLE handle, const char* what) {
  std::fprintf(stderr, "TWAINDSM: %s(%p): %s\n", function, handle, what);
  std::fflush(stderr);
  std::abort();
}

// Halts unless `handle` is a live block; the caller holds g_lock.
void CheckLive(const char* function, TW_HANDLE handle) {
  if (g_live->count(handle)) return;
  if (g_freed->Holds(handle)) Halt(function, handle, "the block was already freed");
  Halt(function, handle, "not a handle that DSM_MemAllocate gave out");
}

}  // namespace

TW_HANDLE TW_CALLINGSTYLE MemAllocate(TW_UINT32 size) {
  HGLOBAL block = GlobalAlloc(GPTR, size);
  if (!block) return nullptr;
  std::lock_guard<std::mutex> hold(g_lock);
  g_live->insert(block);
  return block;
}

void TW_CALLINGSTYLE MemFree(TW_HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_lock);
  CheckLive("DSM_MemFree", handle);
  g_live->erase(handle);
  g_freed->Keep(handle, GlobalSize(static_cast<HGLOBAL>(handle)));
}

TW_MEMREF TW_CALLINGSTYLE MemLock(TW_HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_lock);
  CheckLive("DSM_MemLock", handle);
  return GlobalLock(static_cast<HGLOBAL>(handle));
}

void TW_CALLINGSTYLE MemUnlock(TW_HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_lock);
  CheckLive("DSM_MemUnlock", handle);
  GlobalUnlock(static_cast<HGLOBAL>(handle));
}

TW_UINT32 LiveBlocks() {
  std::lock_guard<std::mutex> hold(g_lock);
  return static_cast<TW_UINT32>(g_live->size());
}

}  // namespace twaindsm

extern "C" TW_UINT32 TwainDsmStandinLiveBlocks() { return twaindsm::LiveBlocks(); }
