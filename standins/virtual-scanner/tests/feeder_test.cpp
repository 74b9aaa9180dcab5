// The document feeder: `pages`, `pages-unknown` and `jam-at`, the pending counts they give,
// CAP_XFERCOUNT, and pages that can be told apart.
#include "standins/virtual-scanner/tests/support.h"

namespace {

class FeederTest : public ScannerTest {
 protected:
  // A native transfer of the page in the scanner: its return code (the image is freed).
  TW_UINT16 Transfer(std::vector<uint8_t>* image = nullptr) {
    TW_HANDLE h = nullptr;
    TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h);
    if (h && image) *image = HandleBytes(h);
    if (h) FreeHandle(h);
    return rc;
  }
  // A pending-transfers request: the count it reports, -2 when it fails.
  int Pending(TW_UINT16 msg) {
    TW_PENDINGXFERS p{};
    p.Count = 0x5A5A;
    if (Call(DG_CONTROL, DAT_PENDINGXFERS, msg, &p) != TWRC_SUCCESS) return -2;
    return int(TW_INT16(p.Count));
  }
  // Transfers and ends pages until the count reaches 0; the counts MSG_ENDXFER reported.
  std::vector<int> TakeAll() {
    std::vector<int> counts;
    while (State() == 6 && counts.size() < 100) {
      EXPECT_EQ(Transfer(), TWRC_XFERDONE);
      counts.push_back(Pending(MSG_ENDXFER));
    }
    return counts;
  }
  void Disable() {
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  }
};

}  // namespace

TEST_F(FeederTest, CountsAreExactAndTheFeederIsLoadedAtEachEnable) {
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  for (int round = 0; round < 2; ++round) {
    ToTransferReady();
    EXPECT_EQ(Pending(MSG_GET), 3);
    EXPECT_EQ(Query("feeder"), "3");
    ASSERT_EQ(Transfer(), TWRC_XFERDONE);
    EXPECT_EQ(Pending(MSG_GET), 3) << "the page in state 7 is still pending";
    EXPECT_EQ(Pending(MSG_ENDXFER), 2);
    EXPECT_EQ(State(), 6);
    EXPECT_EQ(Pending(MSG_GET), 2);
    EXPECT_EQ(TakeAll(), (std::vector<int>{1, 0}));
    EXPECT_EQ(State(), 5);
    EXPECT_EQ(Pending(MSG_GET), 0);
    EXPECT_EQ(Query("feeder"), "0");
    // Nothing is left to transfer.
    EXPECT_EQ(Transfer(), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    EXPECT_EQ(Pending(MSG_ENDXFER), -2);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    Disable();
  }
}

TEST_F(FeederTest, ResetDropsThePendingPages) {
  ASSERT_EQ(VirtualScannerControl("pages 4"), 0);
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Pending(MSG_RESET), -2) << "not in state 7";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(Pending(MSG_ENDXFER), 3);
  EXPECT_EQ(Pending(MSG_RESET), 0);
  EXPECT_EQ(State(), 5);
  EXPECT_EQ(Query("feeder"), "0");
  EXPECT_EQ(Pending(MSG_GET), 0);
}

// An empty feeder gives no ready report when the user presses Scan again.
TEST_F(FeederTest, AScanPressWithTheFeederEmptyReportsNothing) {
  ASSERT_EQ(VirtualScannerControl("pages 1"), 0);
  ASSERT_EQ(VirtualScannerControl("user none"), 0);
  ASSERT_EQ(Enable(true), TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("press scan"), 0);
  ASSERT_EQ(State(), 6);
  EXPECT_EQ(TakeAll(), std::vector<int>{0});
  notices.clear();
  ASSERT_EQ(VirtualScannerControl("press scan"), 0);
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(State(), 5);
}

// CAP_XFERCOUNT: -1 takes every page, N at most N; the count reaches 0 after N.
TEST_F(FeederTest, TheTransferCountLimitsTheBatch) {
  ASSERT_EQ(VirtualScannerControl("pages 5"), 0);
  struct {
    int16_t xferCount;
    std::vector<int> counts;
  } cases[] = {
      {-1, {4, 3, 2, 1, 0}},
      {2, {1, 0}},
      {1, {0}},
      {9, {4, 3, 2, 1, 0}},
  };
  for (auto& c : cases) {
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
    ASSERT_EQ(Set(CAP_XFERCOUNT, OneValueOf(TWTY_INT16, c.xferCount)), TWCC_SUCCESS);
    ToTransferReady();
    EXPECT_EQ(Pending(MSG_GET), int(c.counts.size())) << c.xferCount;
    EXPECT_EQ(TakeAll(), c.counts) << c.xferCount;
    EXPECT_EQ(State(), 5);
  }
}

