// Memory Manager: nonrelocatable blocks (Ptr) and relocatable ones (Handle), with a real
// master pointer so that a handle's data may move when it grows. Every live block is
// registered, so that tests can count what is left, and so that a block that is not live
// where one belongs halts the process with a line naming the call (see Misuse): on a Mac a
// second DisposeHandle or DisposePtr gives the block to the heap twice, and a disposed
// handle's master pointer is free memory, so each is a corrupted heap or a crash there.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "CarbonStandin.h"
#include "standins/carbon/internal.h"
#include "standins/freed_blocks.h"

namespace {

struct HandleBlock {
  Ptr master;  // first: a Handle is the address of this field
  Size size;
  bool locked;
  bool resource;
};

std::recursive_mutex gLock;
std::unordered_map<Ptr, Size> gPointers;
std::unordered_set<HandleBlock*> gHandles;
long gCountedHandles = 0;

// Disposed blocks are kept from the heap for a while (the last 65536 master pointers, and
// nonrelocatable blocks up to 16 MB in all), so that a stale Handle or Ptr is known as
// disposed.
standins::FreedBlocks& gDisposedHandles =
    *new standins::FreedBlocks(65536, SIZE_MAX, [](void* b) { delete static_cast<HandleBlock*>(b); });
standins::FreedBlocks& gDisposedPointers = *new standins::FreedBlocks(SIZE_MAX, 16 << 20, std::free);
long gFailAfter = -1;  // successful allocations left before all fail; -1 never
long gFailNth = 0;     // the n-th allocation from now fails; 0 never
thread_local OSErr gMemError = noErr;

// Decides whether the next allocation may succeed (failure injection).
bool AllocationAllowed() {
  if (gFailNth > 0 && --gFailNth == 0) return false;
  if (gFailAfter == 0) return false;
  if (gFailAfter > 0) --gFailAfter;
  return true;
}

void* RawAlloc(Size size, bool clear) {
  if (size < 0 || !AllocationAllowed()) return nullptr;
  void* p = clear ? std::calloc(1, size ? size : 1) : std::malloc(size ? size : 1);
  return p;
}

// A Handle or Ptr where a live block belongs: the process ends, with the call and the fault.
[[noreturn]] void Misuse(const char* call, const void* block, const char* what) {
  std::fprintf(
      stderr, "*** %s(): %p %s ***\n", call, block,
      gDisposedHandles.Holds(block) || gDisposedPointers.Holds(block) ? "was disposed of already" : what);
  std::abort();
}

HandleBlock* BlockOf(Handle h) {
  auto* b = reinterpret_cast<HandleBlock*>(h);
  return gHandles.count(b) ? b : nullptr;
}

// The block of a handle given to `call`: null for NULL (the call answers nilHandleErr, as
// Inside Macintosh: Memory documents); a disposed handle or an address that never was a
// handle halts.
HandleBlock* LiveBlock(Handle h, const char* call) {
  if (!h) return nullptr;
  HandleBlock* b = BlockOf(h);
  if (!b) Misuse(call, h, "is not a handle");
  return b;
}

// A nonrelocatable block given to `call`: its entry, or the end for NULL; anything else that
// is not a live block halts.
std::unordered_map<Ptr, Size>::iterator LivePointer(Ptr p, const char* call) {
  auto it = gPointers.find(p);
  if (p && it == gPointers.end()) Misuse(call, p, "is not a block from NewPtr");
  return it;
}

Ptr AllocPtr(Size size, bool clear) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Ptr p = static_cast<Ptr>(RawAlloc(size, clear));
  if (!p) {
    gMemError = size < 0 ? paramErr : memFullErr;
    return nullptr;
  }
  try {
    gPointers[p] = size;
  } catch (...) {
    std::free(p);
    throw;
  }
  gMemError = noErr;
  return p;
}

Handle AllocHandle(Size size, bool clear, bool resource) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Ptr data = static_cast<Ptr>(RawAlloc(size, clear));
  if (!data) {
    gMemError = size < 0 ? paramErr : memFullErr;
    return nullptr;
  }
  HandleBlock* b = nullptr;
  try {
    b = new HandleBlock{data, size, false, resource};
    gHandles.insert(b);
  } catch (...) {
    delete b;
    std::free(data);
    throw;
  }
  if (!resource) ++gCountedHandles;
  gMemError = noErr;
  return &b->master;
}

void FreeHandle(HandleBlock* b) {
  gHandles.erase(b);
  if (!b->resource) --gCountedHandles;
  std::free(b->master);
  b->master = nullptr;
  gDisposedHandles.Keep(b);
}

}  // namespace

namespace carbon {
void SetMemError(OSErr err) { gMemError = err; }

Handle NewResourceHandle(const void* data, Size size) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  // The Resource Manager's own loads are not subject to injected allocation failures.
  Ptr p = static_cast<Ptr>(std::malloc(size ? size : 1));
  if (!p) return nullptr;
  if (size) std::memcpy(p, data, size);
  auto* b = new HandleBlock{p, size, false, true};
  gHandles.insert(b);
  return &b->master;
}

void DisposeResourceHandle(Handle h) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (HandleBlock* b = BlockOf(h)) FreeHandle(b);
}
}  // namespace carbon

