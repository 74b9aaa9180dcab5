// DSM_Entry: the TWAIN 2 source manager's state machine, per application.
//
// An application is in state 2 until its MSG_OPENDSM, in state 3 after it; each source it
// opened is in state 4 or above as far as the manager knows (the source tracks the rest), back
// to 3 after MSG_CLOSEDS. A triplet outside its state fails with TWCC_SEQERROR. The condition
// code of an application's last failure is what DAT_STATUS (no destination) answers, once;
// DAT_STATUS to an open source goes to the source. Failures of applications the manager does
// not know (not opened yet) are kept in one code of their own.
//
// Sources are found at MSG_OPENDSM: every *.ds below the width's folder is loaded, asked for
// its identity, given an Id (1 and up, in the order of their paths) and unloaded again. A
// source is loaded anew at MSG_OPENDS (a DF_DS2 source first gets DAT_ENTRYPOINT / MSG_SET)
// and unloaded at MSG_CLOSEDS.
//
// DAT_NULL from an open source calls the callback the application registered for it; with
// none, the message waits (one per source, a newer one replacing it) and a WM_NULL is posted
// to the application's window, and the application's next DAT_EVENT / MSG_PROCESSEVENT for that
// source answers TWRC_DSEVENT with the message, without reaching the source.
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "standins/twaindsm/manager.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace twaindsm {

HINSTANCE g_module = nullptr;

