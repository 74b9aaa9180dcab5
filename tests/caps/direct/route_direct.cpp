// The direct route: no DSM and no source. This file stands in for CallDSM, xlateErr,
// DoOpenDSM and DoOpenDS, answers MSG_GET from the scripted containers (allocated as the
// platform's own handles) and records what MSG_SET carried. It lets the capability routines
// and their tests run, under the sanitizers too, without the DSM of either build; link it
// with caps/*.cpp, host/host_kit.cpp and the platform's host services and memory.
#include <deque>
#include <map>

#include "host/host_kit.h"
#include "tests/caps/cap_fixture.h"
#include "twain/connection.h"
#include "twain/dsm.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
#else
#include <Carbon/Carbon.h>
#include <CarbonStandin.h>
#endif

namespace capstest {
namespace {

struct ScriptedSet {
  TW_UINT16 rc, cc;
};

class DirectRoute : public CapRoute {
 public:
  static DirectRoute* active;
  DirectRoute() { active = this; }
  ~DirectRoute() override {
    if (active == this) active = nullptr;
  }
  const char* Name() const override { return "direct"; }
  bool Open(TwainGlobals* g) override {
    g->dsmOpen = g->dsOpen = 1;
    return true;
  }
  void Close(TwainGlobals* g) override { g->dsmOpen = g->dsOpen = 0; }
  void ScriptGet(TW_UINT16 cap, const Answer& a) override { gets_[cap].push_back(a); }
  void ScriptSet(TW_UINT16 cap, TW_UINT16 rc, TW_UINT16 cc) override { sets_[cap].push_back({rc, cc}); }
  SentSet LastSet(TW_UINT16 cap) override { return sent_[cap]; }
  void Forget() override { sent_.clear(); }
  void Clear() override {
    gets_.clear();
    sets_.clear();
  }
  long LiveContainers() override {
#if KV_WINDOWS_BUILD
    return -1;
#else
    return CarbonStandin_LiveHandles();
#endif
  }

  TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (msg == MSG_GET) {
      auto& q = gets_[cap->Cap];
      if (q.empty()) return Fail(TWCC_CAPUNSUPPORTED);
      Answer a = q.front();
      q.pop_front();
      if (a.rc != TWRC_SUCCESS) {
        cc_ = a.cc;
        return a.rc;
      }
      cap->ConType = a.conType;
      cap->hContainer = a.container ? Alloc(a.bytes) : nullptr;
      return TWRC_SUCCESS;
    }
    if (msg == MSG_SET) {
      SentSet s;
      s.sent = true;
      s.conType = cap->ConType;
      uint8_t* p = static_cast<uint8_t*>(LockXPHandle(cap->hContainer));
      s.bytes.assign(p, p + GetXPHandleSize(cap->hContainer));
      UnlockXPHandle(cap->hContainer);
      sent_[cap->Cap] = s;
      auto& q = sets_[cap->Cap];
      if (q.empty()) return TWRC_SUCCESS;
      ScriptedSet r = q.front();
      q.pop_front();
      cc_ = r.cc;
      return r.rc;
    }
    return Fail(TWCC_BADPROTOCOL);
  }
  TW_UINT16 cc_ = 0;

 private:
  TW_UINT16 Fail(TW_UINT16 cc) {
    cc_ = cc;
    return TWRC_FAILURE;
  }
  static TW_HANDLE Alloc(const Bytes& b) {
#if KV_WINDOWS_BUILD
    HGLOBAL h = GlobalAlloc(GHND, b.size());
    void* p = GlobalLock(h);
    if (!b.empty()) memcpy(p, b.data(), b.size());
    GlobalUnlock(h);
    return h;
#else
    Handle h = NewHandleClear(static_cast<Size>(b.size()));
    if (!b.empty()) memcpy(*h, b.data(), b.size());
    return h;
#endif
  }
  std::map<TW_UINT16, std::deque<Answer>> gets_;
  std::map<TW_UINT16, std::deque<ScriptedSet>> sets_;
  std::map<TW_UINT16, SentSet> sent_;
};
DirectRoute* DirectRoute::active = nullptr;

}  // namespace

std::unique_ptr<CapRoute> CapRoute::Make() { return std::unique_ptr<CapRoute>(new DirectRoute); }

}  // namespace capstest

using capstest::DirectRoute;

TW_UINT16 CallDSM(TwainGlobals*, TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  DirectRoute* r = DirectRoute::active;
  if (r && dg == DG_CONTROL && dat == DAT_CAPABILITY) return r->Capability(msg, static_cast<TW_CAPABILITY*>(data));
  if (r && dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
    static_cast<TW_STATUS*>(data)->ConditionCode = r->cc_;
    return TWRC_SUCCESS;
  }
  return TWRC_FAILURE;
}

int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc) {
  if (rc == TWRC_SUCCESS) return 0;
  if (rc == TWRC_CANCEL) return 5;
  if (rc != TWRC_FAILURE) return static_cast<int16_t>(2000 + rc);
  TW_STATUS status{};
  TW_UINT16 s = CallDSM(g, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  if (s != TWRC_SUCCESS) return static_cast<int16_t>(s);
  switch (status.ConditionCode) {
    case TWCC_SUCCESS: return 0;
    case TWCC_OPERATIONERROR: return 13;
    case TWCC_BADCAP: case TWCC_CAPUNSUPPORTED: return 9;
    case TWCC_BADVALUE: return 10;
    case TWCC_SEQERROR: return 14;
    case TWCC_BADDEST: case TWCC_CAPBADOPERATION: case TWCC_CAPSEQERROR: return 11;
    default: return static_cast<int16_t>(3000 + status.ConditionCode);
  }
}

int16_t DoOpenDSM(TwainGlobals* g) { return g->dsmOpen ? 0 : 13; }
int16_t DoOpenDS(TwainGlobals* g) { return g->dsOpen ? 0 : 13; }
