#include <gtest/gtest.h>

#include <cstring>

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

TEST(Memory, DoubleAndStrayDisposalsAreCaughtNotFreed) {
  long bad = CarbonStandin_BadDisposals();
  Handle h = NewHandle(8);
  DisposeHandle(h);
  DisposeHandle(h);
  EXPECT_EQ(MemError(), memWZErr);
  char local[4];
  DisposePtr(local);
  EXPECT_EQ(CarbonStandin_BadDisposals(), bad + 2);
  DisposeHandle(nullptr);
  EXPECT_EQ(MemError(), nilHandleErr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
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