namespace {

struct Application {
  TW_IDENTITY identity{};
  HWND window = nullptr;
  TW_UINT16 condition = TWCC_SUCCESS;
  std::vector<Source> sources;
  size_t next = 0;  // MSG_GETNEXT's place
};

// Every call runs under this lock; it is recursive because a source calls back in (DAT_NULL)
// from inside a call the manager made to it, and an application's callback may call in too.
// The triplets the manager only passes on (to a source, to a callback) are made without it, so
// that a source's own thread can send DAT_NULL while the application is inside DS_Entry.
using Lock = std::unique_lock<std::recursive_mutex>;
std::recursive_mutex g_lock;
std::map<TW_UINT32, Application>* g_apps = new std::map<TW_UINT32, Application>;
TW_UINT32 g_nextAppId = 1;
TW_UINT16 g_strangerCondition = TWCC_SUCCESS;  // for origins that are no open application
std::atomic<TW_UINT32> g_callbacksMade{0};     // calls of applications' callbacks, ever

TW_UINT16 Fail(TW_UINT16* condition, TW_UINT16 code) {
  *condition = code;
  return TWRC_FAILURE;
}

Application* FindApp(const TW_IDENTITY* identity) {
  if (!identity) return nullptr;
  auto it = g_apps->find(identity->Id);
  return it == g_apps->end() ? nullptr : &it->second;
}

Source* FindSource(Application& app, TW_UINT32 id) {
  if (id < 1 || id > app.sources.size()) return nullptr;
  return &app.sources[id - 1];
}

bool AnyOpen(const Application& app) {
  for (const Source& s : app.sources)
    if (s.open) return true;
  return false;
}

void FillEntryPoint(TW_ENTRYPOINT* e) {
  e->DSM_Entry = ::DSM_Entry;
  e->DSM_MemAllocate = MemAllocate;
  e->DSM_MemFree = MemFree;
  e->DSM_MemLock = MemLock;
  e->DSM_MemUnlock = MemUnlock;
}

// The source to open: by Id, by product name, or the default.
int DefaultIndex(const Application& app) {
  const std::string kept = DefaultSourcePath();
  for (size_t i = 0; i < app.sources.size(); ++i)
    if (!kept.empty() && lstrcmpiA(kept.c_str(), app.sources[i].path.c_str()) == 0) return static_cast<int>(i);
  return app.sources.empty() ? -1 : 0;
}

TW_UINT16 Parent(const TW_IDENTITY* origin, TW_UINT16 msg, TW_MEMREF data) {
  Application* app = FindApp(origin);
  if (msg == MSG_OPENDSM) {
    if (app) return Fail(&app->condition, TWCC_SEQERROR);
    if (!data) return Fail(&g_strangerCondition, TWCC_BADVALUE);
    auto* identity = const_cast<TW_IDENTITY*>(origin);
    const TW_UINT32 id = g_nextAppId++;
    identity->Id = id;
    if (identity->SupportedGroups & DF_APP2)
      identity->SupportedGroups |= DF_DSM2;
    else
      identity->SupportedGroups &= ~DF_DSM2;
    Application& added = (*g_apps)[id];
    added.identity = *identity;
    added.window = *static_cast<HWND*>(data);
    added.sources = FindSources(added.identity);
    return TWRC_SUCCESS;
  }
  if (msg == MSG_CLOSEDSM) {
    if (!app) return Fail(&g_strangerCondition, TWCC_SEQERROR);
    if (AnyOpen(*app)) return Fail(&app->condition, TWCC_SEQERROR);
    g_apps->erase(app->identity.Id);
    return TWRC_SUCCESS;
  }
  return Fail(app ? &app->condition : &g_strangerCondition, TWCC_BADPROTOCOL);
}

TW_UINT16 OpenSource(Application& app, TW_IDENTITY* wanted) {
  if (!wanted) return Fail(&app.condition, TWCC_BADDEST);
  Source* source = nullptr;
  if (wanted->Id != 0) {
    source = FindSource(app, wanted->Id);
  } else if (wanted->ProductName[0]) {
    for (Source& s : app.sources)
      if (std::strncmp(s.identity.ProductName, wanted->ProductName, sizeof wanted->ProductName) == 0) {
        source = &s;
        break;
      }
  } else {
    const int index = DefaultIndex(app);
    if (index >= 0) source = &app.sources[index];
  }
  if (!source) return Fail(&app.condition, TWCC_NODS);
  // A source this manager still holds (its close was answered otherwise than TWRC_SUCCESS) is
  // asked to open all the same, as the Working Group's manager asks it: the source decides
  // (a source still open refuses a second connection). It stays loaded whatever it answers.
  const bool held = source->open;
  if (!held) source->module = LoadLibraryExA(source->path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  auto entry =
      held ? source->entry
      : source->module
          ? reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(source->module, "DS_Entry")))
          : nullptr;
  auto unload = [&] {
    if (held) return;
    if (source->module) FreeLibrary(source->module);
    source->module = nullptr;
  };
  if (!entry) {
    unload();
    return Fail(&app.condition, TWCC_NODS);
  }
  TW_IDENTITY origin = app.identity;
  if (source->identity.SupportedGroups & DF_DS2) {
    TW_ENTRYPOINT points{};
    points.Size = sizeof points;
    FillEntryPoint(&points);
    if (entry(&origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points) != TWRC_SUCCESS) {
      unload();
      return Fail(&app.condition, TWCC_OPERATIONERROR);
    }
  }
  *wanted = source->identity;
  const TW_UINT16 rc = entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, wanted);
  if (rc != TWRC_SUCCESS) {
    TW_STATUS status{};
    app.condition = entry(&origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS
                        ? status.ConditionCode
                        : TWCC_NODS;
    unload();
    return rc;
  }
  *wanted = source->identity;
  source->entry = entry;
  source->open = true;
  source->callback = nullptr;
  source->refCon = 0;
  source->pending = MSG_NULL;
  return TWRC_SUCCESS;
}

TW_UINT16 CloseSource(Application& app, TW_IDENTITY* which) {
  if (!which) return Fail(&app.condition, TWCC_BADDEST);
  Source* source = FindSource(app, which->Id);
  if (!source) return Fail(&app.condition, TWCC_BADDEST);
  if (!source->open) return Fail(&app.condition, TWCC_SEQERROR);
  TW_IDENTITY origin = app.identity;
  const TW_UINT16 rc = source->entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, which);
  if (rc != TWRC_SUCCESS) {
    app.condition = TWCC_OPERATIONERROR;
    return rc;
  }
  source->open = false;
  source->entry = nullptr;
  source->callback = nullptr;
  source->pending = MSG_NULL;
  FreeLibrary(source->module);
  source->module = nullptr;
  return TWRC_SUCCESS;
}

