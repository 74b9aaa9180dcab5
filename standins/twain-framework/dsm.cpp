// The data source manager: per-application DSM states, the source list and the default
// source, the selection dialog's scripted user, forwarding to open sources, and the
// delivery of a source's DAT_NULL messages through the application's callback.
// DSM_Entry is re-entered from inside sources and callbacks, so nothing here holds a
// reference into a container across a call out; connections and sources are kept alive by
// shared pointers while a call that uses them runs.
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "TWAIN/TWAINFramework.h"
#include "TWAIN/TWAINFrameworkStandin.h"
#include "standins/twain-framework/sources.h"

namespace {

using twainfw::Source;

struct App {
  TW_UINT32 id;
  TW_UINT16 cc = TWCC_SUCCESS;
  size_t cursor = 0;
};

struct Connection {
  TW_UINT32 app;
  std::shared_ptr<Source> source;
  bool open = true;
  bool hasCallback = false;
  TW_CALLBACK callback{};
  std::deque<TW_UINT16> pending;
  bool injectedStatus = false;
  TW_UINT16 injectedCC = TWCC_SUCCESS;
};

struct Injection {
  bool armed = false;
  TW_UINT32 DG = 0;
  TW_UINT16 DAT = 0, MSG = 0, rc = 0, cc = 0;
};

std::map<TW_UINT32, App> gApps;
std::vector<std::shared_ptr<Source>> gSources;
std::vector<std::shared_ptr<Connection>> gConnections;
std::string gDefaultName;  // set by a selection; empty: the first source
TW_UINT32 gNextId = 1;
TW_UINT16 gUnknownCC = TWCC_SUCCESS;  // condition of calls from applications without the DSM open
int gUser = -2;
int gDialogs = 0;
std::vector<TWAINFrameworkCall> gLog;
Injection gNext;
int gFailK = 0;
TW_UINT16 gFailKrc = 0, gFailKcc = 0;
int gAnswerK = 0;  // the k-th call from now is performed, and a success answers gAnswerRc
TW_UINT16 gAnswerRc = 0;
bool gFailStatus = false;
long gSourceMessages = 0, gCallbacks = 0;
int gDepth = 0;

TW_UINT32 NextId() { return gNextId++; }

std::string Name(const TW_IDENTITY& id) {
  return std::string(id.ProductName + 1, static_cast<unsigned char>(id.ProductName[0]) > 33
                                             ? 33
                                             : static_cast<unsigned char>(id.ProductName[0]));
}

App* FindApp(pTW_IDENTITY origin) {
  auto it = gApps.find(origin->Id);
  return it == gApps.end() ? nullptr : &it->second;
}

std::shared_ptr<Source> SourceById(TW_UINT32 id) {
  for (auto& s : gSources)
    if (s->identity.Id == id) return s;
  return nullptr;
}

std::shared_ptr<Source> DefaultSource() {
  for (auto& s : gSources)
    if (!gDefaultName.empty() && Name(s->identity) == gDefaultName) return s;
  return gSources.empty() ? nullptr : gSources.front();
}

std::shared_ptr<Connection> FindConnection(TW_UINT32 app, TW_UINT32 sourceId) {
  for (auto& c : gConnections)
    if (c->open && c->app == app && c->source->identity.Id == sourceId) return c;
  return nullptr;
}

int OpenConnections(TW_UINT32 app) {
  int n = 0;
  for (auto& c : gConnections)
    if (c->open && c->app == app) ++n;
  return n;
}

bool Matches(TW_UINT32 want, TW_UINT32 have) {
  return want == TWAINFramework_Any || want == 0xFFFFFFFF || want == have;
}

// DSM-level answers: record the condition and return the code.
TW_UINT16 Result(App* app, TW_UINT16 rc, TW_UINT16 cc) {
  (app ? app->cc : gUnknownCC) = cc;
  return rc;
}

void UnloadIfIdle() {
  if (!gApps.empty()) return;
  for (auto& s : gSources) twainfw::Unload(s);
  gSources.clear();
  gConnections.clear();
}

TW_UINT16 OpenDS(App* app, pTW_IDENTITY origin, pTW_IDENTITY id) {
  if (gSources.empty()) return Result(app, TWRC_FAILURE, TWCC_NODS);
  std::shared_ptr<Source> s;
  if (id->Id != 0) s = SourceById(id->Id);
  if (!s && id->ProductName[0] == 0) s = DefaultSource();
  if (!s)
    for (auto& candidate : gSources)
      if (Name(candidate->identity) == Name(*id)) s = candidate;
  if (!s) return Result(app, TWRC_FAILURE, TWCC_NODS);
  for (auto& c : gConnections)
    if (c->open && c->source == s) return Result(app, TWRC_FAILURE, TWCC_MAXCONNECTIONS);
  *id = s->identity;
  TW_UINT32 appId = app->id;
  TW_UINT16 rc = s->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, id);
  app = &gApps[appId];
  if (rc != TWRC_SUCCESS) {
    TW_STATUS status{};
    s->entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return Result(&gApps[appId], rc, status.ConditionCode ? status.ConditionCode : TWCC_BUMMER);
  }
  auto c = std::make_shared<Connection>();
  c->app = appId;
  c->source = s;
  gConnections.push_back(c);
  return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
}

