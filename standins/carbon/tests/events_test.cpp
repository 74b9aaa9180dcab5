#include <gtest/gtest.h>

#include <chrono>

#include "CarbonStandin.h"
#include "tests/support/time_budget.h"

namespace {

constexpr UInt32 kClass = kEventClassApplication;

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    CarbonStandin_ResetEvents();
    live_ = CarbonStandin_LiveEvents();
  }
  void TearDown() override {
    CarbonStandin_ResetEvents();
    EXPECT_EQ(CarbonStandin_LiveEvents(), live_);
  }
  static EventRef Make(UInt32 kind) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kClass, kind, 0, kEventAttributeNone, &e), noErr);
    return e;
  }
  long live_ = 0;
};

TEST_F(Events, ReferenceCountsAndParameters) {
  EventRef e = Make(1);
  EXPECT_EQ(CarbonStandin_LiveEvents(), live_ + 1);
  EXPECT_EQ(GetEventClass(e), kClass);
  EXPECT_EQ(GetEventKind(e), 1u);
  UInt32 v = 0xCAFE;
  void* p = &v;
  ASSERT_EQ(SetEventParameter(e, 'valu', typeUInt32, sizeof v, &v), noErr);
  ASSERT_EQ(SetEventParameter(e, 'pntr', typeVoidPtr, sizeof p, &p), noErr);
  UInt32 out = 0;
  ByteCount size = 0;
  EventParamType type = 0;
  ASSERT_EQ(GetEventParameter(e, 'valu', typeUInt32, &type, sizeof out, &size, &out), noErr);
  EXPECT_EQ(out, 0xCAFEu);
  EXPECT_EQ(size, sizeof out);
  void* q = nullptr;
  ASSERT_EQ(GetEventParameter(e, 'pntr', typeWildCard, &type, sizeof q, nullptr, &q), noErr);
  EXPECT_EQ(q, p);
  EXPECT_EQ(type, static_cast<EventParamType>(typeVoidPtr));
  EXPECT_EQ(GetEventParameter(e, 'none', typeWildCard, nullptr, 4, nullptr, &out), eventParameterNotFoundErr);
  EXPECT_EQ(GetEventParameter(e, 'valu', typeSInt32, nullptr, 4, nullptr, &out), errAECoercionFail);
  EXPECT_EQ(RetainEvent(e), e);
  ReleaseEvent(e);
  EXPECT_EQ(CarbonStandin_LiveEvents(), live_ + 1);
  ReleaseEvent(e);
  EXPECT_EQ(CarbonStandin_LiveEvents(), live_);
}

// CarbonEvents.h, ReleaseEvent: "If the retain count reaches zero, the event is destroyed."
// A released event is freed memory on a Mac: releasing it again, retaining it or reading it
// crashes there, and halts here with the call and the fault. The address stays known as
// released while new events are made, and a pointer that never was an event, or NULL to be
// retained or released, halts too.
TEST_F(Events, AReleasedEventUsedAgainHalts) {
  EventRef e = Make(7);
  ReleaseEvent(e);
  EventRef later[8];
  for (EventRef& l : later) l = Make(8);
  for (EventRef l : later) EXPECT_NE(l, e);
  EXPECT_DEATH(ReleaseEvent(e), "ReleaseEvent\\(\\): 0x[0-9a-f]+ was released already");
  EXPECT_DEATH(RetainEvent(e), "RetainEvent\\(\\): .* was released already");
  EXPECT_DEATH(GetEventClass(e), "GetEventClass\\(\\): .* was released already");
  EXPECT_DEATH(PostEventToQueue(GetMainEventQueue(), e, kEventPriorityStandard), "was released already");
  static int notAnEvent;
  EXPECT_DEATH(ReleaseEvent(reinterpret_cast<EventRef>(&notAnEvent)), "ReleaseEvent\\(\\): .* is not an event");
  EXPECT_DEATH(ReleaseEvent(nullptr), "ReleaseEvent\\(\\) called with NULL");
  EXPECT_DEATH(RetainEvent(nullptr), "RetainEvent\\(\\) called with NULL");
  for (EventRef l : later) ReleaseEvent(l);
}