// A source that does not know its count: -1 while pages remain, 0 after the last.
TEST_F(FeederTest, AnUnknownCountIsMinusOneUntilTheLastPage) {
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ASSERT_EQ(VirtualScannerControl("pages-unknown"), 0);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), -1);
  EXPECT_EQ(TakeAll(), (std::vector<int>{-1, -1, 0}));
  EXPECT_EQ(Pending(MSG_GET), 0);
  Disable();
  // Also under a transfer count.
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(Set(CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(2))), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(TakeAll(), (std::vector<int>{-1, 0}));
  ASSERT_EQ(VirtualScannerControl("pages-unknown off"), 0);
  Disable();
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 2);
}

// Page K fails with TWCC_PAPERJAM and stays jammed; the count is not revised until the
// application ends the page (or resets), which ends the batch; the jam happens once.
TEST_F(FeederTest, AJamStopsTheFeeder) {
  ASSERT_EQ(VirtualScannerControl("pages 5"), 0);
  for (TW_UINT16 ending : {MSG_ENDXFER, MSG_RESET}) {
    ASSERT_EQ(VirtualScannerControl("jam-at 2"), 0);
    ToTransferReady();
    ASSERT_EQ(Transfer(), TWRC_XFERDONE);
    EXPECT_EQ(Pending(MSG_ENDXFER), 4);
    EXPECT_EQ(Transfer(), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_PAPERJAM);
    EXPECT_EQ(State(), 6);
    EXPECT_EQ(Transfer(), TWRC_FAILURE) << "still jammed";
    EXPECT_EQ(Status(), TWCC_PAPERJAM);
    EXPECT_EQ(Pending(MSG_GET), 4);
    EXPECT_EQ(Pending(ending), 0) << ending;
    EXPECT_EQ(State(), 5);
    Disable();
    // The next enable: a full feeder and no jam.
    ToTransferReady();
    EXPECT_EQ(TakeAll(), (std::vector<int>{4, 3, 2, 1, 0}));
    Disable();
  }
  // A file transfer jams as well; a jam at the first page.
  ASSERT_EQ(VirtualScannerControl("jam-at 1"), 0);
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_PAPERJAM);
  EXPECT_EQ(Pending(MSG_ENDXFER), 0);
  // A jam set for a page the batch does not reach waits for a batch that does.
  Disable();
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE), TWCC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("jam-at 3"), 0);
  ToTransferReady();
  EXPECT_EQ(TakeAll(), (std::vector<int>{1, 0}));
  Disable();
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ToTransferReady();
  for (int left : {2, 1}) {
    ASSERT_EQ(Transfer(), TWRC_XFERDONE);
    EXPECT_EQ(Pending(MSG_ENDXFER), left);
  }
  EXPECT_EQ(Transfer(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_PAPERJAM);
  for (const char* bad : {"jam-at 0", "jam-at", "jam-at x", "pages -1", "pages 32768", "pages-unknown maybe"})
    EXPECT_EQ(VirtualScannerControl(bad), -1) << bad;
}

// Each page carries its number (pages fed before it); the first is the page of a single scan.
TEST_F(FeederTest, PagesOfABatchDiffer) {
  ASSERT_EQ(Set(ICAP_FRAMES, OneValueOf(TWTY_FRAME, TW_FRAME{Fix(0), Fix(0), Fix(1), Fix(2)})), TWCC_SUCCESS);
  ToTransferReady();
  std::vector<uint8_t> single;
  ASSERT_EQ(Transfer(&single), TWRC_XFERDONE);
  EXPECT_EQ(Pending(MSG_ENDXFER), 0);
  Disable();
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ToTransferReady();
  std::vector<std::vector<uint8_t>> pages(3);
  for (auto& page : pages) {
    ASSERT_EQ(Transfer(&page), TWRC_XFERDONE);
    Pending(MSG_ENDXFER);
  }
  EXPECT_EQ(pages[0], single);
  EXPECT_NE(pages[1], pages[0]);
  EXPECT_NE(pages[2], pages[0]);
  EXPECT_NE(pages[2], pages[1]);
  if (kWindowsBuild) {  // bottom-up DIB, 100 x 200: row 200 - 1 - 37, pixel 37 is page 2's square
    ASSERT_EQ(pages[1].size(), single.size());
    const size_t row = 40 + size_t(200 - 1 - 37) * 300;
    EXPECT_EQ(pages[0][row + 3 * 37], 255);
    EXPECT_EQ(pages[1][row + 3 * 37], 0);
    EXPECT_EQ(pages[2][row + 3 * 37], 255) << "page 3 carries bit 1 only";
  }
}