TW_UINT16 Identity(Application& app, TW_UINT16 msg, TW_IDENTITY* data) {
  switch (msg) {
    case MSG_OPENDS:
      return OpenSource(app, data);
    case MSG_CLOSEDS:
      return CloseSource(app, data);
  }
  if (!data) return Fail(&app.condition, TWCC_BADVALUE);
  switch (msg) {
    case MSG_GETFIRST:
      app.next = 0;
      [[fallthrough]];
    case MSG_GETNEXT:
      if (msg == MSG_GETNEXT && app.next == 0) return Fail(&app.condition, TWCC_SEQERROR);  // no GETFIRST
      if (app.next >= app.sources.size()) {
        app.next = app.sources.size() + 1;
        return TWRC_ENDOFLIST;
      }
      *data = app.sources[app.next++].identity;
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT: {
      const int index = DefaultIndex(app);
      if (index < 0) return Fail(&app.condition, TWCC_NODS);
      *data = app.sources[index].identity;
      return TWRC_SUCCESS;
    }
    case MSG_SET: {
      Source* source = FindSource(app, data->Id);
      if (!source) return Fail(&app.condition, TWCC_NODS);
      if (!SetDefaultSourcePath(source->path)) return Fail(&app.condition, TWCC_BUMMER);
      return TWRC_SUCCESS;
    }
    case MSG_USERSELECT: {
      if (app.sources.empty()) return Fail(&app.condition, TWCC_NODS);
      const int chosen = UserSelect(app.window, app.sources, DefaultIndex(app));
      if (chosen < 0) return TWRC_CANCEL;
      *data = app.sources[chosen].identity;
      if (!SetDefaultSourcePath(app.sources[chosen].path)) app.condition = TWCC_BUMMER;
      return TWRC_SUCCESS;
    }
  }
  return Fail(&app.condition, TWCC_BADPROTOCOL);
}

TW_UINT16 RegisterCallback(Application& app, const TW_IDENTITY* dest, TW_UINT16 dat, TW_UINT16 msg,
                           TW_MEMREF data) {
  if (msg != MSG_REGISTER_CALLBACK) return Fail(&app.condition, TWCC_BADPROTOCOL);
  if (!dest) return Fail(&app.condition, TWCC_BADDEST);
  Source* source = FindSource(app, dest->Id);
  if (!source) return Fail(&app.condition, TWCC_BADDEST);
  if (!source->open) return Fail(&app.condition, TWCC_SEQERROR);
  if (!data) return Fail(&app.condition, TWCC_BADVALUE);
  if (dat == DAT_CALLBACK) {
    const auto* cb = static_cast<const TW_CALLBACK*>(data);
    source->callback = cb->CallBackProc;
    source->refCon = cb->RefCon;
  } else {
    const auto* cb = static_cast<const TW_CALLBACK2*>(data);
    source->callback = cb->CallBackProc;
    source->refCon = cb->RefCon;
  }
  source->pending = MSG_NULL;
  return TWRC_SUCCESS;
}

// DAT_NULL: origin the source, destination the application.
TW_UINT16 FromSource(Lock& hold, const TW_IDENTITY* origin, const TW_IDENTITY* dest, TW_UINT32 dg,
                     TW_UINT16 msg) {
  Application* app = FindApp(dest);
  if (!app || !origin) return Fail(&g_strangerCondition, TWCC_BADPROTOCOL);
  Source* source = FindSource(*app, origin->Id);
  if (!source || !source->open) return Fail(&app->condition, TWCC_SEQERROR);
  if (dg != DG_CONTROL ||
      (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ && msg != MSG_CLOSEDSOK && msg != MSG_DEVICEEVENT))
    return Fail(&app->condition, TWCC_BADPROTOCOL);
  if (source->callback) {
    TW_IDENTITY appIdentity = app->identity;
    TW_IDENTITY sourceIdentity = source->identity;
    auto proc = reinterpret_cast<DSMENTRYPROC>(source->callback);
    const auto refCon = reinterpret_cast<TW_MEMREF>(source->refCon);
    hold.unlock();
    g_callbacksMade.fetch_add(1);
    return proc(&sourceIdentity, &appIdentity, DG_CONTROL, DAT_NULL, msg, refCon);
  }
  source->pending = msg;
  if (app->window) PostMessageA(app->window, WM_NULL, 0, 0);
  return TWRC_SUCCESS;
}

