// The TWAIN state of an instance and the operations that move between its states. A flag
// changes only when the matching DSM request was carried out (TWRC_SUCCESS, or
// TWRC_CHECKSTATUS: done, with something changed).
#include "twain/connection.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "record/records.h"
#include "twain/dsm.h"
#include "twain/dsm_platform.h"
#include "twain/requests.h"
#include "twain/result_codes.h"

namespace {

// The request was carried out: TWRC_CHECKSTATUS says the source did it with something changed
// (an interface it could not show, a value of its own choosing), not that it did nothing.
bool Done(TW_UINT16 rc) { return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS; }

// Sources chosen while another source was open: each applies the next time its record opens
// a source, so that the open one stays addressed until it is closed.
std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>>& Choices() {
  static std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>> choices;
  return choices;
}

void Choose(TwainGlobals* g, const TW_IDENTITY& chosen) {
  g->sourceIdentity = chosen;
  g->sourceSelected = 1;
}

// Records whose source may still be inside a transfer (TWAIN states 6 and 7): noted before a
// transfer request, forgotten once MSG_ENDXFER succeeded or the source is closed.
std::vector<const TwainGlobals*>& TransfersNotEnded() {
  static std::vector<const TwainGlobals*> records;
  return records;
}

bool TransferNotEnded(const TwainGlobals* g) {
  auto& v = TransfersNotEnded();
  return std::find(v.begin(), v.end(), g) != v.end();
}

void ForgetTransfer(const TwainGlobals* g) {
  auto& v = TransfersNotEnded();
  v.erase(std::remove(v.begin(), v.end(), g), v.end());
}

// Records whose source the DSM let go while the source, having refused its close, stayed
// open (Wine's DSM), with the source's identity: nothing through the DSM reaches it any more,
// and a new open of it is refused while it is open. Every later close, and the next open,
// close it first.
std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>>& SourcesLeftOpen() {
  static std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>> sources;
  return sources;
}

std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>>::iterator SourceLeftOpen(const TwainGlobals* g) {
  auto& v = SourcesLeftOpen();
  return std::find_if(v.begin(), v.end(), [g](const auto& e) { return e.first == g; });
}

void ForgetSourceLeftOpen(const TwainGlobals* g) {
  auto it = SourceLeftOpen(g);
  if (it != SourcesLeftOpen().end()) SourcesLeftOpen().erase(it);
}

// The source g addresses, by name: one opened (or to be opened) without a name is the DSM's
// default, whose name the DSM gives. Asked while the DSM is open.
TW_IDENTITY NamedSource(TwainGlobals* g) {
  TW_IDENTITY source = g->sourceIdentity;
  TW_IDENTITY fallback{};
  if (source.ProductName[0] == 0 &&
      CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &fallback) == TWRC_SUCCESS)
    std::memcpy(source.ProductName, fallback.ProductName, sizeof source.ProductName);
  return source;
}

void NoteSourceLeftOpen(TwainGlobals* g) {
  ForgetSourceLeftOpen(g);
  SourcesLeftOpen().emplace_back(g, NamedSource(g));
}

// Why a source refused MSG_OPENDS, when the DSM's own answer is only "operation error": Wine's
// DSM says so whatever the source said, and keeps the source's module loaded; the source
// itself still holds its condition (a scanner switched off: TWCC_CHECKDEVICEONLINE). The
// DSM's answer stands when no loaded source has the name, or the source has nothing to add.
int16_t OpenRefusal(TwainGlobals* g, int16_t dsmAnswer) {
  if (dsmAnswer != kResultFailed) return dsmAnswer;
  TW_IDENTITY source = NamedSource(g);
  DSENTRYPROC entry = platform::LoadedSourceEntry(&g->appIdentity, source);
  if (!entry) return dsmAnswer;
  TW_STATUS status{};
  if (entry(&g->appIdentity, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS ||
      status.ConditionCode == TWCC_SUCCESS || status.ConditionCode == TWCC_OPERATIONERROR)
    return dsmAnswer;
  return xlateCondition(status.ConditionCode);
}

// The source is asked once more to close, through its own entry as the DSM would ask it.
// 0 when it closed, or when no loaded source has its name any more.
int16_t CloseSourceLeftOpen(TwainGlobals* g) {
  auto it = SourceLeftOpen(g);
  if (it == SourcesLeftOpen().end()) return 0;
  TW_IDENTITY source = it->second;
  DSENTRYPROC entry = platform::LoadedSourceEntry(&g->appIdentity, source);
  if (entry && !Done(entry(&g->appIdentity, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source)))
    return kResultStatusUnreadable;  // the DSM cannot be asked about a source it let go
  ForgetSourceLeftOpen(g);
  return 0;
}

// g's choice that waits for the next open, or end.
std::vector<std::pair<const TwainGlobals*, TW_IDENTITY>>::iterator WaitingChoice(const TwainGlobals* g) {
  auto& v = Choices();
  auto it = v.begin();
  while (it != v.end() && it->first != g) ++it;
  return it;
}

void ApplyChoice(TwainGlobals* g) {
  auto it = WaitingChoice(g);
  if (it == Choices().end()) return;
  Choose(g, it->second);
  Choices().erase(it);
}

}  // namespace

