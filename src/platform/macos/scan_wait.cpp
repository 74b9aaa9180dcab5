// The waits of a Mac scan. A source that runs modally without its interface is polled with
// null events; otherwise a Carbon event loop hands every event to the source and what the
// source does not take to the host. The source's notices arrive meanwhile through
// TWAIN_callback.
#include <Carbon/Carbon.h>

#include "scan/scan_platform.h"

namespace {

constexpr int kModalPolls = 6;

// A modal source still needs the events its user acts through when it shows its interface;
// without it, null events are enough, and a source that said nothing after the last poll has
// its image taken anyway.
void PollModalSource(ScanSession& scan) {
  for (int i = 0; i < kModalPolls && !scan.WaitOver(); ++i) scan.OnEvent(nullptr, AfterTransfer::OfferAgain);
  if (!scan.WaitOver()) scan.TakeImage(AfterTransfer::OfferAgain);
}

void RunEventLoop(ScanSession& scan) {
  EventTargetRef target = GetEventDispatcherTarget();
  // Without the interface, a source silent for this long is the end of the wait.
  EventTimeout timeout = scan.ShowsUI() ? kEventDurationNoWait : scan.QuietSeconds();
  while (!scan.WaitOver()) {
    EventRef event = nullptr;
    OSStatus status = ReceiveNextEvent(0, nullptr, timeout, true, &event);
    if (status == noErr) {
      if (scan.OnEvent(event) == EventFate::ToHost) SendEventToEventTarget(event, target);
      ReleaseEvent(event);
    }
    YieldToAnyThread();
    // With the interface shown the loop never blocks, and a pass without events goes on;
    // without it, READYWAIT seconds without any event end the wait (no page, no failure).
    if (status == noErr || (status == eventLoopTimedOutErr && scan.ShowsUI())) continue;
    if (status != eventLoopTimedOutErr) scan.LoopFailed(static_cast<int16_t>(status));
    break;
  }
}

}  // namespace

namespace platform {

void WaitForSource(ScanSession& scan) {
  if (scan.Modal() && !scan.ShowsUI()) {
    PollModalSource(scan);
  } else {
    RunEventLoop(scan);
  }
}

// Nothing is enabled yet: every event goes on to the host (through the scan, which turns
// nothing away from it), until the time is up.
bool ServeHostFor(ScanSession& scan, double seconds) {
  EventTargetRef target = GetEventDispatcherTarget();
  const EventTime end = GetCurrentEventTime() + seconds;
  for (;;) {
    const EventTime left = end - GetCurrentEventTime();
    if (left <= 0) return true;
    EventRef event = nullptr;
    OSStatus status = ReceiveNextEvent(0, nullptr, left, true, &event);
    if (status == noErr) {
      if (scan.OnEvent(event) == EventFate::ToHost) SendEventToEventTarget(event, target);
      ReleaseEvent(event);
      YieldToAnyThread();
      continue;
    }
    if (status == eventLoopTimedOutErr) return true;
    scan.LoopFailed(static_cast<int16_t>(status));
    return false;
  }
}

}  // namespace platform
