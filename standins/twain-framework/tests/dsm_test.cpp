#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "TWAIN/TWAINFramework.h"
#include "TWAIN/TWAINFrameworkStandin.h"

namespace {

void SetName(TW_STR32 field, const char* s) {
  size_t n = std::strlen(s);
  std::memset(field, 0, sizeof(TW_STR32));
  field[0] = static_cast<char>(n);
  std::memcpy(field + 1, s, n);
}
std::string NameOf(const TW_IDENTITY& id) {
  return std::string(id.ProductName + 1, static_cast<unsigned char>(id.ProductName[0]));
}

// A scriptable in-process source. Each instance answers through its own DS_Entry.
struct Fake {
  const char* name = "";
  TW_IDENTITY self{};
  pTW_IDENTITY app = nullptr;
  bool open = false, enabled = false, inEnable = false;
  int opens = 0, calls = 0;
  TW_UINT16 cc = TWCC_SUCCESS;
  TW_UINT16 openRc = TWRC_SUCCESS, openCC = TWCC_SUCCESS;
  TW_UINT16 failDAT = 0xFFFF;  // a DAT this source refuses, with failCC
  TW_UINT16 failCC = TWCC_BUMMER;
  TW_UINT16 messageOnEnable = 0;  // sent to the application from inside MSG_ENABLEDS
  TW_UINT16 messageRc = 0;

  TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data) {
    ++calls;
    if (DAT == DAT_STATUS) {
      static_cast<TW_STATUS*>(data)->ConditionCode = cc;
      cc = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    if (DAT == failDAT) return Fail(failCC);
    if (DAT == DAT_IDENTITY && MSG == MSG_GET) {
      SetName(static_cast<pTW_IDENTITY>(data)->ProductName, name);
      return TWRC_SUCCESS;
    }
    if (DAT == DAT_IDENTITY && MSG == MSG_OPENDS) {
      ++opens;
      if (openRc != TWRC_SUCCESS) return Fail(openCC, openRc);
      self = *static_cast<pTW_IDENTITY>(data);
      app = origin;
      open = true;
      return TWRC_SUCCESS;
    }
    if (DAT == DAT_IDENTITY && MSG == MSG_CLOSEDS) {
      if (enabled) return Fail(TWCC_SEQERROR);
      open = false;
      return TWRC_SUCCESS;
    }
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS) {
      enabled = true;
      if (messageOnEnable) {
        inEnable = true;
        messageRc = DSM_Entry(&self, app, DG_CONTROL, DAT_NULL, messageOnEnable, nullptr);
        inEnable = false;
      }
      return TWRC_SUCCESS;
    }
    if (DAT == DAT_USERINTERFACE && MSG == MSG_DISABLEDS) {
      enabled = false;
      return TWRC_SUCCESS;
    }
    if (DAT == DAT_EVENT) return TWRC_NOTDSEVENT;
    return TWRC_SUCCESS;
  }
  TW_UINT16 Fail(TW_UINT16 condition, TW_UINT16 rc = TWRC_FAILURE) {
    cc = condition;
    return rc;
  }
};

Fake gFake[2];
TW_UINT16 EntryA(pTW_IDENTITY o, TW_UINT32 g, TW_UINT16 d, TW_UINT16 m, TW_MEMREF p) {
  return gFake[0].Entry(o, g, d, m, p);
}
TW_UINT16 EntryB(pTW_IDENTITY o, TW_UINT32 g, TW_UINT16 d, TW_UINT16 m, TW_MEMREF p) {
  return gFake[1].Entry(o, g, d, m, p);
}

class Dsm : public ::testing::Test {
 protected:
  void SetUp() override {
    TWAINFramework_Reset();
    TWAINFramework_SetSourceFolder("");
    gFake[0] = Fake();
    gFake[0].name = "Fake A";
    gFake[1] = Fake();
    gFake[1].name = "Fake B";
    TWAINFramework_RegisterSource(EntryA);
    TWAINFramework_RegisterSource(EntryB);
    SetName(app_.ProductName, "Test App");
  }
  void TearDown() override { TWAINFramework_Reset(); }

