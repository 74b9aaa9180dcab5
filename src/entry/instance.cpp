// Construction and destruction of the instance record.
//
// Every record this process made and has not freed is in the live list (record/records.h),
// so that a slot is checked before its record is touched: a slot left pointing at a freed
// record (the Mac's shared record after another instance destroyed it) or at garbage behaves
// as an empty slot.
//
// A scan waits in an event loop that runs host code, so messages 0 and 2 can arrive while a
// record scans. They never pull the record from under its scan: message 0 leaves a scanning
// record as it is (an empty slot gets a record of its own), and message 2 for a scanning
// record empties the host's slot at once but closes and frees the record when its scan's
// call is over.
#include <algorithm>
#include <cstring>
#include <vector>

#include "caps/cap_table.h"
#include "entry/entry.h"
#include "entry/entry_platform.h"
#include "entry/source_side.h"
#include "entry/worker_port.h"
#include "host/host_kit.h"
#include "options/options.h"
#include "scan/scan_session.h"
#include "twain/connection.h"
#include "twain/dsm_platform.h"

namespace {

// Records whose destruction waits for their scan to return.
std::vector<TwainGlobals*>& Deferred() {
  static std::vector<TwainGlobals*> records;
  return records;
}

// Its scan waits, in process or in its worker: the record is not freed under the call.
bool Scanning(const TwainGlobals* g) {
  return RunningScanOf(g) != nullptr || platform::RecordInWorkerCall() == g;
}

// Resets a Mac record: flags false, identities empty but for the source's Id, no image, no
// call context, no file, an empty capability table, then ready.
template <typename G>
G* initGlobals(G* g) {
  uint32_t keepSourceId = g->sourceIdentity.Id;
  g->dsOpen = g->dsmOpen = g->sourceSelected = g->dsEnabled = g->dsmBound = g->showUI = 0;
  g->scanComplete = 0;
  std::memset(&g->appIdentity, 0, sizeof g->appIdentity);
  std::memset(&g->sourceIdentity, 0, sizeof g->sourceIdentity);
  g->sourceIdentity.Id = keepSourceId;
  g->imageHandle = nullptr;
  g->hostParams = nullptr;
  g->fileFormat = 0;
  std::memset(g->filePath, 0, sizeof g->filePath);
  g->capTable[0].capId = 0;
  g->transferPending = 0;
  g->closeRequested = 0;
  g->signature = kSignatureCool;
  return g;
}

// Steps shared by a new, an adopted and a re-initialised Mac record.
template <typename G>
void SetUpMacRecord(G* g, void** slot) {
  DoInitAppIdentity(g);
  g->scanComplete = g->dsOpen = g->dsmOpen = g->sourceSelected = g->dsEnabled = g->dsmBound = 0;
  g->imageHandle = nullptr;  // dropped, not disposed of
  ForgetSourceChoice(g);
  ForgetOptions(g);
  ForgetSide(g);
  initCaps(g);
  g->dsmBound = 1;
  g->sourceIdentity.Id = 0;
  g->signature = kSignatureCool;
  *slot = g;
}

// A fresh Mac record. `registerIt`: it becomes the one registered under the atom (not while
// a scanning record holds the registration).
template <typename G>
void NewMacRecord(void** slot, HostContext ctx, bool registerIt) {
  G* g = static_cast<G*>(NewXPPointer(sizeof(G)));
  if (!g) {
    platform::AllocationBeep();
    return;
  }
  RememberRecord(g);
  std::strcpy(g->atomName, kAtomName);
  initGlobals(g);
  if (registerIt) SetVelAtom(g->atomName, g, ctx);
  g->signature = kSignatureLoad;
  SetUpMacRecord(g, slot);
}

template <typename G>
void ConstructMac(void** slot, HostContext ctx) {
  if (*slot) {
    G* g = static_cast<G*>(LiveRecord(*slot));
    if (g) {
      if (g->signature == kSignatureCool && !Scanning(g)) SetUpMacRecord(g, slot);
      return;
    }
    // The slot's record is gone: construct as for an empty slot.
  }
  if (G* registered = static_cast<G*>(GetVelAtom(kAtomName, ctx))) {
    if (registered->signature == kSignatureCool) {
      if (Scanning(registered)) {
        NewMacRecord<G>(slot, ctx, false);
        return;
      }
      // A record that an earlier load of the bundle made and registered is adopted too: the
      // atom outlives the code that set it, and the record would be lost otherwise.
      if (!LiveRecord(registered)) RememberRecord(registered);
      registered->signature = kSignatureLoad;
      SetUpMacRecord(registered, slot);
      return;
    }
    DeleteVelAtom(kAtomName, ctx);
  }
  NewMacRecord<G>(slot, ctx, true);
}

template <typename G>
void ConstructWin(void** slot) {
  if (G* existing = static_cast<G*>(LiveRecord(*slot)); existing && existing->signature == kSignatureCool)
    return;
  G* g = static_cast<G*>(NewXPPointer(sizeof(G)));  // a pointer the slot held is overwritten, not freed
  if (!g) {
    platform::AllocationBeep();
    return;
  }
  RememberRecord(g);
  g->signature = kSignatureLoad;
  DoInitAppIdentity(g);
  g->dsOpen = g->dsmOpen = g->sourceSelected = g->dsEnabled = g->dsmBound = 0;
  g->imageHandle = nullptr;
  initCaps(g);
  if (platform::DsmEntryResolved()) {
    g->dsmBound = 1;
    g->sourceIdentity.Id = 0;
  }
  g->signature = kSignatureCool;
  *slot = g;
}

template <typename G>
void ConstructFor(void** slot, HostContext ctx) {
  if constexpr (kWindowsBuild) {
    ConstructWin<G>(slot);
  } else {
    ConstructMac<G>(slot, ctx);
  }
}

// Closes what the record holds and frees it. Closing may talk to the host only through the
// context of the message that does it.
void Release(TwainGlobals* g, HostContext ctx) {
  platform::ForgetWorkers(g);
  ForgetSide(g);
  g->hostParams = ctx;
  if (g->dsmBound && platform::DsmEntryResolved()) {
    DoCloseDS(g);
    DoCloseDSM(g);
  }
  if constexpr (!kWindowsBuild) {
    // The registration is this record's only if it still leads here.
    if (GetVelAtom(kAtomName, ctx) == g) DeleteVelAtom(kAtomName, ctx);
  }
  ForgetSourceChoice(g);
  ForgetOptions(g);
  ForgetRecord(g);
  DisposeXPPointer(g);
}

}  // namespace

void ConstructInstance(void** slot, HostContext ctx) { ConstructFor<TwainGlobals>(slot, ctx); }

void DestructInstance(void** slot, HostContext ctx) {
  TwainGlobals* g = LiveRecord(*slot);
  *slot = nullptr;
  if (!g) return;
  if (Scanning(g)) {
    auto& d = Deferred();
    if (std::find(d.begin(), d.end(), g) == d.end()) d.push_back(g);
    return;
  }
  Release(g, ctx);
}

bool CompleteDeferredDestruction(TwainGlobals* g, HostContext ctx) {
  auto& d = Deferred();
  auto it = std::find(d.begin(), d.end(), g);
  if (it == d.end() || Scanning(g)) return false;
  d.erase(it);
  Release(g, ctx);
  return true;
}
