// The controls of the fault-injecting TWAIN_32.DLL that stands in front of Wine's DSM, or
// TWAINDSM.DLL in front of the TWAIN 2 manager stand-in (fault_dsm.cpp). The test program finds them with
// GetProcAddress in the loaded library.
#pragma once
#include "twain/twain.h"

struct FaultDsmCall {
  TW_UINT32 origin;  // the application's Id at the time of the call
  TW_UINT32 dest;    // 0 for the DSM itself
  TW_UINT32 DG;
  TW_UINT16 DAT, MSG;
  TW_UINT16 rc;
};

typedef TW_UINT16(__stdcall* FaultDsmEntry)(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                                            TW_MEMREF);

// Exported by name (stdcall, undecorated):
//   int FaultDsm_CallCount(void); const FaultDsmCall* FaultDsm_Call(int index);
//   void FaultDsm_ClearLog(void);
//   void FaultDsm_FailCall(int k, TW_UINT16 rc, TW_UINT16 cc)  the k-th logged call from now
//       (1 = the next) returns rc without being passed on; 0 cancels, with any pending condition
//   void FaultDsm_AnswerCall(int k, TW_UINT16 rc)  the k-th logged call from now is passed on,
//       and answers rc if it succeeded; 0 cancels
//   void FaultDsm_FailStatus(int on)  while on, every DAT_STATUS fails, its structure untouched
//   int FaultDsm_OpenApplications(void); int FaultDsm_OpenSources(void)
//   void FaultDsm_FailMemory(int on)  (the TWAINDSM.DLL build) while on, DAT_ENTRYPOINT hands
//       out memory functions whose DSM_MemAllocate and DSM_MemLock answer null
//   void FaultDsm_Reset(void)  closes, through Wine's DSM, every source and connection still
//       open, and forgets the log and any injection
// With KV_FAULT_DSM_TRACE set in the environment, every logged call and its answer are
// written to stderr.
