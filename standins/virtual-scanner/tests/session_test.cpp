// Identity, the TWAIN state machine, notifications, the user interface and fault injection.
#include "standins/virtual-scanner/tests/support.h"

TEST_F(ScannerTest, IdentityKeepsTheIdAndUsesTheLayoutsStrings) {
  TW_IDENTITY id{};
  id.Id = 42;
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
  EXPECT_EQ(id.Id, 42u);
  EXPECT_EQ(id.ProtocolMajor, 1);
  EXPECT_EQ(id.ProtocolMinor, 9);
  EXPECT_EQ(id.SupportedGroups, DG_CONTROL | DG_IMAGE);
  if (nat::kPascalStrings) {
    EXPECT_EQ(id.ProductName[0], 15);
    EXPECT_EQ(std::string(id.ProductName + 1, 15), "Virtual Scanner");
  } else {
    EXPECT_STREQ(id.ProductName, "Virtual Scanner");
  }
  // Asked without an origin, as a DSM does while it lists its sources.
  EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
}

TEST_F(ScannerTest, TripletsInTheWrongStateAreSequenceErrors) {
  TW_PENDINGXFERS p{};
  TW_IMAGEINFO info{};
  TW_USERINTERFACE ui{};
  TW_HANDLE h = nullptr;
  EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_FAILURE);  // already open
  EXPECT_EQ(Status(), TWCC_MAXCONNECTIONS);
  struct {
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    void* data;
  } inState4[] = {
      {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui}, {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p},
      {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p},       {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h},        {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr},
  };
  for (auto& t : inState4) {
    EXPECT_EQ(Call(t.dg, t.dat, t.msg, t.data), TWRC_FAILURE) << t.dat << "/" << t.msg;
    EXPECT_EQ(Status(), TWCC_SEQERROR);
  }
  EXPECT_EQ(Poll(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_EQ(Enable(false), TWRC_FAILURE);
  EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(Status(), TWCC_SUCCESS) << "DAT_STATUS resets the condition";
  EXPECT_EQ(State(), 5);
}

TEST_F(ScannerTest, ReportsOnItsOwnOnceEnableHasReturned) {
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_TRUE(notices.empty()) << "nothing is sent from inside MSG_ENABLEDS";
  EXPECT_EQ(lastModal, 0) << "ModalUI is cleared";
  TW_UINT16 message = 0xFFFF;
  EXPECT_EQ(Poll(&message), TWRC_NOTDSEVENT);
  EXPECT_EQ(message, MSG_NULL);
  ASSERT_EQ(notices, std::vector<TW_UINT16>{MSG_XFERREADY});
  EXPECT_EQ(stateAtNotice, 6);
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
  FreeHandle(h);
  EXPECT_EQ(State(), 7);
  TW_PENDINGXFERS p{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 0);
  EXPECT_EQ(State(), 5);
  Poll();
  EXPECT_EQ(notices.size(), 1u) << "one report per enable";
}

TEST_F(ScannerTest, PendingImagesAndTheTransferCount) {
  ASSERT_EQ(VirtualScannerControl("pending 2"), 0);
  ToTransferReady();
  TW_PENDINGXFERS p{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 2);
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 1);
  EXPECT_EQ(State(), 6);
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 0);
  EXPECT_EQ(State(), 5);
  Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &p);
  // XFERCOUNT 1 caps what is announced.
  ASSERT_EQ(Set(CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(1))), TWCC_SUCCESS);
  ToTransferReady();
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 1);
}

TEST_F(ScannerTest, ReportDuringEnableAndModalKeep) {
  ASSERT_EQ(VirtualScannerControl("report-during-enable on"), 0);
  ASSERT_EQ(VirtualScannerControl("modal keep"), 0);
  ASSERT_EQ(Enable(false, 1), TWRC_SUCCESS);
  EXPECT_EQ(lastModal, 1);
  ASSERT_EQ(notices, std::vector<TW_UINT16>{MSG_XFERREADY});
  EXPECT_EQ(stateAtNotice, 6);
  EXPECT_EQ(State(), 6);
}

TEST_F(ScannerTest, InterfaceButtonsAndTheScriptedUser) {
  ASSERT_EQ(VirtualScannerControl("user none"), 0);
  ASSERT_EQ(Enable(true), TWRC_SUCCESS);
  EXPECT_EQ(Query("ui"), "shown");
  Poll();
  EXPECT_TRUE(notices.empty()) << "with the interface only the user starts a scan";
  ASSERT_EQ(VirtualScannerControl("press cancel"), 0);
  EXPECT_EQ(notices, std::vector<TW_UINT16>{MSG_CLOSEDSREQ});
  EXPECT_EQ(State(), 5);
  ASSERT_EQ(VirtualScannerControl("press scan"), 0);
  EXPECT_EQ(notices.back(), MSG_XFERREADY);
  EXPECT_EQ(State(), 6);
}

