// The DSM that the fault matrix fails requests in: on the Mac build the TWAIN framework
// stand-in; on Windows the fault-injecting TWAIN_32.DLL in front of Wine's DSM, which is there
// only when the suite runs from its directory (KV_FAULT_DSM set).
#pragma once
#include <string>
#include <vector>

#include "standins/velmar/velmar_host.h"
#include "twain/twain.h"

namespace kvtest {

struct LoggedRequest {
  TW_UINT32 dg;
  TW_UINT16 dat, msg;
  bool toSource;
};

namespace injecting_dsm {

// Whether requests can be failed here; `why` says why not.
bool Available(std::string* why);
// Closes whatever the applications left open and forgets the log and the injections.
void Reset();
void ClearLog();
std::vector<LoggedRequest> Log();
// The k-th logged request from now (1 = the next) returns rc; the next DAT_STATUS reports cc.
void FailCall(int k, TW_UINT16 rc, TW_UINT16 cc);
// The k-th logged request from now is carried out, and answers rc if it succeeded.
void AnswerCall(int k, TW_UINT16 rc);
// While on, every DAT_STATUS fails.
void FailStatus(bool on);
// Windows, the TWAIN 2 manager's: while on, DAT_ENTRYPOINT hands out memory functions whose
// DSM_MemAllocate and DSM_MemLock answer null (false where the manager cannot be told).
bool FailMemory(bool on);
int OpenApplications();
int OpenSources();
// The user of the next source selection dialog picks the first source and presses OK.
void ArrangeSelection(velmar::Host& host);
void EndSelection();

}  // namespace injecting_dsm
}  // namespace kvtest
