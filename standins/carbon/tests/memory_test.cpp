#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "CarbonStandin.h"

namespace {

TEST(Memory, PointersAndHandlesAreCountedUntilDisposed) {
  long ptrs = CarbonStandin_LivePointers(), hands = CarbonStandin_LiveHandles();
  Ptr p = NewPtrClear(100);
  Handle h = NewHandleClear(50);
  ASSERT_TRUE(p && h);
  EXPECT_EQ(CarbonStandin_LivePointers(), ptrs + 1);
  EXPECT_EQ(CarbonStandin_LiveHandles(), hands + 1);
  EXPECT_EQ(GetPtrSize(p), 100);
  EXPECT_EQ(GetHandleSize(h), 50);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  for (int i = 0; i < 50; ++i) ASSERT_EQ((*h)[i], 0);
  DisposePtr(p);
  DisposeHandle(h);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(CarbonStandin_LivePointers(), ptrs);
  EXPECT_EQ(CarbonStandin_LiveHandles(), hands);
}

TEST(Memory, ZeroLengthBlocksAreRealBlocks) {
  Handle h = NewHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(*h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 0);
  DisposeHandle(h);
}

// On a Mac a second DisposeHandle or DisposePtr hands the block to the heap twice, and a
// disposed handle's master pointer is free memory that the next allocation may take: a
// corrupted heap or a crash, sooner or later (Inside Macintosh: Memory, DisposeHandle: once
// the block is released, every handle to it is invalid and must not be used). Here each halts
// at once, naming the call.
// NULL is what Inside Macintosh: Memory documents: DisposeHandle and GetHandleSize answer
// nilHandleErr, DisposePtr(NULL) does nothing.
TEST(Memory, DoubleAndStrayDisposalsAndDisposedHandlesHalt) {
  Handle h = NewHandle(8);
  Ptr p = NewPtr(8);
  DisposeHandle(h);
  DisposePtr(p);
  EXPECT_DEATH(DisposeHandle(h), "DisposeHandle\\(\\): 0x[0-9a-f]+ was disposed of already");
  EXPECT_DEATH(GetHandleSize(h), "GetHandleSize\\(\\): .* was disposed of already");
  EXPECT_DEATH(HLock(h), "HLock\\(\\): .* was disposed of already");
  EXPECT_DEATH(SetHandleSize(h, 4), "SetHandleSize\\(\\): .* was disposed of already");
  EXPECT_DEATH(DisposePtr(p), "DisposePtr\\(\\): .* was disposed of already");
  EXPECT_DEATH(GetPtrSize(p), "GetPtrSize\\(\\): .* was disposed of already");
  char local[4];
  EXPECT_DEATH(DisposePtr(local), "DisposePtr\\(\\): .* is not a block from NewPtr");
  EXPECT_DEATH(DisposeHandle(reinterpret_cast<Handle>(local)), "DisposeHandle\\(\\): .* is not a handle");
  DisposeHandle(nullptr);
  EXPECT_EQ(MemError(), nilHandleErr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
  DisposePtr(nullptr);
  EXPECT_EQ(MemError(), noErr);
}

// The heap gives a freed block of the same size to the next allocation at once; a disposed
// block kept from it is what lets a stale Handle or Ptr be told from a new block.
TEST(Memory, ADisposedBlocksAddressIsNotTakenByTheBlocksMadeAfterIt) {
  Handle h = NewHandle(8);
  Ptr p = NewPtr(8);
  DisposeHandle(h);
  DisposePtr(p);
  std::vector<Handle> handles;
  std::vector<Ptr> pointers;
  for (int i = 0; i < 1000; ++i) {
    handles.push_back(NewHandle(8));
    pointers.push_back(NewPtr(8));
  }
  EXPECT_EQ(std::count(handles.begin(), handles.end(), h), 0);
  EXPECT_EQ(std::count(pointers.begin(), pointers.end(), p), 0);
  EXPECT_DEATH(HUnlock(h), "was disposed of already");
  for (Handle each : handles) DisposeHandle(each);
  for (Ptr each : pointers) DisposePtr(each);
}

TEST(Memory, GrowingAnUnlockedHandleMovesItsDataAndKeepsIt) {
  Handle h = NewHandle(4);
  std::memcpy(*h, "abcd", 4);
  Ptr before = *h;
  SetHandleSize(h, 1 << 16);
  ASSERT_EQ(MemError(), noErr);
  EXPECT_NE(*h, before);
  EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);
  EXPECT_EQ(GetHandleSize(h), 1 << 16);
  SetHandleSize(h, 2);
  EXPECT_EQ(GetHandleSize(h), 2);
  DisposeHandle(h);
}

TEST(Memory, ALockedHandleCannotGrowButCanShrink) {
  Handle h = NewHandle(16);
  HLock(h);
  EXPECT_EQ(HGetState(h) & 0x80, 0x80);
  Ptr data = *h;
  SetHandleSize(h, 32);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 16);
  SetHandleSize(h, 8);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(*h, data);
  HUnlock(h);
  EXPECT_EQ(HGetState(h) & 0x80, 0);
  DisposeHandle(h);
}

TEST(Memory, InjectedAllocationFailures) {
  long ptrs = CarbonStandin_LivePointers();
  CarbonStandin_FailAllocationsAfter(1);
  Ptr ok = NewPtr(10);
  EXPECT_NE(ok, nullptr);
  EXPECT_EQ(NewPtr(10), nullptr);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(NewHandle(10), nullptr);
  Handle copy = nullptr;
  EXPECT_EQ(PtrToHand("x", &copy, 1), memFullErr);
  CarbonStandin_FailAllocationsAfter(-1);

  CarbonStandin_FailNthAllocation(2);
  Handle h = NewHandle(4);
  ASSERT_NE(h, nullptr);
  SetHandleSize(h, 400);  // the second allocation
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 4);
  Handle later = NewHandle(4);
  EXPECT_NE(later, nullptr);
  DisposeHandle(h);
  DisposeHandle(later);
  DisposePtr(ok);
  EXPECT_EQ(CarbonStandin_LivePointers(), ptrs);
}

}  // namespace
