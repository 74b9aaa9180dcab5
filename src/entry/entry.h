// The extension's entry: the routing of the host's messages and the work of each one.
#pragma once
#include "record/globals.h"
#include "record/records.h"

// Routes one message of the host. `slot` is the host's instance slot; `window` the host
// window the Windows host passes with it (the Mac has none).
void RouteMessage(int16_t message, void** slot, HostContext ctx, void* window = nullptr);

// Message 0 and message 2.
void ConstructInstance(void** slot, HostContext ctx);
void DestructInstance(void** slot, HostContext ctx);
// A destruction that arrived while the record's own scan waited is carried out once the
// scan's call is over (through that call's context). True when g was freed here.
bool CompleteDeferredDestruction(TwainGlobals* g, HostContext ctx);
// Message 1.
void ExecuteFunction(TwainGlobals* g, HostContext ctx, void* window);
// Messages 3 and 4.
void DescribeFunction(HostContext ctx);
void SetDesignFlag(HostContext ctx);

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
  kFnScanPages = 11,
  kFnGetSourceNames = 12,
  kFnSelectSource = 13,
  kFnSetOption = 14,
  kFnGetOption = 15,
};
