// Carbon Event Manager: reference-counted events, the main event queue with priorities,
// ReceiveNextEvent with its time-outs on a real or a virtual clock, and the event
// dispatcher target, which hands events to a handler that the host stand-in installs.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "CarbonStandin.h"
#include "standins/freed_blocks.h"

struct OpaqueEventRef {
  UInt32 retainCount;
  UInt32 eventClass;
  UInt32 eventKind;
  EventTime when;
  EventAttributes attributes;
  bool posted;
  EventPriority priority;
  std::map<EventParamName, std::pair<EventParamType, std::vector<unsigned char>>> params;
};
struct OpaqueEventQueueRef {
  int unused;
};
struct OpaqueEventTargetRef {
  int unused;
};

namespace {

std::recursive_mutex gLock;
std::condition_variable_any gPosted;
std::unordered_set<EventRef> gLive;
std::deque<EventRef> gQueue;
std::multimap<double, std::pair<UInt32, UInt32>> gSchedule;
OpaqueEventQueueRef gMainQueue;
OpaqueEventTargetRef gDispatcher;
bool gVirtual = false;
double gVirtualNow = 0;
void (*gIdleHook)(void*) = nullptr;
void* gIdleCtx = nullptr;
OSStatus (*gHandler)(EventRef, void*) = nullptr;
void* gHandlerCtx = nullptr;
long gDispatched = 0;
long gReceiveCalls = 0;

const auto kStart = std::chrono::steady_clock::now();

double RealNow() {
  // Seconds since "startup", like the real clock; offset so that it is never 0.
  return 1.0 + std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
}
double Now() { return gVirtual ? gVirtualNow : RealNow(); }

// Released events are kept from the heap for a while (the last 4096), so that a stale
// EventRef is known as released.
standins::FreedBlocks& gReleased =
    *new standins::FreedBlocks(4096, SIZE_MAX, [](void* e) { delete static_cast<EventRef>(e); });

// An EventRef given to `call` that is not a live event ends the process, naming the call and
// the fault: on a Mac a released event is freed memory. NULL is no event (false).
bool Valid(EventRef e, const char* call) {
  if (!e) return false;
  if (gLive.count(e)) return true;
  std::fprintf(stderr, "*** %s(): %p %s ***\n", call, static_cast<void*>(e),
               gReleased.Holds(e) ? "was released already" : "is not an event");
  std::abort();
}

EventRef NewEvent(UInt32 cls, UInt32 kind, EventTime when, EventAttributes attrs) {
  auto* e = new OpaqueEventRef{1, cls, kind, when, attrs, false, kEventPriorityStandard, {}};
  gLive.insert(e);
  return e;
}

// Retaining or releasing NULL is a fault of the caller's count, like CFRetain(NULL): it halts.
EventRef Counted(EventRef e, const char* call) {
  if (!e) {
    std::fprintf(stderr, "*** %s() called with NULL ***\n", call);
    std::abort();
  }
  Valid(e, call);
  return e;
}

void Release(EventRef e, const char* call) {
  Counted(e, call);
  if (--e->retainCount == 0) {
    gLive.erase(e);
    e->params.clear();
    gReleased.Keep(e);
  }
}

void Enqueue(EventRef e, EventPriority priority) {
  e->posted = true;
  e->priority = priority;
  auto at = std::find_if(gQueue.begin(), gQueue.end(), [&](EventRef q) { return q->priority > priority; });
  gQueue.insert(at, e);
  gPosted.notify_all();
}

// Moves every scheduled event whose time has come into the queue.
void PromoteDue() {
  double now = Now();
  while (!gSchedule.empty() && gSchedule.begin()->first <= now) {
    auto item = *gSchedule.begin();
    gSchedule.erase(gSchedule.begin());
    EventRef e = NewEvent(item.second.first, item.second.second, item.first, kEventAttributeNone);
    Enqueue(e, kEventPriorityStandard);  // the queue holds the only reference
  }
}

std::deque<EventRef>::iterator FindMatch(UInt32 n, const EventTypeSpec* list) {
  return std::find_if(gQueue.begin(), gQueue.end(), [&](EventRef e) {
    if (n == 0 || !list) return true;
    for (UInt32 i = 0; i < n; ++i)
      if (list[i].eventClass == e->eventClass && list[i].eventKind == e->eventKind) return true;
    return false;
  });
}

}  // namespace

