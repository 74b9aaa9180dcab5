// Memory Manager: nonrelocatable blocks (Ptr) and relocatable ones (Handle), with a real
// master pointer so that a handle's data may move when it grows. Every live block is
// registered, so that disposing of something that is not a live block is caught and counted
// instead of corrupting the heap, and tests can count what is left.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "CarbonStandin.h"
#include "standins/carbon/internal.h"

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
long gBadDisposals = 0;
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

HandleBlock* BlockOf(Handle h) {
  auto* b = reinterpret_cast<HandleBlock*>(h);
  return gHandles.count(b) ? b : nullptr;
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
  delete b;
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
  auto it = gPointers.find(p);
  if (it == gPointers.end()) {
    ++gBadDisposals;
    gMemError = memWZErr;
    return;
  }
  gPointers.erase(it);
  std::free(p);
  gMemError = noErr;
} catch (...) {
  gMemError = memFullErr;
}

Size GetPtrSize(Ptr p) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  auto it = gPointers.find(p);
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
  auto it = gPointers.find(p);
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
  HandleBlock* b = BlockOf(h);
  if (!b || b->resource) {
    ++gBadDisposals;
    gMemError = memWZErr;
    return;
  }
  FreeHandle(b);
  gMemError = noErr;
} catch (...) {
  gMemError = memFullErr;
}

void HLock(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = BlockOf(h);
  if (b) b->locked = true;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

void HUnlock(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = BlockOf(h);
  if (b) b->locked = false;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

SInt8 HGetState(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = BlockOf(h);
  gMemError = b ? noErr : nilHandleErr;
  return static_cast<SInt8>(b && b->locked ? 0x80 : 0);
} catch (...) {
  gMemError = memFullErr;
  return {};
}

void HSetState(Handle h, SInt8 flags) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = BlockOf(h);
  if (b) b->locked = (flags & 0x80) != 0;
  gMemError = b ? noErr : nilHandleErr;
} catch (...) {
  gMemError = memFullErr;
}

Size GetHandleSize(Handle h) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  HandleBlock* b = BlockOf(h);
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
  HandleBlock* b = BlockOf(h);
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

long CarbonStandin_BadDisposals(void) { return gBadDisposals; }

void CarbonStandin_FailAllocationsAfter(long n) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gFailAfter = n < 0 ? -1 : n;
}

void CarbonStandin_FailNthAllocation(long n) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gFailNth = n < 0 ? 0 : n;
}

}  // extern "C"