extern "C" {

Ptr NewPtr(Size byteCount) try { return AllocPtr(byteCount, false); } catch (...) {
  gMemError = memFullErr;
  return {};
}
Ptr NewPtrClear(Size byteCount) try { return AllocPtr(byteCount, true); } catch (...) {
  gMemError = memFullErr;
  return {};
}

void DisposePtr(Ptr p) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!p) {
    gMemError = noErr;
    return;
  }
  auto it = LivePointer(p, "DisposePtr");
  const Size size = it->second;
  gPointers.erase(it);
  gDisposedPointers.Keep(p, static_cast<size_t>(size));
  gMemError = noErr;
} catch (...) {
  gMemError = memFullErr;
}

Size GetPtrSize(Ptr p) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  auto it = LivePointer(p, "GetPtrSize");
  if (it == gPointers.end()) {
    gMemError = memWZErr;
    return 0;
  }
  gMemError = noErr;
  return it->second;
} catch (...) {
  gMemError = memFullErr;
  return {};
}

void SetPtrSize(Ptr p, Size newSize) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  auto it = LivePointer(p, "SetPtrSize");
  if (it == gPointers.end()) {
    gMemError = memWZErr;
  } else if (newSize < 0) {
    gMemError = paramErr;
  } else if (newSize > it->second) {
    gMemError = memFullErr;  // a nonrelocatable block cannot grow where it is
  } else {
    it->second = newSize;
    gMemError = noErr;
  }
} catch (...) {
  gMemError = memFullErr;
}

Handle NewHandle(Size byteCount) try { return AllocHandle(byteCount, false, false); } catch (...) {
  gMemError = memFullErr;
  return {};
}
Handle NewHandleClear(Size byteCount) try { return AllocHandle(byteCount, true, false); } catch (...) {
  gMemError = memFullErr;
  return {};
}

void DisposeHandle(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  HandleBlock* b = LiveBlock(h, "DisposeHandle");
  // Inside Macintosh: More Macintosh Toolbox: a resource is released with ReleaseResource,
  // never DisposeHandle, which would leave the resource map naming freed memory.
  if (b->resource) Misuse("DisposeHandle", h, "is a resource (ReleaseResource releases it)");
  FreeHandle(b);
  gMemError = noErr;
} catch (...) {
  gMemError = memFullErr;
}

void HLock(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "HLock");
  if (b) b->locked = true;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

void HUnlock(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "HUnlock");
  if (b) b->locked = false;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

SInt8 HGetState(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "HGetState");
  gMemError = b ? noErr : nilHandleErr;
  return static_cast<SInt8>(b && b->locked ? 0x80 : 0);
} catch (...) {
  gMemError = memFullErr;
  return {};
}

void HSetState(Handle h, SInt8 flags) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "HSetState");
  if (b) b->locked = (flags & 0x80) != 0;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

Size GetHandleSize(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "GetHandleSize");
  if (!b) {
    gMemError = nilHandleErr;
    return 0;
  }
  gMemError = noErr;
  return b->size;
} catch (...) {
  gMemError = memFullErr;
  return {};
}

void SetHandleSize(Handle h, Size newSize) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = LiveBlock(h, "SetHandleSize");
  if (!b) {
    gMemError = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    gMemError = paramErr;
    return;
  }
  if (newSize <= b->size) {
    b->size = newSize;
    gMemError = noErr;
    return;
  }
  if (b->locked || !AllocationAllowed()) {
    gMemError = memFullErr;
    return;
  }
  // Always move a growing block, so that code holding a stale dereferenced handle fails
  // in tests the way it would on a fragmented heap.
  Ptr moved = static_cast<Ptr>(std::malloc(newSize));
  if (!moved) {
    gMemError = memFullErr;
    return;
  }
  std::memcpy(moved, b->master, b->size);
  std::free(b->master);
  b->master = moved;
  b->size = newSize;
  gMemError = noErr;
} catch (...) {
  gMemError = memFullErr;
}

OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size) try {
  Handle h = NewHandle(size);
  *dstHndl = h;
  if (!h) return MemError();
  if (size) std::memcpy(*h, srcPtr, size);
  return noErr;
} catch (...) {
  gMemError = memFullErr;
  return memFullErr;
}

OSErr HandToHand(Handle* theHndl) try {
  Size size = GetHandleSize(*theHndl);
  if (MemError() != noErr) return MemError();
  Handle copy = NewHandle(size);
  if (!copy) return MemError();
  if (size) std::memcpy(*copy, **theHndl, size);
  *theHndl = copy;
  return noErr;
} catch (...) {
  gMemError = memFullErr;
  return memFullErr;
}

OSErr MemError(void) { return gMemError; }

void BlockMove(const void* srcPtr, void* destPtr, Size byteCount) try {
  if (byteCount > 0) std::memmove(destPtr, srcPtr, byteCount);
} catch (...) {
  gMemError = memFullErr;
}

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount) try {
  BlockMove(srcPtr, destPtr, byteCount);
} catch (...) {
  gMemError = memFullErr;
}

long CarbonStandin_LivePointers(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return static_cast<long>(gPointers.size());
}

long CarbonStandin_LiveHandles(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gCountedHandles;
}

void CarbonStandin_FailAllocationsAfter(long n) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gFailAfter = n < 0 ? -1 : n;
}

void CarbonStandin_FailNthAllocation(long n) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gFailNth = n < 0 ? 0 : n;
}

}  // extern "C"
