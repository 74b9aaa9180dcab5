// The manager's memory functions, handed out through DAT_ENTRYPOINT: fixed global memory
// (GPTR, so a handle is its own address), with every live block counted. A block freed twice,
// or a pointer that is no memory block at all, halts the process: a message on stderr, then
// abort. Global memory that another allocated (a source that says it speaks TWAIN 2 and
// allocates with GlobalAlloc all the same, as Wine's camera source does) is locked, unlocked
// and freed as the system's, as the manager's functions on Windows are the system's global
// memory functions; each such use is counted.
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
TW_UINT32 g_foreign = 0;  // uses of global memory this manager did not give out
standins::FreedBlocks* g_freed =
    new standins::FreedBlocks(4096, 64 << 20, [](void* block) { GlobalFree(static_cast<HGLOBAL>(block)); });

[[noreturn]] void Halt(const char* function, TW_HANDLE handle, const char* what) {
  std::fprintf(stderr, "TWAINDSM: %s(%p): %s\n", function, handle, what);
  std::fflush(stderr);
  std::abort();
}

// True for a live block of this manager; false for another's global memory (counted); halts
// for anything else. The caller holds g_lock.
bool CheckLive(const char* function, TW_HANDLE handle) {
  if (g_live->count(handle)) return true;
  if (g_freed->Holds(handle)) Halt(function, handle, "the block was already freed");
  if (handle && GlobalSize(static_cast<HGLOBAL>(handle)) != 0) {
    ++g_foreign;
    return false;
  }
  Halt(function, handle, "neither a handle that DSM_MemAllocate gave out nor global memory");
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
  if (!CheckLive("DSM_MemFree", handle)) {
    GlobalFree(static_cast<HGLOBAL>(handle));
    return;
  }
  g_live->erase(handle);
  g_freed->Keep(handle, GlobalSize(static_cast<HGLOBAL>(handle)));
}

TW_MEMREF TW_CALLINGSTYLE MemLock(TW_HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_lock);
  CheckLive("DSM_MemLock", handle);  // another's global memory is locked as the system's
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

TW_UINT32 ForeignUses() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_foreign;
}

}  // namespace twaindsm

extern "C" TW_UINT32 TwainDsmStandinLiveBlocks() { return twaindsm::LiveBlocks(); }
extern "C" TW_UINT32 TwainDsmStandinForeignUses() { return twaindsm::ForeignUses(); }