TEST_F(Events, QueueOrderPriorityAndPulling) {
  EventRef a = Make(1), b = Make(2), c = Make(3);
  ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), a, kEventPriorityStandard), noErr);
  ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), b, kEventPriorityLow), noErr);
  ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), c, kEventPriorityHigh), noErr);
  EXPECT_EQ(PostEventToQueue(GetMainEventQueue(), a, kEventPriorityStandard), eventAlreadyPostedErr);
  ReleaseEvent(a);
  ReleaseEvent(b);
  ReleaseEvent(c);  // the queue keeps them alive
  EXPECT_EQ(CarbonStandin_LiveEvents(), live_ + 3);

  EventRef got = nullptr;
  ASSERT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationNoWait, false, &got), noErr);
  EXPECT_EQ(GetEventKind(got), 3u);  // peeked, still queued
  EXPECT_EQ(GetNumEventsInQueue(GetMainEventQueue()), 3u);
  EventTypeSpec onlyTwo = {kClass, 2};
  ASSERT_EQ(ReceiveNextEvent(1, &onlyTwo, kEventDurationNoWait, true, &got), noErr);
  EXPECT_EQ(GetEventKind(got), 2u);
  ReleaseEvent(got);
  for (UInt32 kind : {3u, 1u}) {
    ASSERT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &got), noErr);
    EXPECT_EQ(GetEventKind(got), kind);
    ReleaseEvent(got);
  }
  EXPECT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &got), eventLoopTimedOutErr);
  EXPECT_EQ(got, nullptr);
}

TEST_F(Events, VirtualClockMakesAFiveSecondTimeoutFree) {
  CarbonStandin_UseVirtualClock(true);
  auto wallStart = std::chrono::steady_clock::now();
  double start = CarbonStandin_Now();
  EventRef got;
  EXPECT_EQ(ReceiveNextEvent(0, nullptr, 5.0, true, &got), eventLoopTimedOutErr);
  EXPECT_DOUBLE_EQ(CarbonStandin_Now() - start, 5.0);
  EXPECT_LT(std::chrono::steady_clock::now() - wallStart, TimeBudget(std::chrono::milliseconds(100)));
}

TEST_F(Events, ScheduledEventArrivesWhenTheClockReachesIt) {
  CarbonStandin_UseVirtualClock(true);
  double start = CarbonStandin_Now();
  CarbonStandin_ScheduleEvent(start + 2.0, kClass, 7);
  EventRef got = nullptr;
  EXPECT_EQ(ReceiveNextEvent(0, nullptr, 1.0, true, &got), eventLoopTimedOutErr);
  ASSERT_EQ(ReceiveNextEvent(0, nullptr, 5.0, true, &got), noErr);
  EXPECT_EQ(GetEventKind(got), 7u);
  EXPECT_DOUBLE_EQ(CarbonStandin_Now() - start, 2.0);
  ReleaseEvent(got);
  CarbonStandin_ScheduleEvent(start + 10.0, kClass, 8);  // forever waits for the schedule
  ASSERT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationForever, true, &got), noErr);
  EXPECT_EQ(GetEventKind(got), 8u);
  ReleaseEvent(got);
}

TEST_F(Events, RealClockTimesOutAfterRoughlyTheTimeout) {
  auto start = std::chrono::steady_clock::now();
  EventRef got;
  EXPECT_EQ(ReceiveNextEvent(0, nullptr, 0.05, true, &got), eventLoopTimedOutErr);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(45));
  EXPECT_LT(spent, TimeBudget(std::chrono::milliseconds(1000)));
}

struct Script {
  int idleCalls = 0;
  int postOnCall = 0;
};

void PostFromIdle(void* ctx) {
  auto* s = static_cast<Script*>(ctx);
  if (++s->idleCalls == s->postOnCall) {
    EventRef e;
    CreateEvent(nullptr, kClass, 42, 0, 0, &e);
    PostEventToQueue(GetMainEventQueue(), e, kEventPriorityStandard);
    ReleaseEvent(e);
  }
}

TEST_F(Events, IdleHookRunsWhenTheQueueIsEmptyAndMayPost) {
  CarbonStandin_UseVirtualClock(true);
  Script s;
  s.postOnCall = 1;
  CarbonStandin_SetIdleHook(PostFromIdle, &s);
  EventRef got = nullptr;
  ASSERT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &got), noErr);  // even with no wait
  EXPECT_EQ(GetEventKind(got), 42u);
  ReleaseEvent(got);
  EXPECT_EQ(s.idleCalls, 1);
  s.postOnCall = 4;  // a user that acts a little later, inside a forever wait
  ASSERT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationForever, true, &got), noErr);
  EXPECT_EQ(s.idleCalls, 4);
  ReleaseEvent(got);
}

OSStatus Handled(EventRef e, void* ctx) {
  *static_cast<UInt32*>(ctx) = GetEventKind(e);
  return noErr;
}

TEST_F(Events, DispatcherTargetHandsEventsToTheHost) {
  EventRef e = Make(9);
  EXPECT_EQ(SendEventToEventTarget(e, GetEventDispatcherTarget()), eventNotHandledErr);
  UInt32 seen = 0;
  CarbonStandin_SetDispatcherHandler(Handled, &seen);
  EXPECT_EQ(SendEventToEventTarget(e, GetEventDispatcherTarget()), noErr);
  EXPECT_EQ(seen, 9u);
  EXPECT_EQ(CarbonStandin_DispatchedEvents(), 2);
  EXPECT_EQ(GetEventRetainCount(e), 1u);  // sending does not consume the event
  ReleaseEvent(e);
}

}  // namespace