extern "C" {

OSStatus CreateEvent(CFAllocatorRef, UInt32 inClassID, UInt32 inKind, EventTime inWhen,
                     EventAttributes inAttributes, EventRef* outEvent) try {
  if (!outEvent) return paramErr;
  std::lock_guard<std::recursive_mutex> g(gLock);
  *outEvent = NewEvent(inClassID, inKind, inWhen == 0 ? Now() : inWhen, inAttributes);
  return noErr;
} catch (...) {
  return memFullErr;
}

EventRef RetainEvent(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  ++Counted(inEvent, __func__)->retainCount;
  return inEvent;
} catch (...) {
  return {};
}

void ReleaseEvent(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Release(inEvent, __func__);
} catch (...) {
}

UInt32 GetEventRetainCount(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Valid(inEvent, __func__) ? inEvent->retainCount : 0;
} catch (...) {
  return {};
}

UInt32 GetEventClass(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Valid(inEvent, __func__) ? inEvent->eventClass : 0;
} catch (...) {
  return {};
}

UInt32 GetEventKind(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Valid(inEvent, __func__) ? inEvent->eventKind : 0;
} catch (...) {
  return {};
}

EventTime GetEventTime(EventRef inEvent) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Valid(inEvent, __func__) ? inEvent->when : 0;
} catch (...) {
  return {};
}

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType, ByteCount inSize,
                           const void* inDataPtr) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!Valid(inEvent, __func__) || (inSize && !inDataPtr)) return paramErr;
  const auto* p = static_cast<const unsigned char*>(inDataPtr);
  inEvent->params[inName] = {inType, std::vector<unsigned char>(p, p + inSize)};
  return noErr;
} catch (...) {
  return memFullErr;
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!Valid(inEvent, __func__)) return paramErr;
  auto it = inEvent->params.find(inName);
  if (it == inEvent->params.end()) return eventParameterNotFoundErr;
  const auto& value = it->second;
  if (inDesiredType != typeWildCard && inDesiredType != value.first) return errAECoercionFail;
  if (outActualType) *outActualType = value.first;
  if (outActualSize) *outActualSize = value.second.size();
  if (outData) std::memcpy(outData, value.second.data(), std::min<size_t>(inBufferSize, value.second.size()));
  return noErr;
} catch (...) {
  return memFullErr;
}

EventQueueRef GetMainEventQueue(void) { return &gMainQueue; }
EventQueueRef GetCurrentEventQueue(void) { return &gMainQueue; }

OSStatus PostEventToQueue(EventQueueRef inQueue, EventRef inEvent, EventPriority inPriority) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (inQueue != &gMainQueue || !Valid(inEvent, __func__)) return paramErr;
  if (inEvent->posted) return eventAlreadyPostedErr;
  ++inEvent->retainCount;
  Enqueue(inEvent, inPriority);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSStatus FlushEventQueue(EventQueueRef inQueue) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (inQueue != &gMainQueue) return paramErr;
  while (!gQueue.empty()) {
    EventRef e = gQueue.front();
    gQueue.pop_front();
    e->posted = false;
    Release(e, __func__);
  }
  return noErr;
} catch (...) {
  return memFullErr;
}

UInt32 GetNumEventsInQueue(EventQueueRef inQueue) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (inQueue != &gMainQueue) return 0;
  PromoteDue();
  return static_cast<UInt32>(gQueue.size());
} catch (...) {
  return {};
}