void ChooseSource(TwainGlobals* g, const TW_IDENTITY& chosen) {
  if (g->dsOpen) {
    ForgetSourceChoice(g);
    Choices().emplace_back(g, chosen);
  } else {
    Choose(g, chosen);
  }
}

const TW_IDENTITY* NextSourceChoice(const TwainGlobals* g) {
  auto it = WaitingChoice(g);
  if (it != Choices().end()) return &it->second;
  return g->sourceSelected ? &g->sourceIdentity : nullptr;
}

void ForgetSourceChoice(const TwainGlobals* g) {
  ForgetTransfer(g);
  ForgetSourceLeftOpen(g);
  auto it = WaitingChoice(g);
  if (it != Choices().end()) Choices().erase(it);
}

namespace {

// A TWAIN 2 manager's entry points, asked at once after MSG_OPENDSM: without them the source's
// handles could not be freed as the source allocated them, so a manager that gives none (or
// gives a null function) is closed again and the open fails.
int16_t TakeEntryPoints(TwainGlobals* g) {
  TW_ENTRYPOINT points{};
  points.Size = sizeof points;
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points);
  const bool whole = points.DSM_MemAllocate && points.DSM_MemFree && points.DSM_MemLock && points.DSM_MemUnlock;
  if (Done(rc) && whole) {
    platform::KeepManagerEntryPoints(points);
    return 0;
  }
  int16_t r = Done(rc) ? kResultFailed : xlateErr(g, nullptr, rc);
  DoCloseDSM(g);
  return r;
}

// Windows, TWAIN 2: the source's notices come through the manager's call of our callback,
// DAT_CALLBACK2 first (its RefCon holds the record's address in either width), then
// DAT_CALLBACK (a 32-bit RefCon: the record there only in the 32-bit build; the callback then
// finds the record by the application's Id). A manager or source that takes neither leaves the
// notices to DAT_EVENT, as with a TWAIN 1.x manager.
void RegisterNoticeCallback(TwainGlobals* g) {
  TW_CALLBACK2 second{};
  second.CallBackProc = platform::SourceCallback();
  second.RefCon = reinterpret_cast<TW_UINTPTR>(g);
  if (Done(CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &second))) return;
  TW_CALLBACK first{};
  first.CallBackProc = platform::SourceCallback();
  uintptr_t record = sizeof(first.RefCon) >= kPointerBytes ? reinterpret_cast<uintptr_t>(g) : 0;
  first.RefCon = (decltype(first.RefCon))record;  // an integer or a pointer, as the layout has it
  CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &first);
}

}  // namespace

void ChooseHandleMemory(const TwainGlobals* g) {
  platform::UseManagerMemory(g->dsOpen && SpeaksTwain2(g) && (g->sourceIdentity.SupportedGroups & DF_DS2) != 0);
}

void DoChangeManager(TwainGlobals* g, ManagerChoice choice) {
  if constexpr (kWindowsBuild) {
    if (g->dsmOpen || AnotherRecordHoldsDsm(g)) return;
    platform::UnbindDSM(g);
    platform::BindDSM(g, choice);  // none: the next call answers 4
  }
}

