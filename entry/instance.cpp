// Construction and destruction of the instance record.
//
// Every record this process made and has not freed is kept in a list, so that a slot is
// checked before its record is touched: a slot left pointing at a freed record (the Mac's
// shared record after another instance destroyed it) or at garbage behaves as an empty slot.
#include <algorithm>
#include <cstring>
#include <vector>

#include "acquire/scan_session.h"
#include "caps/cap_table.h"
#include "entry/entry.h"
#include "host/host_kit.h"
#include "platform/platform_ops.h"
#include "twain/connection.h"

namespace {

std::vector<TwainGlobals*>& LiveRecords() {
  static std::vector<TwainGlobals*> records;  // in order of construction
  return records;
}

void Remember(TwainGlobals* g) { LiveRecords().push_back(g); }

void Forget(TwainGlobals* g) {
  auto& v = LiveRecords();
  v.erase(std::remove(v.begin(), v.end(), g), v.end());
  // The Windows window procedure works on the current instance; once that record is gone the
  // most recently constructed record still alive takes its place.
  if (platform::CurrentInstance() == g) {
    platform::ForgetInstance(g);
    if (!v.empty()) platform::SetCurrentInstance(v.back());
  }
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
  initCaps(g);
  g->dsmBound = 1;
  g->sourceIdentity.Id = 0;
  g->signature = kSignatureCool;
  *slot = g;
}

template <typename G>
void ConstructMac(G*, void** slot, HostContext ctx) {
  if (*slot) {
    G* g = LiveRecord(*slot);
    if (g) {
      if (g->signature == kSignatureCool) SetUpMacRecord(g, slot);
      return;
    }
    // The slot's record is gone: construct as for an empty slot.
  }
  if (G* registered = static_cast<G*>(GetVelAtom(kAtomName, ctx))) {
    if (registered->signature == kSignatureCool) {
      // A record that an earlier load of the bundle made and registered is adopted too: the
      // atom outlives the code that set it, and the record would be lost otherwise.
      if (!LiveRecord(registered)) Remember(registered);
      registered->signature = kSignatureLoad;
      SetUpMacRecord(registered, slot);
      return;
    }
    DeleteVelAtom(kAtomName, ctx);
  }
  G* g = static_cast<G*>(NewXPPointer(sizeof(G)));
  if (!g) {
    platform::AllocationBeep();
    return;
  }
  Remember(g);
  std::strcpy(g->atomName, kAtomName);
  initGlobals(g);
  SetVelAtom(g->atomName, g, ctx);
  g->signature = kSignatureLoad;
  SetUpMacRecord(g, slot);
}

template <typename G>
void ConstructWin(G*, void** slot, HostContext) {
  if (G* existing = LiveRecord(*slot); existing && existing->signature == kSignatureCool) return;
  G* g = static_cast<G*>(NewXPPointer(sizeof(G)));  // a pointer the slot held is overwritten, not freed
  if (!g) {
    platform::AllocationBeep();
    return;
  }
  Remember(g);
  g->signature = kSignatureLoad;
  DoInitAppIdentity(g);
  platform::SetCurrentInstance(g);
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
void ConstructFor(G* none, void** slot, HostContext ctx) {
  if constexpr (std::is_same_v<G, TwainGlobalsWin>) {
    ConstructWin(none, slot, ctx);
  } else {
    ConstructMac(none, slot, ctx);
  }
}

}  // namespace

TwainGlobals* LiveRecord(void* slotValue) {
  if (!slotValue) return nullptr;
  auto& v = LiveRecords();
  auto it = std::find(v.begin(), v.end(), static_cast<TwainGlobals*>(slotValue));
  return it == v.end() ? nullptr : *it;
}

bool AnotherRecordHoldsDsm(const TwainGlobals* g) {
  for (const TwainGlobals* r : LiveRecords())
    if (r != g && r->dsmOpen) return true;
  return false;
}

void ConstructInstance(void** slot, HostContext ctx) {
  ConstructFor(static_cast<TwainGlobals*>(nullptr), slot, ctx);
}

void DestructInstance(void** slot, HostContext ctx) {
  TwainGlobals* g = LiveRecord(*slot);
  if (!g) {
    *slot = nullptr;
    return;
  }
  // A record whose scan is still waiting (the host destroyed the instance from its event loop)
  // stays alive: freeing it would pull it from under the scan.
  if (RunningScanOf(g)) return;
  // Closing may talk to the host only through this call's context.
  g->hostParams = ctx;
  if (g->dsmBound && platform::DsmEntryResolved()) {
    DoCloseDS(g);
    DoCloseDSM(g);
  }
  if constexpr (!kWindowsBuild) {
    if (GetVelAtom(kAtomName, ctx)) DeleteVelAtom(kAtomName, ctx);
  }
  Forget(g);
  DisposeXPPointer(g);
  *slot = nullptr;
}