OSStatus ReceiveNextEvent(UInt32 inNumTypes, const EventTypeSpec* inList, EventTimeout inTimeout,
                          Boolean inPullEvent, EventRef* outEvent) try {
  std::unique_lock<std::recursive_mutex> g(gLock);
  ++gReceiveCalls;
  if (outEvent) *outEvent = nullptr;
  const double inf = std::numeric_limits<double>::infinity();
  double deadline = inTimeout < 0 ? inf : Now() + inTimeout;
  long idleSpins = 0;
  for (;;) {
    PromoteDue();
    auto it = FindMatch(inNumTypes, inList);
    if (it == gQueue.end() && gIdleHook) {
      void (*hook)(void*) = gIdleHook;
      void* ctx = gIdleCtx;
      g.unlock();
      hook(ctx);
      g.lock();
      PromoteDue();
      it = FindMatch(inNumTypes, inList);
    }
    if (it != gQueue.end()) {
      EventRef e = *it;
      if (inPullEvent) {
        gQueue.erase(it);
        e->posted = false;  // the queue's reference passes to the caller
      }
      if (outEvent) *outEvent = e;
      return noErr;
    }
    double now = Now();
    if (now >= deadline) return eventLoopTimedOutErr;
    double next = gSchedule.empty() ? inf : gSchedule.begin()->first;
    if (gVirtual) {
      double target = std::min(next, deadline);
      if (target == inf) {
        // Waiting forever for nothing: only the idle hook can still post. Step the clock so
        // that its script moves on, and give up loudly rather than hang a test run.
        if (++idleSpins > 1000000) {
          std::fprintf(stderr, "Carbon stand-in: ReceiveNextEvent would wait forever\n");
          std::abort();
        }
        gVirtualNow += 1.0;
      } else {
        gVirtualNow = std::max(gVirtualNow, target);
      }
    } else {
      double until = std::min({next, deadline, now + 0.01});
      gPosted.wait_for(g, std::chrono::duration<double>(until - now));
    }
  }
} catch (...) {
  return memFullErr;
}

EventTargetRef GetEventDispatcherTarget(void) { return &gDispatcher; }

OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget) try {
  std::unique_lock<std::recursive_mutex> g(gLock);
  if (!Valid(inEvent, __func__) || inTarget != &gDispatcher) return paramErr;
  ++gDispatched;
  OSStatus (*handler)(EventRef, void*) = gHandler;
  void* ctx = gHandlerCtx;
  g.unlock();
  return handler ? handler(inEvent, ctx) : eventNotHandledErr;
} catch (...) {
  return memFullErr;
}

EventTime GetCurrentEventTime(void) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Now();
} catch (...) {
  return {};
}

long CarbonStandin_LiveEvents(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return static_cast<long>(gLive.size());
}

void CarbonStandin_UseVirtualClock(bool on) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (on && !gVirtual) gVirtualNow = RealNow();
  gVirtual = on;
}

double CarbonStandin_Now(void) { return GetCurrentEventTime(); }

void CarbonStandin_AdvanceClock(double seconds) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (gVirtual && seconds > 0) gVirtualNow += seconds;
  PromoteDue();
}

void CarbonStandin_ScheduleEvent(double atTime, UInt32 eventClass, UInt32 eventKind) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gSchedule.emplace(atTime, std::make_pair(eventClass, eventKind));
  gPosted.notify_all();
}

void CarbonStandin_SetIdleHook(void (*hook)(void* ctx), void* ctx) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gIdleHook = hook;
  gIdleCtx = ctx;
}

void CarbonStandin_SetDispatcherHandler(OSStatus (*handler)(EventRef, void*), void* ctx) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gHandler = handler;
  gHandlerCtx = ctx;
}

long CarbonStandin_DispatchedEvents(void) { return gDispatched; }
long CarbonStandin_ReceiveCalls(void) { return gReceiveCalls; }

void CarbonStandin_ResetEvents(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  FlushEventQueue(&gMainQueue);
  gSchedule.clear();
  gIdleHook = nullptr;
  gHandler = nullptr;
  gVirtual = false;
  gDispatched = gReceiveCalls = 0;
}

}  // extern "C"