int16_t DoOpenDSM(TwainGlobals* g) {
  if (g->dsmOpen) return 0;
  PresentIdentity(g);
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, platform::DsmParentData());
  if (!Done(rc)) return xlateErr(g, nullptr, rc);
  g->dsmOpen = 1;
  return SpeaksTwain2(g) ? TakeEntryPoints(g) : 0;
}

int16_t DoCloseDSM(TwainGlobals* g) {
  if (!g->dsmOpen) return 0;
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, platform::DsmParentData());
  if (!Done(rc)) return xlateErr(g, nullptr, rc);
  // A DSM that took the close holds no source for this application any more (Wine's closes
  // a source still open itself).
  g->dsmOpen = g->dsOpen = g->dsEnabled = 0;
  ForgetTransfer(g);
  return 0;
}

int16_t DoSelectDataSource(TwainGlobals* g) {
  int16_t r = DoOpenDSM(g);
  if (r != 0) return r;
  TW_IDENTITY chosen;
  std::memset(&chosen, 0, sizeof chosen);
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen);
  if (Done(rc)) {
    ChooseSource(g, chosen);
    return kResultOk;
  }
  if (rc == TWRC_CANCEL) return kResultCancelled;
  return xlateErr(g, nullptr, rc);
}

int16_t DoOpenDS(TwainGlobals* g) {
  if (g->dsOpen) return 0;
  ApplyChoice(g);
  if (!g->sourceSelected) {
    g->sourceIdentity.Id = 0;
    std::memset(g->sourceIdentity.ProductName, 0, sizeof g->sourceIdentity.ProductName);
  }
  // A source left open behind the DSM would refuse the open; one that opens is not left open.
  CloseSourceLeftOpen(g);
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &g->sourceIdentity);
  if (Done(rc)) {
    g->dsOpen = 1;
    ForgetTransfer(g);
    ForgetSourceLeftOpen(g);
    ChooseHandleMemory(g);
    if (kWindowsBuild && SpeaksTwain2(g)) RegisterNoticeCallback(g);
    return 0;
  }
  int16_t r = xlateErr(g, nullptr, rc);
  constexpr int16_t kConditionCode200 = kResultConditionCodeBase + 200;
  return r == kConditionCode200 ? 0 : rc == TWRC_FAILURE ? OpenRefusal(g, r) : r;
}

int16_t DoConnect(TwainGlobals* g) {
  int16_t r = DoOpenDSM(g);
  return r != 0 ? r : DoOpenDS(g);
}

namespace {

bool DsmForgotSource(TwainGlobals* g) {
  TW_STATUS probe{};
  if (CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_STATUS, MSG_GET, &probe) == TWRC_SUCCESS) return false;
  TW_STATUS dsm{};
  return CallDSM(g, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &dsm) == TWRC_SUCCESS &&
         dsm.ConditionCode == TWCC_BADDEST;
}

// The steps back to state 3: end a transfer left open, reset pending transfers, disable,
// close. A refused end leaves the note, so that every later close tries again.
void EndTransferLeftOpen(TwainGlobals* g) {
  if (g->dsEnabled && TransferNotEnded(g)) DoEndTransfer(g);
}

int16_t DropPending(TwainGlobals* g) {
  TW_UINT16 rc = ResetPendingTransfers(g);
  return Done(rc) ? 0 : xlateErr(g, &g->sourceIdentity, rc);
}

int16_t Disable(TwainGlobals* g) {
  TW_UINT16 rc = DisableSource(g);
  if (!Done(rc)) return xlateErr(g, &g->sourceIdentity, rc);
  g->dsEnabled = 0;
  return 0;
}

int16_t CloseSource(TwainGlobals* g) {
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &g->sourceIdentity);
  if (!Done(rc)) {
    // The DSM may have refused the close itself.
    int16_t r = xlateDsmErr(g, rc);
    if constexpr (kWindowsBuild) {
      // Wine's DSM forgets the source even when the source refused the close: a source the
      // DSM no longer knows (a status request to it fails, and the DSM's own condition says
      // it is no destination) is closed as far as this instance goes. A status request
      // that fails for any other reason proves nothing; the source is taken as still open.
      if (DsmForgotSource(g)) {
        g->dsOpen = 0;
        g->dsEnabled = 0;
        NoteSourceLeftOpen(g);
      }
    }
    return r;
  }
  g->dsOpen = 0;
  ForgetTransfer(g);
  return 0;
}

}  // namespace