TW_UINT16 CloseDS(App* app, pTW_IDENTITY origin, pTW_IDENTITY id) {
  std::shared_ptr<Connection> c = FindConnection(app->id, id->Id);
  if (!c) return Result(app, TWRC_FAILURE, TWCC_SEQERROR);
  TW_UINT32 appId = app->id;
  TW_UINT16 rc = c->source->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, id);
  if (rc == TWRC_SUCCESS) c->open = false;
  auto it = gApps.find(appId);
  return Result(it == gApps.end() ? nullptr : &it->second, rc, TWCC_SUCCESS);
}

TW_UINT16 Identity(App* app, pTW_IDENTITY origin, TW_UINT16 MSG, pTW_IDENTITY id) {
  switch (MSG) {
    case MSG_GETDEFAULT: {
      auto s = DefaultSource();
      if (!s) return Result(app, TWRC_FAILURE, TWCC_NODS);
      *id = s->identity;
      return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
    }
    case MSG_GETFIRST:
      app->cursor = 0;
      // fall through
    case MSG_GETNEXT:
      if (app->cursor >= gSources.size()) return Result(app, TWRC_ENDOFLIST, TWCC_SUCCESS);
      *id = gSources[app->cursor++]->identity;
      return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
    case MSG_USERSELECT: {
      if (gSources.empty()) return Result(app, TWRC_FAILURE, TWCC_NODS);
      ++gDialogs;
      std::shared_ptr<Source> chosen;
      if (gUser == -2)
        chosen = DefaultSource();
      else if (gUser >= 0 && gUser < static_cast<int>(gSources.size()))
        chosen = gSources[gUser];
      if (!chosen) return Result(app, TWRC_CANCEL, TWCC_SUCCESS);
      *id = chosen->identity;
      gDefaultName = Name(chosen->identity);
      return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
    }
    case MSG_OPENDS:
      return OpenDS(app, origin, id);
    case MSG_CLOSEDS:
      return CloseDS(app, origin, id);
    default:
      return Result(app, TWRC_FAILURE, TWCC_BADPROTOCOL);
  }
}

// A call to the DSM itself.
TW_UINT16 ToDSM(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data) {
  App* app = FindApp(origin);
  if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
    if (!data) return TWRC_FAILURE;
    // Reading the condition clears it, as a real DSM does: a second read answers success.
    TW_UINT16& cc = app ? app->cc : gUnknownCC;
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = cc;
    status->Reserved = 0;
    cc = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (DG == DG_CONTROL && DAT == DAT_PARENT && MSG == MSG_OPENDSM) {
    if (app) return Result(app, TWRC_FAILURE, TWCC_SEQERROR);
    bool first = gApps.empty();
    origin->Id = NextId();
    App& fresh = gApps[origin->Id];
    fresh.id = origin->Id;
    if (first) gSources = twainfw::LoadAll(origin, NextId);
    return Result(&gApps[origin->Id], TWRC_SUCCESS, TWCC_SUCCESS);
  }
  if (!app) return Result(nullptr, TWRC_FAILURE, TWCC_SEQERROR);
  if (DG != DG_CONTROL) return Result(app, TWRC_FAILURE, TWCC_BADPROTOCOL);
  switch (DAT) {
    case DAT_PARENT:
      if (MSG != MSG_CLOSEDSM) return Result(app, TWRC_FAILURE, TWCC_BADPROTOCOL);
      if (OpenConnections(app->id)) return Result(app, TWRC_FAILURE, TWCC_SEQERROR);
      gApps.erase(origin->Id);
      gUnknownCC = TWCC_SUCCESS;
      UnloadIfIdle();
      return TWRC_SUCCESS;
    case DAT_IDENTITY:
      if (!data) return Result(app, TWRC_FAILURE, TWCC_BADVALUE);
      return Identity(app, origin, MSG, static_cast<pTW_IDENTITY>(data));
    case DAT_CALLBACK: {
      if (MSG != MSG_REGISTER_CALLBACK) return Result(app, TWRC_FAILURE, TWCC_BADPROTOCOL);
      if (!data) return Result(app, TWRC_FAILURE, TWCC_BADVALUE);
      if (!OpenConnections(app->id)) return Result(app, TWRC_FAILURE, TWCC_SEQERROR);
      for (auto& c : gConnections)
        if (c->open && c->app == app->id) {
          c->callback = *static_cast<TW_CALLBACK*>(data);
          c->hasCallback = true;
        }
      return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
    }
    default:
      return Result(app, TWRC_FAILURE, TWCC_BADPROTOCOL);
  }
}