  TW_UINT16 Dsm_(TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data) {
    return DSM_Entry(&app_, nullptr, DG_CONTROL, DAT, MSG, data);
  }
  TW_UINT16 Src(TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data, pTW_IDENTITY dest = nullptr) {
    return DSM_Entry(&app_, dest ? dest : &src_, DG_CONTROL, DAT, MSG, data);
  }
  TW_UINT16 DsmStatus() {
    TW_STATUS s{};
    EXPECT_EQ(Dsm_(DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
    return s.ConditionCode;
  }
  TW_UINT16 SrcStatus() {
    TW_STATUS s{};
    EXPECT_EQ(Src(DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
    return s.ConditionCode;
  }
  void OpenDefault() {
    ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    src_ = TW_IDENTITY{};
    ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
  }
  TW_IDENTITY app_{};
  TW_IDENTITY src_{};
};

TEST_F(Dsm, StatesAndSequenceErrors) {
  TW_IDENTITY id{};
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);  // DSM not open yet
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 0);

  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  EXPECT_NE(app_.Id, 0u);
  EXPECT_EQ(DsmStatus(), TWCC_SUCCESS);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 2);
  EXPECT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);

  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
  EXPECT_EQ(Dsm_(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);  // a source is open
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_CLOSEDS, &src_), TWRC_SUCCESS);
  EXPECT_FALSE(gFake[0].open);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_CLOSEDS, &src_), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 0);
  EXPECT_EQ(Dsm_(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);
  EXPECT_EQ(DSM_Entry(&app_, nullptr, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &id), TWRC_FAILURE);
}

TEST_F(Dsm, DefaultSourceListAndOpeningByName) {
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY id{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake A");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake A");
  TW_UINT32 firstId = id.Id;
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake B");
  EXPECT_NE(id.Id, firstId);
  EXPECT_NE(id.Id, app_.Id);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_ENDOFLIST);

  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);  // empty name, Id 0: the default
  EXPECT_EQ(NameOf(src_), "Fake A");
  EXPECT_EQ(src_.Id, firstId);
  EXPECT_EQ(gFake[0].self.Id, firstId);  // the source saw its filled identity
  TW_IDENTITY again{};
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &again), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_MAXCONNECTIONS);

  TW_IDENTITY byName{};
  SetName(byName.ProductName, "Fake B");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &byName), TWRC_SUCCESS);
  EXPECT_TRUE(gFake[1].open);
  TW_IDENTITY unknown{};
  SetName(unknown.ProductName, "Nobody");
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &unknown), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_NODS);
  EXPECT_EQ(TWAINFramework_OpenSources(), 2);
}

