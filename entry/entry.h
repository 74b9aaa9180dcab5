// The extension's entry: the routing of the host's messages and the work of each one.
#pragma once
#include "entry/twain_globals.h"

// Routes one message of the host. `slot` is the host's instance slot.
void RouteMessage(int16_t message, void** slot, HostContext ctx);

// Message 0 and message 2.
void ConstructInstance(void** slot, HostContext ctx);
void DestructInstance(void** slot, HostContext ctx);
// Message 1.
void ExecuteFunction(TwainGlobals* g, HostContext ctx);
// Messages 3 and 4.
void DescribeFunction(HostContext ctx);
void SetDesignFlag(HostContext ctx);

// The record a slot leads to, or null when the slot is empty or its record is gone.
TwainGlobals* LiveRecord(void* slotValue);
// Whether a live record other than `g` has the DSM open (Windows: they share one library).
bool AnotherRecordHoldsDsm(const TwainGlobals* g);
// Functions numbered by the catalogue.
enum FunctionNumber : int16_t {
  kFnAbout = 1,
  kFnDisconnect = 2,
  kFnReset = 3,
  kFnScanToFile = 4,
  kFnScanToField = 5,
  kFnSetSourceCapability = 6,
  kFnGetSourceCapability = 7,
  kFnGetSourceCapRange = 8,
  kFnConnect = 9,
  kFnSelectDataSource = 10,
};