// A call addressed to a source.
TW_UINT16 ToSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                   TW_MEMREF data) {
  App* app = FindApp(origin);
  if (!app) return Result(nullptr, TWRC_FAILURE, TWCC_SEQERROR);
  std::shared_ptr<Connection> c = FindConnection(app->id, dest->Id);
  if (!c) return Result(app, TWRC_FAILURE, TWCC_BADDEST);
  if (DG == DG_CONTROL && DAT == DAT_STATUS && c->injectedStatus) {
    if (!data) return TWRC_FAILURE;
    c->injectedStatus = false;
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = c->injectedCC;
    status->Reserved = 0;
    return TWRC_SUCCESS;
  }
  if (DG == DG_CONTROL && DAT == DAT_CALLBACK && MSG == MSG_REGISTER_CALLBACK) {
    if (!data) return Result(app, TWRC_FAILURE, TWCC_BADVALUE);
    c->callback = *static_cast<TW_CALLBACK*>(data);
    c->hasCallback = true;
    return Result(app, TWRC_SUCCESS, TWCC_SUCCESS);
  }
  TW_UINT16 rc = c->source->entry(origin, DG, DAT, MSG, data);
  if (DG == DG_CONTROL && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT && rc == TWRC_NOTDSEVENT && data &&
      c->open && !c->pending.empty()) {
    static_cast<TW_EVENT*>(data)->TWMessage = c->pending.front();
    c->pending.pop_front();
    rc = TWRC_DSEVENT;
  }
  return rc;
}

// A source's DAT_NULL message to its application.
TW_UINT16 FromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 MSG) {
  std::shared_ptr<Connection> c = FindConnection(dest->Id, origin->Id);
  if (!c) return TWRC_FAILURE;
  ++gSourceMessages;
  if (MSG != MSG_XFERREADY && MSG != MSG_CLOSEDSREQ && MSG != MSG_CLOSEDSOK && MSG != MSG_DEVICEEVENT)
    return TWRC_FAILURE;
  if (!c->hasCallback) {
    c->pending.push_back(MSG);
    return TWRC_SUCCESS;
  }
  ++gCallbacks;
  auto proc = reinterpret_cast<TWAINCallbackProc>(c->callback.CallBackProc);
  if (proc) proc(origin, dest, DG_CONTROL, DAT_NULL, MSG, &c->callback);
  return TWRC_SUCCESS;
}

