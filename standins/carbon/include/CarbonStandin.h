// Test controls of the Carbon stand-in. Not a Carbon header: tests and the other stand-ins
// use it to observe the platform (live blocks, beeps, events) and to script it (a virtual
// clock, scheduled events, an idle hook, injected failures).
#pragma once
#include <Carbon/Carbon.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------- memory
long CarbonStandin_LivePointers(void);
long CarbonStandin_LiveHandles(void);  // resource handles are the Resource Manager's, not counted
// A Memory Manager call given something that is not a live block where one belongs (a
// second DisposeHandle or DisposePtr, a disposed handle to GetHandleSize or HLock, a stray
// pointer, a resource handle to DisposeHandle) is not counted: it ends the process with a
// line on standard error naming the call. NULL is answered as the Memory Manager answers it.
// After n more successful allocations (NewPtr*, NewHandle*, growing SetHandleSize,
// PtrToHand, HandToHand) every allocation fails with memFullErr. -1: never (the default).
void CarbonStandin_FailAllocationsAfter(long n);
// Only the n-th allocation from now fails (1 = the next one); 0 cancels.
void CarbonStandin_FailNthAllocation(long n);

// ---------------------------------------------------------------- beeps and yields
int CarbonStandin_BeepCount(void);
SInt16 CarbonStandin_LastBeepDuration(void);
long CarbonStandin_YieldCount(void);

// ---------------------------------------------------------------- files
// Reads the type and creator that HCreate stored (the FinderInfo extended attribute, or the
// sidecar file "._name.finderinfo" where extended attributes are unavailable).
// Returns 0 on success, -1 when the file has none.
int CarbonStandin_ReadFinderInfo(const char* posixPath, OSType* type, OSType* creator);
long CarbonStandin_OpenFiles(void);  // File Manager paths currently open
// FSClose of a number that no open file has (rfNumErr): a second close, which on a Mac may
// close whatever file took the number since.
long CarbonStandin_StrayCloses(void);
enum CarbonStandinFileCall {
  kCarbonStandinAnyFileCall = 0,
  kCarbonStandinHCreate,
  kCarbonStandinHOpen,
  kCarbonStandinHDelete,
  kCarbonStandinFSWrite,
  kCarbonStandinFSRead,
  kCarbonStandinSetFPos,
  kCarbonStandinGetEOF,
  kCarbonStandinSetEOF,
  kCarbonStandinFSClose,
  kCarbonStandinHRename
};
// The n-th call (1 = the next) of that routine returns err without doing its work, except
// that a failed FSClose still releases the path, as an interrupted close does. An FSWrite
// or FSRead that fails transfers nothing and sets *count to 0. n = 0 cancels.
void CarbonStandin_FailFileCall(int which, long n, OSErr err);
// Whether the volume exchanges files. When it does not (as FAT, exFAT, APFS and many server
// volumes do not), FSpExchangeFiles answers paramErr and PBHGetVolParmsSync reports neither
// bHasFileIDs nor bSupportsFSExchangeObjects. It does unless KV_CARBON_NO_EXCHANGE is set (to
// anything but "0") in the environment, which lets a whole program run on such a volume.
void CarbonStandin_SetExchangeSupported(bool supported);

// ---------------------------------------------------------------- events
long CarbonStandin_LiveEvents(void);
// With the virtual clock on, a ReceiveNextEvent that finds nothing advances the clock to the
// next scheduled event or to its deadline, whichever is first, and never sleeps.
// Switching it on starts virtual time at the current real time.
void CarbonStandin_UseVirtualClock(bool on);
double CarbonStandin_Now(void);                   // same clock as GetCurrentEventTime
void CarbonStandin_AdvanceClock(double seconds);  // virtual clock only
// An event of that class and kind enters the main queue (standard priority) once the clock
// reaches atTime.
void CarbonStandin_ScheduleEvent(double atTime, UInt32 eventClass, UInt32 eventKind);
// Called each time ReceiveNextEvent finds no matching event (before it waits or times out),
// so that a scripted user can act; it may post events.
void CarbonStandin_SetIdleHook(void (*hook)(void* ctx), void* ctx);
// SendEventToEventTarget(event, GetEventDispatcherTarget()) calls this handler and returns
// its result; without one it returns eventNotHandledErr.
void CarbonStandin_SetDispatcherHandler(OSStatus (*handler)(EventRef event, void* ctx), void* ctx);
long CarbonStandin_DispatchedEvents(void);
long CarbonStandin_ReceiveCalls(void);
// Empties the queue and the schedule, removes the hooks, switches the virtual clock off and
// zeroes the counters above (live counts excepted).
void CarbonStandin_ResetEvents(void);

#ifdef __cplusplus
}
#endif