TEST_F(ScannerTest, ANoticeTheDsmRefusesComesBackThroughTheEvent) {
  refuse = true;
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  TW_UINT16 message = 0;
  EXPECT_EQ(Poll(&message), TWRC_DSEVENT);
  EXPECT_EQ(message, MSG_XFERREADY);
  EXPECT_EQ(Poll(&message), TWRC_NOTDSEVENT);
  EXPECT_EQ(message, MSG_NULL);
}

TEST_F(ScannerTest, InjectedFaultsHitTheNextMatchingTripletOnce) {
  ASSERT_EQ(VirtualScannerControl("fail 1 0x0001 0xFFFF 1 10"), 0);
  TW_UINT16 rc = 0, ct = 0;
  Get(ICAP_XRESOLUTION, &ct, MSG_GET, &rc);
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_FALSE(Get(ICAP_XRESOLUTION, &ct, MSG_GET, &rc).empty());
  EXPECT_EQ(rc, TWRC_SUCCESS);
  // Any triplet; a return code other than failure passes through as given.
  ASSERT_EQ(VirtualScannerControl("fail 0xFFFF 0xFFFF 0xFFFF 3 0"), 0);
  EXPECT_EQ(Enable(false), TWRC_CANCEL);
  EXPECT_EQ(State(), 4);
  long before = std::stol(Query("calls"));
  Status();
  EXPECT_EQ(std::stol(Query("calls")), before + 1);
}

// `answer`: the triplet is carried out, then a success answers the given code, as often as
// asked; a triplet that failed on its own uses nothing up.
TEST_F(ScannerTest, AnswersReplaceASuccessAfterTheWork) {
  ASSERT_EQ(VirtualScannerControl("answer 1 9 0x502 2"), 0);
  EXPECT_EQ(Enable(false), TWRC_CHECKSTATUS);
  EXPECT_EQ(State(), 5) << "the enable was carried out";
  EXPECT_EQ(Status(), TWCC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("answer 1 9 0x501 2 2"), 0);
  TW_USERINTERFACE ui{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_CHECKSTATUS);
  EXPECT_EQ(State(), 4);
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE) << "state 4: refused";
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_CHECKSTATUS) << "the second answer";
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS) << "used up";
}

// Without the interface, the next enable asks to be closed instead of announcing a page.
TEST_F(ScannerTest, ACloseRequestInsteadOfAPage) {
  ASSERT_EQ(VirtualScannerControl("closereq-instead"), 0);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  EXPECT_EQ(notices, std::vector<TW_UINT16>{MSG_CLOSEDSREQ});
  EXPECT_EQ(State(), 5);
  TW_USERINTERFACE ui{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  notices.clear();
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  EXPECT_EQ(notices, std::vector<TW_UINT16>{MSG_XFERREADY}) << "once only";
}

TEST_F(ScannerTest, ControlCommandsAreChecked) {
  const char* bad[] = {"",
                       "bogus",
                       "user maybe",
                       "modal open",
                       "pending 0",
                       "pending x",
                       "fail 1 2 3",
                       "script-get 0x1118 5 0 ABC",
                       "script-set 0x1118",
                       "report-during-enable yes",
                       "settings forget",
                       "answer 1 9 0x502",
                       "answer 1 9 0x502 2 0",
                       "closereq-instead now",
                       "notice-delay -5"};
  for (const char* c : bad) EXPECT_EQ(VirtualScannerControl(c), -1) << c;
  char small[2];
  EXPECT_EQ(VirtualScannerQuery("cap 0x1005", small, sizeof small), -1);
  EXPECT_EQ(Query("cap 0x9999"), "?");
  EXPECT_EQ(Query("state"), "4");
}

TEST_F(ScannerTest, ModalSetAndNoticesHandedOutThroughTheEvent) {
  ASSERT_EQ(VirtualScannerControl("modal set"), 0);
  ASSERT_EQ(VirtualScannerControl("notices message"), 0);
  ASSERT_EQ(Enable(false, 0), TWRC_SUCCESS);
  EXPECT_EQ(lastModal, 1) << "set whatever the application asked";
  TW_UINT16 message = 0;
  EXPECT_EQ(Poll(&message), TWRC_DSEVENT);
  EXPECT_EQ(message, MSG_XFERREADY);
  EXPECT_TRUE(notices.empty()) << "nothing went through the DSM";
  EXPECT_EQ(State(), 6);
  EXPECT_EQ(VirtualScannerControl("modal open"), -1);
  EXPECT_EQ(VirtualScannerControl("notices mail"), -1);
}
