// The Mac chain: the TWAIN framework stand-in finds the scanner in its folder, and an
// application with a registered callback acquires through Carbon events.
#include <CarbonStandin.h>
#include <TWAIN/TWAINFramework.h>
#include <TWAIN/TWAINFrameworkStandin.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "standins/virtual-scanner/vscanner.h"

namespace {

std::vector<TW_UINT16> gMessages;
TW_UINT16 Callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
  gMessages.push_back(msg);
  return TWRC_SUCCESS;
}

class MacChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TWAINFramework_Reset();
    CarbonStandin_ResetEvents();
    CarbonStandin_UseVirtualClock(true);
    gMessages.clear();
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    tw::PutString(app.ProductName, sizeof app.ProductName, "Chain", true);
  }
  void TearDown() override {
    TWAINFramework_Reset();
    CarbonStandin_ResetEvents();
  }
  TW_UINT16 Dsm(TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return DSM_Entry(&app, nullptr, DG_CONTROL, dat, msg, data);
  }
  TW_UINT16 Src(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return DSM_Entry(&app, &src, dg, dat, msg, data);
  }

  void OpenRegistered() {
    TWAINFramework_RegisterSource(DS_Entry);  // the statically linked copy, so the test can script it
    ASSERT_EQ(VirtualScannerControl("reset"), 0);
    ASSERT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &src), TWRC_SUCCESS);
    TW_CALLBACK cb{};
    cb.CallBackProc = reinterpret_cast<TW_MEMREF>(&Callback);
    ASSERT_EQ(Dsm(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb), TWRC_SUCCESS);
  }
  // Enables and runs an event loop until the callback has heard from the source.
  void EnableAndPump(bool showUI) {
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI;
    ui.ModalUI = 1;
    ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ui.ModalUI, 0);
    EXPECT_TRUE(gMessages.empty()) << "nothing from inside MSG_ENABLEDS";
    for (int i = 0; i < 10 && gMessages.empty(); ++i) {
      EventRef ev = nullptr;
      if (ReceiveNextEvent(0, nullptr, 1.0, true, &ev) != noErr) continue;
      TW_EVENT te{};
      te.pEvent = ev;
      EXPECT_EQ(Src(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &te), TWRC_DSEVENT) << "the scanner's own event";
      ReleaseEvent(ev);
    }
  }
  TW_IDENTITY app{}, src{};
};

}  // namespace

TEST_F(MacChainTest, TheFolderSourceIsListed) {
  ASSERT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  TW_IDENTITY first{};
  ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &first), TWRC_SUCCESS);
  char name[34];
  tw::GetString(first.ProductName, sizeof first.ProductName, name, true);
  EXPECT_STREQ(name, "Virtual Scanner");
}

TEST_F(MacChainTest, ReportsThroughTheCallbackAndHandsOverAPicture) {
  OpenRegistered();
  EnableAndPump(false);
  ASSERT_EQ(gMessages, std::vector<TW_UINT16>{MSG_XFERREADY});
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Src(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
  EXPECT_GT(GetHandleSize(static_cast<Handle>(h)), 512);
  DisposeHandle(static_cast<Handle>(h));
  TW_PENDINGXFERS p{};
  EXPECT_EQ(Src(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
  EXPECT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &p), TWRC_SUCCESS);
}

TEST_F(MacChainTest, TheScriptedUserPressesScanOrCancel) {
  OpenRegistered();
  EnableAndPump(true);
  EXPECT_EQ(gMessages, std::vector<TW_UINT16>{MSG_XFERREADY});
  TW_PENDINGXFERS p{};
  ASSERT_EQ(Src(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p), TWRC_SUCCESS);
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &p), TWRC_SUCCESS);
  gMessages.clear();
  ASSERT_EQ(VirtualScannerControl("user cancel"), 0);
  EnableAndPump(true);
  EXPECT_EQ(gMessages, std::vector<TW_UINT16>{MSG_CLOSEDSREQ});
}

// A press still queued when its interface is taken down went to a window that is gone: it is
// no event of the source's, and the next showing of the interface does not take it.
TEST_F(MacChainTest, APressLeftQueuedDoesNotReachTheNextShowing) {
  OpenRegistered();
  ASSERT_EQ(VirtualScannerControl("user cancel"), 0);
  TW_USERINTERFACE ui{};
  ui.ShowUI = 1;
  // The scripted user presses Cancel as the interface shows; it is taken down before the
  // press comes through.
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("user none"), 0);
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  auto offerNext = [&] {
    EventRef ev = nullptr;
    if (ReceiveNextEvent(0, nullptr, 1.0, true, &ev) != noErr) return TW_UINT16(0xFFFF);
    TW_EVENT te{};
    te.pEvent = ev;
    TW_UINT16 rc = Src(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &te);
    ReleaseEvent(ev);
    return rc;
  };
  EXPECT_EQ(TWRC_NOTDSEVENT, offerNext()) << "the old press";
  EXPECT_TRUE(gMessages.empty());
  // A press on the interface shown now is the source's.
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("user cancel"), 0);
  ASSERT_EQ(Src(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(TWRC_DSEVENT, offerNext());
  EXPECT_EQ(gMessages, std::vector<TW_UINT16>{MSG_CLOSEDSREQ});
}