// The list stays at its end (TWRC_ENDOFLIST, condition success) until MSG_GETFIRST starts it
// again; each application walks it with a cursor of its own.
TEST_F(Dsm, TheListEndsAndStartsAgainPerApplication) {
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY other{};
  SetName(other.ProductName, "Other App");
  ASSERT_EQ(DSM_Entry(&other, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY id{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
  TW_IDENTITY untouched = id;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_ENDOFLIST);
    EXPECT_EQ(DsmStatus(), TWCC_SUCCESS);
    EXPECT_EQ(std::memcmp(&id, &untouched, sizeof id), 0) << "the identity is left alone at the end";
  }
  TW_IDENTITY theirs{};
  ASSERT_EQ(DSM_Entry(&other, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &theirs), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(theirs), "Fake A");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake A");
  ASSERT_EQ(DSM_Entry(&other, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &theirs), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(theirs), "Fake B");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake B") << "another application's walk moved this one's";
  ASSERT_EQ(DSM_Entry(&other, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

TEST_F(Dsm, NoSourcesAtAll) {
  TWAINFramework_Reset();
  TWAINFramework_SetSourceFolder("");
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY id{};
  for (TW_UINT16 msg : {MSG_GETDEFAULT, MSG_USERSELECT, MSG_OPENDS}) {
    EXPECT_EQ(Dsm_(DAT_IDENTITY, msg, &id), TWRC_FAILURE) << msg;
    EXPECT_EQ(DsmStatus(), TWCC_NODS);
  }
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_ENDOFLIST);
  EXPECT_EQ(TWAINFramework_SelectionDialogs(), 0);
}

TEST_F(Dsm, SelectionUserPicksCancelsAndSetsTheDefault) {
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY id{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_SUCCESS);  // OK on the default
  EXPECT_EQ(NameOf(id), "Fake A");
  TWAINFramework_SetSelectionUser(-1);
  TW_IDENTITY untouched{};
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_USERSELECT, &untouched), TWRC_CANCEL);
  EXPECT_EQ(untouched.Id, 0u);
  TWAINFramework_SetSelectionUser(7);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_USERSELECT, &untouched), TWRC_CANCEL);
  TWAINFramework_SetSelectionUser(1);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "Fake B");
  EXPECT_NE(id.Id, 0u);
  EXPECT_EQ(TWAINFramework_SelectionDialogs(), 4);
  TW_IDENTITY def{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(def), "Fake B");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
  EXPECT_TRUE(gFake[1].open);
}

TEST_F(Dsm, StatusComesFromTheDsmOrFromTheSource) {
  gFake[0].failDAT = DAT_PENDINGXFERS;
  gFake[0].failCC = TWCC_OPERATIONERROR;
  OpenDefault();
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(Src(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_SUCCESS);  // the DSM's own last call went well
  EXPECT_EQ(SrcStatus(), TWCC_OPERATIONERROR);

  TW_IDENTITY other{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &other), TWRC_SUCCESS);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &other), TWRC_SUCCESS);
  ASSERT_EQ(NameOf(other), "Fake B");  // not open
  EXPECT_EQ(Src(DAT_PENDINGXFERS, MSG_ENDXFER, &pending, &other), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_BADDEST);
  EXPECT_EQ(DsmStatus(), TWCC_SUCCESS);  // reading the condition cleared it
  EXPECT_EQ(gFake[1].calls, 1);          // only its identity was asked for
}