void NoteTransferStarted(const TwainGlobals* g) {
  if (!TransferNotEnded(g)) TransfersNotEnded().push_back(g);
}

TW_UINT16 DoEndTransfer(TwainGlobals* g, TW_UINT16* left, TW_UINT32* jobEnd) {
  TW_UINT16 count = 0;
  TW_UINT32 eoj = 0;
  TW_UINT16 rc = EndTransfer(g, &count, &eoj);
  bool done = Done(rc);
  if (done) ForgetTransfer(g);
  if (left) *left = done ? count : 0;
  if (jobEnd) *jobEnd = done ? eoj : 0;
  return rc;
}

int16_t DoCloseDS(TwainGlobals* g) {
  if (!g->dsmBound) return 0;
  EndTransferLeftOpen(g);
  if constexpr (kWindowsBuild) {
    // Every step is attempted whatever the one before gave; the last one sent decides.
    // Wine's DSM forgets a source on MSG_CLOSEDS even when the source refuses it: a source
    // still enabled is asked once more to disable, and is not closed while it stays enabled
    // (it stays reachable, and the next scan closes it first).
    if (!g->dsOpen && !g->dsEnabled) return CloseSourceLeftOpen(g);
    int16_t r = 0;
    if (g->dsOpen && g->dsEnabled) r = DropPending(g);
    if (g->dsEnabled) {
      r = Disable(g);
      if (g->dsEnabled && Disable(g) == 0) r = 0;
    }
    if (g->dsOpen && !g->dsEnabled) r = CloseSource(g);
    return r;
  } else {
    if (g->dsOpen && g->dsEnabled) {
      int16_t r = DropPending(g);
      if (r != 0 && r != kResultSequenceError) return r;
    }
    if (g->dsEnabled) {
      int16_t r = Disable(g);
      if (r != 0) return r;
    }
    if (g->dsOpen) return CloseSource(g);
    return 0;
  }
}

int16_t DoDisconnect(TwainGlobals* g) {
  int16_t r = DoCloseDS(g);
  if (r == 0) {
    r = DoCloseDSM(g);
  } else if (kWindowsBuild && !g->dsOpen) {
    // The DSM let the source go although it refused the close: the DSM is closed too, so
    // that a later Connect opens it again. The refusal stays the result.
    DoCloseDSM(g);
  }
  // The library goes only once this instance's DSM is closed: a source that refused to close
  // keeps TWAIN_32.DLL loaded and the DSM holding this application, whatever FreeLibrary does,
  // and the flags must go on saying so (the next Disconnect closes it, Connect finds it open).
  // It is shared by every instance, too: unloading it under another instance that holds the
  // DSM open would lose that instance's DSM and source for good.
  if constexpr (kWindowsBuild) {
    if (!g->dsmOpen && !AnotherRecordHoldsDsm(g)) platform::UnbindDSM(g);
  }
  return r;
}

void DoReset(TwainGlobals* g) {
  bool sourceWasOpen = g->dsOpen != 0;
  DoCloseDS(g);
  // A source that could not be closed keeps the DSM open: closing it behind the source would
  // leave the source unreachable, and the DSM refusing every later open.
  if (g->dsOpen) return;
  DoCloseDSM(g);
  DoOpenDSM(g);
  if (sourceWasOpen) DoOpenDS(g);
}

int16_t DoRegisterCallback(TW_MEMREF procedure, TwainGlobals* g) {
  if (!g->dsOpen) {
    int16_t r = DoOpenDS(g);
    if (r != 0) return r;
  }
  TW_CALLBACK cb{};
  cb.CallBackProc = procedure;
  // The RefCon leads the callback back to the record. 64-bit Windows keeps it 32 bits wide,
  // too narrow for an address: there it stays 0 (the Windows builds take the source's
  // notices through the window and never register).
  uintptr_t record = sizeof(cb.RefCon) >= kPointerBytes ? reinterpret_cast<uintptr_t>(g) : 0;
  cb.RefCon = (decltype(cb.RefCon))record;  // an integer or a pointer, as the layout has it
  cb.Message = 0;
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb);
  if (Done(rc)) return 0;
  // The registration is the DSM's own request.
  return xlateDsmErr(g, rc);
}