TW_UINT16 ToSource(Lock& hold, Application& app, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                   TW_MEMREF data) {
  Source* source = FindSource(app, dest->Id);
  if (!source) return Fail(&app.condition, TWCC_BADDEST);
  if (!source->open) return Fail(&app.condition, TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT && source->pending != MSG_NULL) {
    if (!data) return Fail(&app.condition, TWCC_BADVALUE);
    static_cast<TW_EVENT*>(data)->TWMessage = source->pending;
    source->pending = MSG_NULL;
    return TWRC_DSEVENT;
  }
  TW_IDENTITY origin = app.identity;
  const DSENTRYPROC entry = source->entry;
  hold.unlock();
  return entry(&origin, dg, dat, msg, data);
}

TW_UINT16 Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                TW_MEMREF data) {
  Lock hold(g_lock);
  if (!origin) return Fail(&g_strangerCondition, TWCC_BADVALUE);
  if (dat == DAT_NULL) return FromSource(hold, origin, dest, dg, msg);
  if (dg == DG_CONTROL && dat == DAT_PARENT) return Parent(origin, msg, data);

  Application* app = FindApp(origin);
  if (!app) {
    if (dg == DG_CONTROL && dat == DAT_STATUS && !dest && msg == MSG_GET && data) {
      *static_cast<TW_STATUS*>(data) = TW_STATUS{g_strangerCondition, 0};
      g_strangerCondition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    return Fail(&g_strangerCondition, dat == DAT_ENTRYPOINT ? TWCC_BADPROTOCOL : TWCC_SEQERROR);
  }
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_ENTRYPOINT: {
        auto* points = static_cast<TW_ENTRYPOINT*>(data);
        if (msg != MSG_GET || !(app->identity.SupportedGroups & DF_APP2) || !points ||
            points->Size != sizeof(TW_ENTRYPOINT))
          return Fail(&app->condition, TWCC_BADPROTOCOL);
        FillEntryPoint(points);
        return TWRC_SUCCESS;
      }
      case DAT_IDENTITY:
        if (!dest || msg == MSG_CLOSEDS) return Identity(*app, msg, static_cast<TW_IDENTITY*>(data));
        break;
      case DAT_STATUS:
        if (dest) {
          const Source* source = FindSource(*app, dest->Id);
          if (source && source->open) break;  // the source's own condition
        }
        if (msg != MSG_GET) return Fail(&app->condition, TWCC_BADPROTOCOL);
        if (!data) return Fail(&app->condition, TWCC_BADVALUE);
        *static_cast<TW_STATUS*>(data) = TW_STATUS{app->condition, 0};
        app->condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      case DAT_CALLBACK:
      case DAT_CALLBACK2:
        return RegisterCallback(*app, dest, dat, msg, data);
    }
  }
  if (!dest) return Fail(&app->condition, TWCC_BADDEST);
  return ToSource(hold, *app, dest, dg, dat, msg, data);
}

}  // namespace
}  // namespace twaindsm

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return twaindsm::Entry(origin, dest, dg, dat, msg, data);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) twaindsm::g_module = instance;
  return TRUE;
}

// The count of calls this manager made to applications' registered callbacks (DAT_NULL of a
// source delivered), since it was loaded.
extern "C" TW_UINT32 TwainDsmStandinCallbacks() { return twaindsm::g_callbacksMade.load(); }