TEST_F(Dsm, TheConditionOfAnApplicationWithoutTheDsmIsClearedOnceRead) {
  TW_IDENTITY stranger{};
  stranger.Id = 77;
  EXPECT_EQ(DSM_Entry(&stranger, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
  TW_STATUS s{};
  ASSERT_EQ(DSM_Entry(&stranger, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
  EXPECT_EQ(s.ConditionCode, TWCC_SEQERROR);
  ASSERT_EQ(DSM_Entry(&stranger, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
  EXPECT_EQ(s.ConditionCode, TWCC_SUCCESS);
}

TEST_F(Dsm, FailedOpenReportsTheSourceConditionThroughTheDsm) {
  gFake[0].openRc = TWRC_FAILURE;
  gFake[0].openCC = TWCC_LOWMEMORY;
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_LOWMEMORY);
  EXPECT_EQ(TWAINFramework_OpenSources(), 0);
  EXPECT_EQ(Dsm_(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

TEST_F(Dsm, SourceRefusesToCloseWhileEnabled) {
  OpenDefault();
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_CLOSEDS, &src_), TWRC_FAILURE);
  EXPECT_EQ(SrcStatus(), TWCC_SEQERROR);  // still open, so it can be asked
  EXPECT_EQ(TWAINFramework_OpenSources(), 1);
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_CLOSEDS, &src_), TWRC_SUCCESS);
}

struct Seen {
  int calls = 0;
  bool duringEnable = false;
  TW_UINT32 origin = 0, dest = 0, DG = 0;
  TW_UINT16 DAT = 0xFFFF, MSG = 0;
  void* refCon = nullptr;
  TW_UINT16 nestedRc = 0xFFFF;
  pTW_IDENTITY app = nullptr, src = nullptr;
};
Seen gSeen;

TW_UINT16 Callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                   TW_MEMREF data) {
  ++gSeen.calls;
  gSeen.duringEnable = gFake[0].inEnable;
  gSeen.origin = origin->Id;
  gSeen.dest = dest->Id;
  gSeen.DG = DG;
  gSeen.DAT = DAT;
  gSeen.MSG = MSG;
  gSeen.refCon = static_cast<TW_CALLBACK*>(data)->RefCon;
  TW_PENDINGXFERS pending{};  // the application talks back to the source from here
  gSeen.nestedRc = DSM_Entry(gSeen.app, gSeen.src, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
  return TWRC_SUCCESS;
}

TEST_F(Dsm, CallbackRunsInsideTheSourcesOwnDsmCall) {
  gSeen = Seen();
  gSeen.app = &app_;
  gSeen.src = &src_;
  gFake[0].messageOnEnable = MSG_XFERREADY;
  OpenDefault();
  int refCon = 0;
  TW_CALLBACK cb{};
  cb.CallBackProc = reinterpret_cast<TW_MEMREF>(&Callback);
  cb.RefCon = &refCon;
  ASSERT_EQ(Dsm_(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb), TWRC_SUCCESS);
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(gSeen.calls, 1);
  EXPECT_TRUE(gSeen.duringEnable);
  EXPECT_EQ(gSeen.origin, src_.Id);
  EXPECT_EQ(gSeen.dest, app_.Id);
  EXPECT_EQ(gSeen.DG, DG_CONTROL);
  EXPECT_EQ(gSeen.DAT, DAT_NULL);
  EXPECT_EQ(gSeen.MSG, MSG_XFERREADY);
  EXPECT_EQ(gSeen.refCon, &refCon);
  EXPECT_EQ(gSeen.nestedRc, TWRC_SUCCESS);
  EXPECT_EQ(gFake[0].messageRc, TWRC_SUCCESS);
  EXPECT_EQ(TWAINFramework_CallbacksDelivered(), 1);
  TW_EVENT ev{};
  EXPECT_EQ(Src(DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_NOTDSEVENT);  // nothing was queued
}

TEST_F(Dsm, RegisteringWithTheSourceAsDestinationWorksToo) {
  gSeen = Seen();
  gSeen.app = &app_;
  gSeen.src = &src_;
  gFake[0].messageOnEnable = MSG_CLOSEDSREQ;
  TW_CALLBACK cb{};
  cb.CallBackProc = reinterpret_cast<TW_MEMREF>(&Callback);
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(Dsm_(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb), TWRC_FAILURE);  // no source open
  EXPECT_EQ(DsmStatus(), TWCC_SEQERROR);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
  ASSERT_EQ(Src(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb), TWRC_SUCCESS);
  EXPECT_EQ(gFake[0].calls, 2);  // identity and open: the DSM kept the registration
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(gSeen.MSG, MSG_CLOSEDSREQ);
}

TEST_F(Dsm, WithoutACallbackTheMessageArrivesThroughProcessEvent) {
  gFake[0].messageOnEnable = MSG_XFERREADY;
  OpenDefault();
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(TWAINFramework_SourceMessages(), 1);
  TW_EVENT ev{};
  EXPECT_EQ(Src(DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_DSEVENT);
  EXPECT_EQ(ev.TWMessage, MSG_XFERREADY);
  ev.TWMessage = 0;
  EXPECT_EQ(Src(DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_NOTDSEVENT);
  EXPECT_EQ(ev.TWMessage, 0);
  TW_IDENTITY stranger{};
  stranger.Id = 9999;
  EXPECT_EQ(DSM_Entry(&gFake[0].self, &stranger, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr), TWRC_FAILURE);
}

TEST_F(Dsm, InjectedFailuresAndTheCallLog) {
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TWAINFramework_FailNext(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE, TWCC_LOWMEMORY);
  EXPECT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_FAILURE);
  EXPECT_EQ(DsmStatus(), TWCC_LOWMEMORY);
  EXPECT_EQ(gFake[0].opens, 0);  // never reached the source
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);

  TWAINFramework_FailCall(2, TWRC_CANCEL, TWCC_BADVALUE);
  TW_CAPABILITY cap{};
  int callsBefore = gFake[0].calls;
  EXPECT_EQ(Src(DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
  EXPECT_EQ(Src(DAT_CAPABILITY, MSG_GET, &cap), TWRC_CANCEL);
  EXPECT_EQ(gFake[0].calls, callsBefore + 1);
  EXPECT_EQ(SrcStatus(), TWCC_BADVALUE);  // answered for the source, which never saw the call
  EXPECT_EQ(gFake[0].calls, callsBefore + 1);

  TWAINFramework_FailStatus(true);
  TW_STATUS st{};
  st.ConditionCode = 77;
  EXPECT_EQ(Dsm_(DAT_STATUS, MSG_GET, &st), TWRC_FAILURE);
  EXPECT_EQ(Src(DAT_STATUS, MSG_GET, &st), TWRC_FAILURE);
  EXPECT_EQ(st.ConditionCode, 77);
  TWAINFramework_FailStatus(false);

  EXPECT_EQ(TWAINFramework_CountCalls(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS), 2);
  EXPECT_EQ(TWAINFramework_CountCalls(TWAINFramework_Any, DAT_STATUS, TWAINFramework_Any), 4);
  const TWAINFrameworkCall* first = TWAINFramework_Call(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->MSG, MSG_OPENDSM);
  EXPECT_EQ(first->rc, TWRC_SUCCESS);
  const TWAINFrameworkCall* failed = TWAINFramework_Call(1);
  EXPECT_EQ(failed->rc, TWRC_FAILURE);
  EXPECT_EQ(failed->cc, TWCC_LOWMEMORY);
  EXPECT_EQ(failed->dest, 0u);
  const TWAINFrameworkCall* cancelled = TWAINFramework_Call(5);
  EXPECT_EQ(cancelled->dest, src_.Id);
  EXPECT_EQ(cancelled->rc, TWRC_CANCEL);
  EXPECT_EQ(TWAINFramework_Call(TWAINFramework_CallCount()), nullptr);
  TWAINFramework_ClearLog();
  EXPECT_EQ(TWAINFramework_CallCount(), 0);
}

TEST_F(Dsm, ResetClosesWhatIsOpen) {
  OpenDefault();
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Src(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  TWAINFramework_Reset();
  EXPECT_FALSE(gFake[0].enabled);
  EXPECT_FALSE(gFake[0].open);
  EXPECT_EQ(TWAINFramework_OpenApplications(), 0);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 0);
}

TEST_F(Dsm, LoadsSourcesFromTheFolderSortedByName) {
  TWAINFramework_Reset();  // no registered sources
  char tmpl[] = "/tmp/kv-dsm-folder-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::string cmd = "mkdir -p '" + dir + "/alpha.ds/Contents/MacOS' && cp '" KV_FAKE_DS "' '" + dir +
                    "/alpha.ds/Contents/MacOS/alpha' && cp '" KV_FAKE_DS "' '" + dir +
                    "/zeta.so' && echo x > '" + dir + "/junk.txt'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  TWAINFramework_SetSourceFolder(dir.c_str());
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 2);
  TW_IDENTITY id{};
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "alpha");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
  EXPECT_EQ(NameOf(id), "zeta.so");
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
  ASSERT_EQ(Dsm_(DAT_IDENTITY, MSG_CLOSEDS, &src_), TWRC_SUCCESS);
  ASSERT_EQ(Dsm_(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(TWAINFramework_LoadedSources(), 0);
  ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST_F(Dsm, DefaultFolderIsBesideTheLibrary) {
  TWAINFramework_SetSourceFolder(nullptr);
  std::string folder = TWAINFramework_SourceFolder();
  EXPECT_NE(folder.find("/lib/TWAIN Data Sources"), std::string::npos) << folder;
}

}  // namespace