// Whether this application call was chosen to fail; fills rc and records the condition.
bool Injected(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
              TW_UINT16* rc) {
  if (gFailStatus && DG == DG_CONTROL && DAT == DAT_STATUS) {
    *rc = TWRC_FAILURE;
    return true;
  }
  TW_UINT16 cc;
  if (gFailK > 0 && --gFailK == 0) {
    *rc = gFailKrc;
    cc = gFailKcc;
  } else if (gNext.armed && Matches(gNext.DG, DG) && Matches(gNext.DAT, DAT) && Matches(gNext.MSG, MSG)) {
    gNext.armed = false;
    *rc = gNext.rc;
    cc = gNext.cc;
  } else {
    return false;
  }
  App* app = FindApp(origin);
  std::shared_ptr<Connection> c = dest && app ? FindConnection(app->id, dest->Id) : nullptr;
  if (c) {
    c->injectedStatus = true;
    c->injectedCC = cc;
  } else {
    Result(app, *rc, cc);
  }
  return true;
}

}  // namespace

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData) {
  if (!pOrigin) return TWRC_FAILURE;
  if (pDest && DG == DG_CONTROL && DAT == DAT_NULL && SourceById(pOrigin->Id))
    return FromSource(pOrigin, pDest, MSG);

  ++gDepth;
  size_t entry = gLog.size();
  gLog.push_back({pOrigin->Id, pDest ? pDest->Id : 0, DG, DAT, MSG, 0, 0});
  TW_UINT16 rc;
  bool answer = gAnswerK > 0 && --gAnswerK == 0;
  if (!Injected(pOrigin, pDest, DG, DAT, MSG, &rc))
    rc = pDest ? ToSource(pOrigin, pDest, DG, DAT, MSG, pData) : ToDSM(pOrigin, DG, DAT, MSG, pData);
  if (answer && rc == TWRC_SUCCESS) rc = gAnswerRc;
  if (entry < gLog.size()) {
    gLog[entry].rc = rc;
    if (!pDest) {
      App* app = FindApp(pOrigin);
      gLog[entry].cc = app ? app->cc : gUnknownCC;
    }
  }
  if (--gDepth == 0) twainfw::CloseUnloadedLibraries();
  return rc;
}

extern "C" {

void TWAINFramework_RegisterSource(DSENTRYPROC entry) { twainfw::Register(entry); }
void TWAINFramework_SetSourceFolder(const char* path) { twainfw::SetFolder(path); }
const char* TWAINFramework_SourceFolder(void) { return twainfw::Folder(); }
void TWAINFramework_SetSelectionUser(int choice) { gUser = choice; }
int TWAINFramework_SelectionDialogs(void) { return gDialogs; }

int TWAINFramework_CallCount(void) { return static_cast<int>(gLog.size()); }
const TWAINFrameworkCall* TWAINFramework_Call(int index) {
  return index >= 0 && index < static_cast<int>(gLog.size()) ? &gLog[index] : nullptr;
}
int TWAINFramework_CountCalls(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG) {
  int n = 0;
  for (auto& call : gLog)
    if (Matches(DG, call.DG) && Matches(DAT, call.DAT) && Matches(MSG, call.MSG)) ++n;
  return n;
}
void TWAINFramework_ClearLog(void) { gLog.clear(); }

void TWAINFramework_FailNext(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_UINT16 rc, TW_UINT16 cc) {
  gNext = Injection{true, DG, DAT, MSG, rc, cc};
}
void TWAINFramework_FailCall(int k, TW_UINT16 rc, TW_UINT16 cc) {
  gFailK = k < 0 ? 0 : k;
  gFailKrc = rc;
  gFailKcc = cc;
}
void TWAINFramework_FailStatus(bool on) { gFailStatus = on; }
void TWAINFramework_AnswerCall(int k, TW_UINT16 rc) {
  gAnswerK = k < 0 ? 0 : k;
  gAnswerRc = rc;
}

int TWAINFramework_LoadedSources(void) { return static_cast<int>(gSources.size()); }
int TWAINFramework_OpenSources(void) {
  int n = 0;
  for (auto& c : gConnections)
    if (c->open) ++n;
  return n;
}
int TWAINFramework_OpenApplications(void) { return static_cast<int>(gApps.size()); }
long TWAINFramework_SourceMessages(void) { return gSourceMessages; }
long TWAINFramework_CallbacksDelivered(void) { return gCallbacks; }

void TWAINFramework_Reset(void) {
  std::vector<std::shared_ptr<Connection>> open;
  for (auto& c : gConnections)
    if (c->open) open.push_back(c);
  for (auto& c : open) {
    auto it = gApps.find(c->app);
    TW_IDENTITY app{};
    if (it != gApps.end()) app.Id = it->first;
    TW_USERINTERFACE ui{};
    TW_IDENTITY id = c->source->identity;
    c->source->entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    c->source->entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id);
    c->open = false;
  }
  gApps.clear();
  UnloadIfIdle();
  if (gDepth == 0) twainfw::CloseUnloadedLibraries();
  twainfw::ForgetRegistrations();
  twainfw::SetFolder(nullptr);
  gDefaultName.clear();
  gUnknownCC = TWCC_SUCCESS;
  gUser = -2;
  gDialogs = 0;
  gLog.clear();
  gNext = Injection{};
  gFailK = 0;
  gAnswerK = 0;
  gFailStatus = false;
  gSourceMessages = gCallbacks = 0;
}

}  // extern "C"
