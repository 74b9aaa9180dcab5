// The document scanner: its capabilities (`documents on`), patch sheets and job control (or,
// with `jobcontrol off`, patch code detection), duplex sides, the feeder beside the glass and its paper,
// autoscan with MSG_STOPFEEDER, and DAT_EXTIMAGEINFO in each of the ways `extimageinfo` hands items over.
#include <chrono>
#include <thread>

#include "standins/virtual-scanner/tests/support.h"

namespace {

using namespace vs;

class DocumentTest : public ScannerTest {
 protected:
  void SetUp() override {
    ScannerTest::SetUp();
    ASSERT_EQ(VirtualScannerControl("documents on"), 0);
  }
  TW_UINT16 Transfer() {
    TW_HANDLE h = nullptr;
    TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h);
    if (h) FreeHandle(h);
    return rc;
  }
  // MSG_ENDXFER (or another message): the count, and the EOJ field in *eoj; -2 on failure.
  int Pending(TW_UINT16 msg, TW_UINT32* eoj = nullptr) {
    TW_PENDINGXFERS p{};
    p.Count = 0x5A5A;
    p.Reserved = 0xDEAD;
    if (Call(DG_CONTROL, DAT_PENDINGXFERS, msg, &p) != TWRC_SUCCESS) return -2;
    if (eoj) *eoj = p.Reserved;
    return int(TW_INT16(p.Count));
  }
  // Transfers and ends every pending page: per page, the side it showed and the EOJ after it.
  std::vector<std::pair<int, TW_UINT32>> TakeAll() {
    std::vector<std::pair<int, TW_UINT32>> pages;
    while (State() == 6 && pages.size() < 100) {
      const int side = std::stoi(Query("page"));
      EXPECT_EQ(Transfer(), TWRC_XFERDONE);
      TW_UINT32 eoj = 0xBAD;
      Pending(MSG_ENDXFER, &eoj);
      pages.push_back({side, eoj});
    }
    return pages;
  }
  void Disable() {
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  }
  TW_UINT16 SetBool(TW_UINT16 cap, bool on) { return Set16(cap, TWTY_BOOL, on ? 1 : 0); }
  int Current(TW_UINT16 cap) {
    std::vector<uint8_t> b = Get(cap, nullptr, MSG_GETCURRENT);
    return b.empty() ? -1 : At<TW_UINT16>(b, tw::kContainers.oneValueItem);
  }

  // DAT_EXTIMAGEINFO for these ids: the return code; the items in *out.
  TW_UINT16 Info(const std::vector<TW_UINT16>& ids, std::vector<TW_INFO>* out) {
    std::vector<uint8_t> buffer(4 + ids.size() * sizeof(TW_INFO), 0xCC);
    const TW_UINT32 n = TW_UINT32(ids.size());
    std::memcpy(buffer.data(), &n, 4);
    for (size_t i = 0; i < ids.size(); ++i) {
      TW_INFO info{};
      info.InfoID = ids[i];
      std::memcpy(buffer.data() + 4 + i * sizeof(TW_INFO), &info, sizeof info);
    }
    TW_UINT16 rc = Call(DG_IMAGE, kDatExtImageInfo, MSG_GET, buffer.data());
    out->assign(ids.size(), TW_INFO{});
    for (size_t i = 0; i < ids.size(); ++i)
      std::memcpy(&(*out)[i], buffer.data() + 4 + i * sizeof(TW_INFO), sizeof(TW_INFO));
    return rc;
  }
  TW_INFO One(TW_UINT16 id) {
    std::vector<TW_INFO> items;
    EXPECT_EQ(Info({id}, &items), TWRC_SUCCESS);
    return items[0];
  }
  // The bytes of an item's handle, freed.
  static std::vector<uint8_t> Take(const TW_INFO& info) {
    TW_HANDLE h = reinterpret_cast<TW_HANDLE>(info.Item);
    if (!h) return {};
    std::vector<uint8_t> b = HandleBytes(h);
    FreeHandle(h);
    return b;
  }

  // The page in the scanner through a memory transfer, in grey at 75 dpi: its rows.
  std::vector<std::vector<uint8_t>> GreyPage() {
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> buffer(1 << 20);
    for (int calls = 0; calls < 50; ++calls) {
      TW_IMAGEMEMXFER x{};
      x.Memory.Flags = kMemAppOwns | kMemPointer;
      x.Memory.Length = TW_UINT32(buffer.size());
      x.Memory.TheMem = buffer.data();
      TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
      if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
        ADD_FAILURE() << "memory transfer answered " << rc;
        return rows;
      }
      for (TW_UINT32 r = 0; r < x.Rows; ++r)
        rows.emplace_back(buffer.data() + r * x.BytesPerRow, buffer.data() + r * x.BytesPerRow + x.Columns);
      if (rc == TWRC_XFERDONE) return rows;
    }
    return rows;
  }
  void GreyAt75Dpi() {
    ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_SUCCESS);
    ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWCC_SUCCESS);
    ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 75), TWCC_SUCCESS);
    ASSERT_EQ(SetFix(ICAP_YRESOLUTION, 75), TWCC_SUCCESS);
  }
};

std::vector<int> Sides(const std::vector<std::pair<int, TW_UINT32>>& pages) {
  std::vector<int> sides;
  for (auto& p : pages) sides.push_back(p.first);
  return sides;
}
std::vector<TW_UINT32> Eojs(const std::vector<std::pair<int, TW_UINT32>>& pages) {
  std::vector<TW_UINT32> eojs;
  for (auto& p : pages) eojs.push_back(p.second);
  return eojs;
}

}  // namespace

// ---------------------------------------------------------------- capabilities

TEST_F(DocumentTest, TheFlatbedHasNoneOfItUntilTold) {
  ASSERT_EQ(VirtualScannerControl("documents off"), 0);
  for (TW_UINT16 cap : {kCapDuplexEnabled, kCapJobControl, kCapAutoScan, kIcapExtImageInfo, kCapFeederEnabled,
                        kCapFeederLoaded, kCapAutomaticSenseMedium}) {
    TW_UINT16 rc = 0;
    EXPECT_TRUE(Get(cap, nullptr, MSG_GET, &rc).empty()) << cap;
    EXPECT_EQ(Status(), TWCC_CAPUNSUPPORTED) << cap;
  }
  EXPECT_EQ(Query("cap 0x1012"), "0") << "CAP_DUPLEX: none";
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  std::vector<TW_INFO> items;
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  TW_UINT32 eoj = 0;
  EXPECT_EQ(Pending(MSG_ENDXFER, &eoj), 0);
  EXPECT_EQ(eoj, 0xDEADu) << "the 1.x field is left alone";
  EXPECT_EQ(Pending(kMsgStopFeeder), -2);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
}

TEST_F(DocumentTest, TheDocumentScannerListsAndChecksItsCapabilities) {
  ASSERT_EQ(VirtualScannerControl("pages 1"), 0);
  const std::string listed = Query("cap 0x1005");
  for (const char* id : {"4098", "4099", "4115", "4112", "4119", "4155", "4399", "4446"})
    EXPECT_NE(("," + listed + ",").find(std::string(",") + id + ","), std::string::npos) << id;
  EXPECT_EQ(Query("cap 0x1012"), "1") << "CAP_DUPLEX: 1-pass";
  EXPECT_EQ(Set16(CAP_DUPLEX, TWTY_UINT16, 0), TWCC_CAPBADOPERATION);
  for (TW_UINT16 cap :
       {kCapDuplexEnabled, kCapAutoScan, kIcapExtImageInfo, kCapFeederEnabled, kCapAutomaticSenseMedium}) {
    EXPECT_EQ(SetBool(cap, true), TWCC_SUCCESS) << cap;
    EXPECT_EQ(Current(cap), 1) << cap;
    EXPECT_EQ(Set16(cap, TWTY_BOOL, 2), TWCC_BADVALUE) << cap;
    EXPECT_EQ(Set16(cap, TWTY_UINT16, 0), TWCC_BADVALUE) << cap;
  }
  EXPECT_EQ(SetBool(kCapFeederLoaded, false), TWCC_CAPBADOPERATION);
  for (uint16_t jc = 0; jc <= 4; ++jc) EXPECT_EQ(Set16(kCapJobControl, TWTY_UINT16, jc), TWCC_SUCCESS) << jc;
  EXPECT_EQ(Set16(kCapJobControl, TWTY_UINT16, 5), TWCC_BADVALUE);
  EXPECT_EQ(Query("cap 0x1017"), "4");
  // The supported items, and none of it outside state 4.
  EXPECT_EQ(Query("cap 0x115e"), "4677,4626,4633,4610,4636,4666,4667");
  ToTransferReady();
  EXPECT_EQ(SetBool(kCapDuplexEnabled, false), TWCC_SEQERROR);
  EXPECT_EQ(SetBool(kIcapExtImageInfo, false), TWCC_SEQERROR);
  EXPECT_EQ(VirtualScannerControl("documents off"), -1) << "not while enabled";
  EXPECT_EQ(VirtualScannerControl("extimageinfo none"), -1);
  Close();
  // `extimageinfo none`: a document scanner without extended image information.
  ASSERT_EQ(VirtualScannerControl("extimageinfo none"), 0);
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  TW_UINT16 rc = 0;
  EXPECT_TRUE(Get(kIcapExtImageInfo, nullptr, MSG_GET, &rc).empty());
  EXPECT_EQ(Status(), TWCC_CAPUNSUPPORTED);
  EXPECT_EQ(Query("cap 0x1005").find("4399"), std::string::npos);
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  std::vector<TW_INFO> items;
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  // `reset`: the flatbed again.
  Close();
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1012"), "0");
  EXPECT_EQ(Query("cap 0x1017"), "?");
}

TEST_F(DocumentTest, MalformedCommandsAreRefused) {
  for (const char* bad :
       {"documents", "documents maybe", "extimageinfo inlined", "patch-at 0 T", "patch-at 1 5", "patch-at 1 t",
        "patch-at 1", "patch-at 32768 1", "patch-at 1 T 2", "barcode-at 1", "barcode-at 0 X", "barcode-at x X",
        "feeder-loaded-after 0", "feeder-loaded-after -1", "feeder-loaded-after 3601",
        "feeder-loaded-after soon", "pages -1", "pending 0"})
    EXPECT_EQ(VirtualScannerControl(bad), -1) << bad;
  for (const char* good : {"patch-at 1 1", "patch-at 2 6", "patch-at 3 T", "patch-at none", "barcode-at 2 A B",
                           "barcode-at none", "feeder-loaded-after 0.5", "feeder-loaded-after none", "pages 0"})
    EXPECT_EQ(VirtualScannerControl(good), 0) << good;
}

// ---------------------------------------------------------------- job control

TEST_F(DocumentTest, JobControlIncludesOrExcludesTheSeparatorAndContinuesOrStops) {
  ASSERT_EQ(VirtualScannerControl("pages 5"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 3 T"), 0);
  const TW_UINT32 T = kEojPatchT;
  struct {
    uint16_t job;
    int announced;
    std::vector<int> sides;
    std::vector<TW_UINT32> eojs;
    int left;  // sheets still in the feeder
  } cases[] = {
      {kJobNone, 5, {1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}, 0},
      {kJobIncludeContinue, 5, {1, 2, 3, 4, 5}, {0, 0, T, 0, 0}, 0},
      {kJobIncludeStop, 3, {1, 2, 3}, {0, 0, T}, 2},
      {kJobExcludeContinue, 4, {1, 2, 4, 5}, {0, T, 0, 0}, 0},
      {kJobExcludeStop, 2, {1, 2}, {0, T}, 2},
  };
  for (auto& c : cases) {
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
    ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, c.job), TWCC_SUCCESS);
    ToTransferReady();
    EXPECT_EQ(Pending(MSG_GET), c.announced) << c.job;
    auto pages = TakeAll();
    EXPECT_EQ(Sides(pages), c.sides) << c.job;
    EXPECT_EQ(Eojs(pages), c.eojs) << c.job;
    EXPECT_EQ(State(), 5);
    EXPECT_EQ(Query("feeder"), std::to_string(c.left)) << c.job;
  }
}

TEST_F(DocumentTest, OnlyPatchTwoAndTEndJobs) {
  ASSERT_EQ(VirtualScannerControl("pages 7"), 0);
  for (const char* c :
       {"patch-at 1 1", "patch-at 2 2", "patch-at 3 3", "patch-at 4 4", "patch-at 5 6", "patch-at 6 T"})
    ASSERT_EQ(VirtualScannerControl(c), 0) << c;
  ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobExcludeContinue), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 5);
  auto pages = TakeAll();
  EXPECT_EQ(Sides(pages), (std::vector<int>{1, 3, 4, 5, 7}));
  EXPECT_EQ(Eojs(pages), (std::vector<TW_UINT32>{kEojPatch2, 0, 0, kEojPatchT, 0}));
}

TEST_F(DocumentTest, ASeparatorWithNothingBeforeItIsPassedOver) {
  ASSERT_EQ(VirtualScannerControl("pages 4"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 1 T"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 2 2"), 0);
  ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobExcludeStop), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Query("feeder"), "2");
  auto pages = TakeAll();
  EXPECT_EQ(Sides(pages), (std::vector<int>{3, 4}));
  EXPECT_EQ(Eojs(pages), (std::vector<TW_UINT32>{0, 0}));
  // Every sheet a separator: nothing to report.
  Disable();
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  notices.clear();
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  EXPECT_EQ(State(), 5);
  EXPECT_TRUE(notices.empty());
}

// A job that stops leaves the rest in the feeder: a Scan press takes them, the next job.
TEST_F(DocumentTest, AStoppedJobGoesOnWithTheNextScan) {
  ASSERT_EQ(VirtualScannerControl("pages 5"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 2 T"), 0);
  ASSERT_EQ(VirtualScannerControl("user none"), 0);
  ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobIncludeStop), TWCC_SUCCESS);
  ASSERT_EQ(Enable(true), TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("press scan"), 0);
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{1, 2}));
  ASSERT_EQ(VirtualScannerControl("press scan"), 0);
  EXPECT_EQ(Pending(MSG_GET), 3);
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{3, 4, 5}));
}

// ---------------------------------------------------------------- without job control

// `jobcontrol off`: a document scanner whose patch sheets are read by patch code detection.
TEST_F(DocumentTest, WithoutJobControlPatchCodeDetectionIsOfferedInstead) {
  const TW_UINT16 kDetection = kIcapPatchCodeDetectionEnabled, kTypes = kIcapSupportedPatchCodeTypes;
  auto listed = [this](TW_UINT16 cap) {
    return ("," + Query("cap 0x1005") + ",").find("," + std::to_string(cap) + ",") != std::string::npos;
  };
  auto unsupported = [this](TW_UINT16 cap, TW_UINT16 msg) {
    TW_UINT16 rc = 0;
    const bool none = Get(cap, nullptr, msg, &rc).empty();
    return none && rc == TWRC_FAILURE && Status() == TWCC_CAPUNSUPPORTED;
  };
  // With job control (the default): CAP_JOBCONTROL and no detection.
  EXPECT_TRUE(listed(kCapJobControl));
  for (TW_UINT16 cap : {kDetection, kTypes}) {
    EXPECT_FALSE(listed(cap)) << cap;
    EXPECT_TRUE(unsupported(cap, MSG_GET)) << cap;
  }

  // Without: the other way round, at once in the open session.
  ASSERT_EQ(VirtualScannerControl("jobcontrol off"), 0);
  EXPECT_FALSE(listed(kCapJobControl));
  for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_QUERYSUPPORT})
    EXPECT_TRUE(unsupported(kCapJobControl, msg)) << msg;
  EXPECT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobNone), TWCC_CAPUNSUPPORTED);
  EXPECT_TRUE(listed(kDetection));
  EXPECT_TRUE(listed(kTypes));
  EXPECT_EQ(Current(kDetection), 0);
  EXPECT_EQ(SetBool(kDetection, true), TWCC_SUCCESS);
  EXPECT_EQ(Current(kDetection), 1);
  EXPECT_EQ(Set16(kDetection, TWTY_BOOL, 2), TWCC_BADVALUE);
  EXPECT_EQ(Set16(kDetection, TWTY_UINT16, 0), TWCC_BADVALUE);
  std::vector<uint8_t> dflt = Get(kDetection, nullptr, MSG_GETDEFAULT);
  ASSERT_FALSE(dflt.empty());
  EXPECT_EQ(At<TW_UINT16>(dflt, tw::kContainers.oneValueItem), 0);
  // The patch types: a read-only array of TW_UINT16, PATCH1 to PATCHT.
  TW_UINT16 conType = 0;
  std::vector<uint8_t> types = Get(kTypes, &conType);
  EXPECT_EQ(conType, TWON_ARRAY);
  ASSERT_GE(types.size(), offsetof(nat::TW_ARRAY, ItemList));
  nat::TW_ARRAY head{};
  std::memcpy(&head, types.data(), offsetof(nat::TW_ARRAY, ItemList));
  EXPECT_EQ(head.ItemType, TWTY_UINT16);
  EXPECT_EQ(head.NumItems, 6u);
  EXPECT_EQ(Query("cap 0x1140"), "0,1,2,3,4,5");
  EXPECT_EQ(Set(kTypes, ArrayOf16({0}), TWON_ARRAY), TWCC_CAPBADOPERATION);
  EXPECT_EQ(Set16(kTypes, TWTY_UINT16, 0), TWCC_CAPBADOPERATION);

  // Detection is set in state 4 only; the command is refused while enabled, either way.
  ASSERT_EQ(VirtualScannerControl("pages 1"), 0);
  ToTransferReady();
  EXPECT_EQ(SetBool(kDetection, false), TWCC_SEQERROR);
  EXPECT_EQ(VirtualScannerControl("jobcontrol on"), -1);
  EXPECT_EQ(VirtualScannerControl("jobcontrol off"), -1);
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(State(), 7);
  EXPECT_EQ(VirtualScannerControl("jobcontrol on"), -1);
  Close();
  EXPECT_EQ(State(), 3);
  EXPECT_EQ(VirtualScannerControl("jobcontrol on"), 0) << "closed";
  EXPECT_EQ(VirtualScannerControl("jobcontrol off"), 0);
  for (const char* bad : {"jobcontrol", "jobcontrol none", "jobcontrol off on", "jobcontrol 0"})
    EXPECT_EQ(VirtualScannerControl(bad), -1) << bad;
  // Kept across sessions and `documents`; `reset` gives job control back.
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_TRUE(listed(kDetection));
  EXPECT_EQ(Current(kDetection), 0) << "a new session starts from the default";
  ASSERT_EQ(VirtualScannerControl("documents off"), 0);
  EXPECT_FALSE(listed(kDetection)) << "the flatbed has neither";
  EXPECT_FALSE(listed(kCapJobControl));
  ASSERT_EQ(VirtualScannerControl("documents on"), 0);
  EXPECT_TRUE(listed(kDetection));
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  ASSERT_EQ(VirtualScannerControl("documents on"), 0);
  EXPECT_TRUE(listed(kCapJobControl));
  EXPECT_FALSE(listed(kDetection));
  EXPECT_FALSE(listed(kTypes));
}

// Without job control every sheet is a page, no page ends a job, and TWEI_PATCHCODE reports
// a patch only while detection is enabled.
TEST_F(DocumentTest, WithoutJobControlPatchSheetsArePagesAndReportedOnlyWhenDetected) {
  ASSERT_EQ(VirtualScannerControl("jobcontrol off"), 0);
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 1 T"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 3 2"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 4 1"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 6 T"), 0);
  const std::vector<int> patches = {int(kPatchT), -1, int(kPatch2), int(kPatch1), -1, int(kPatchT)};
  for (bool detect : {false, true}) {
    SCOPED_TRACE(detect ? "detection on" : "detection off");
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
    ASSERT_EQ(SetBool(kIcapExtImageInfo, true), TWCC_SUCCESS);
    ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
    ASSERT_EQ(SetBool(kIcapPatchCodeDetectionEnabled, detect), TWCC_SUCCESS);
    ToTransferReady();
    EXPECT_EQ(Pending(MSG_GET), 6) << "every side, the patch sheets' included";
    std::vector<int> sides, reported;
    std::vector<TW_UINT32> eojs, documents, pageNumbers;
    while (State() == 6 && sides.size() < 10) {
      sides.push_back(std::stoi(Query("page")));
      ASSERT_EQ(Transfer(), TWRC_XFERDONE);
      std::vector<TW_INFO> items;
      ASSERT_EQ(Info({kEiPatchCode, kEiDocumentNumber, kEiPageNumber}, &items), TWRC_SUCCESS);
      if (items[0].ReturnCode == TWRC_SUCCESS) {
        EXPECT_EQ(items[0].ItemType, TWTY_UINT32);
        reported.push_back(int(items[0].Item));
      } else {
        EXPECT_EQ(items[0].ReturnCode, TWRC_DATANOTAVAILABLE);
        reported.push_back(-1);
      }
      documents.push_back(TW_UINT32(items[1].Item));
      pageNumbers.push_back(TW_UINT32(items[2].Item));
      TW_UINT32 eoj = 0xBAD;
      Pending(MSG_ENDXFER, &eoj);
      eojs.push_back(eoj);
    }
    EXPECT_EQ(sides, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(eojs, std::vector<TW_UINT32>(6, kEojNone));
    EXPECT_EQ(documents, std::vector<TW_UINT32>(6, 1u));
    EXPECT_EQ(pageNumbers, (std::vector<TW_UINT32>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(reported, detect ? patches : std::vector<int>(6, -1));
    EXPECT_EQ(State(), 5);
    EXPECT_EQ(Query("feeder"), "0");
  }
}

// ---------------------------------------------------------------- duplex

TEST_F(DocumentTest, DuplexGivesBothSidesOfEachSheet) {
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 4);
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Pending(MSG_ENDXFER), 3);
  EXPECT_EQ(Query("feeder"), "2") << "the sheet leaves with its back";
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Pending(MSG_ENDXFER), 2);
  EXPECT_EQ(Query("feeder"), "1");
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{3, 4}));
  Disable();
  // Under a transfer count of 3 the second sheet's back is not scanned; the sheet goes.
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  ASSERT_EQ(Set(CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(3))), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Query("feeder"), "0");
}

// The back is the chart mirrored: the white bar's place shows black; a patch sheet is white
// with its bars, far from blank.
TEST_F(DocumentTest, FrontsBacksAndPatchSheetsLookTheirPart) {
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 3 T"), 0);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  GreyAt75Dpi();
  ToTransferReady();
  std::vector<std::vector<std::vector<uint8_t>>> sides;
  while (State() == 6) {
    sides.push_back(GreyPage());
    Pending(MSG_ENDXFER);
  }
  ASSERT_EQ(sides.size(), 4u);
  for (auto& page : sides) ASSERT_EQ(page.size(), 825u);
  const int row = 75;  // y = 1 inch: the bars' half, below the mark
  EXPECT_EQ(sides[0][row][7], 255) << "x = 0.1 inch: the white bar";
  EXPECT_EQ(sides[1][row][7], 0) << "the back: the black bar";
  EXPECT_EQ(sides[0][row][630], 0);
  EXPECT_EQ(sides[1][row][630], 255);
  EXPECT_EQ(sides[3][row][7], 0) << "the second sheet's back";
  // Patch T (NNWW): bars from x = 1 inch; narrow 0.15, gaps 0.3.
  const auto& patch = sides[2];
  EXPECT_EQ(patch[400][78], 0) << "x = 1.05 inch: the first bar";
  EXPECT_EQ(patch[400][90], 255) << "x = 1.2 inch: white between bars";
  EXPECT_EQ(patch[40][78], 255) << "above the bars";
  size_t dark = 0, all = 0;
  for (auto& r : patch)
    for (uint8_t v : r) {
      dark += v < 128;
      ++all;
    }
  EXPECT_GT(dark * 100, all * 5) << "a patch sheet is no blank page";
  EXPECT_LT(dark * 100, all * 12);
}

// ---------------------------------------------------------------- the feeder and the glass

TEST_F(DocumentTest, AnEmptyFeederWaitsWhileTheGlassStillScans) {
  ASSERT_EQ(VirtualScannerControl("pages 0"), 0);
  EXPECT_EQ(Current(kCapFeederLoaded), 0);
  EXPECT_EQ(Current(kCapFeederEnabled), 1);
  notices.clear();
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  EXPECT_EQ(State(), 5) << "nothing in the feeder";
  EXPECT_TRUE(notices.empty());
  Disable();
  // The glass: one page.
  ASSERT_EQ(SetBool(kCapFeederEnabled, false), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 1);
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Pending(MSG_ENDXFER), 0);
  Disable();
  // Sensing the medium: the glass while the feeder is empty, the feeder when it holds paper.
  ASSERT_EQ(SetBool(kCapFeederEnabled, true), TWCC_SUCCESS);
  ASSERT_EQ(SetBool(kCapAutomaticSenseMedium, true), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 1);
  EXPECT_EQ(Pending(MSG_RESET), 0);
  Disable();
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  EXPECT_EQ(Current(kCapFeederLoaded), 1);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 6);
  EXPECT_EQ(Pending(MSG_RESET), 0);
  EXPECT_EQ(Current(kCapFeederLoaded), 0) << "the dropped sheets left the feeder";
  Disable();
  // Duplex is the feeder's: the glass gives one side.
  ASSERT_EQ(VirtualScannerControl("pages 0"), 0);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 1);
}

TEST_F(DocumentTest, PaperPutInLaterIsReportedWhenItComes) {
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("feeder-loaded-after 0.4"), 0);
  EXPECT_EQ(Current(kCapFeederLoaded), 0);
  EXPECT_EQ(Query("cap 0x1003"), "0");
  notices.clear();
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  EXPECT_EQ(State(), 5);
  EXPECT_TRUE(notices.empty());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (State() == 5 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Poll();
  }
  ASSERT_EQ(State(), 6);
  EXPECT_EQ(notices, std::vector<TW_UINT16>{MSG_XFERREADY});
  EXPECT_EQ(Pending(MSG_GET), 2);
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{1, 2}));
  Disable();
  // Loaded once: the next enable finds the feeder full at once.
  EXPECT_EQ(Current(kCapFeederLoaded), 1);
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 2);
}

// ---------------------------------------------------------------- autoscan

TEST_F(DocumentTest, StoppingTheFeederKeepsThePulledSheetsOnly) {
  ASSERT_EQ(VirtualScannerControl("pages 8"), 0);
  ToTransferReady();
  EXPECT_EQ(Pending(kMsgStopFeeder), -2) << "autoscan off";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(SetBool(kCapAutoScan, true), TWCC_SUCCESS);
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Pending(kMsgStopFeeder), -2) << "state 7";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(Pending(MSG_ENDXFER), 7);
  // Sheet 2 in the scanner, 3 and 4 pulled in behind it.
  EXPECT_EQ(Pending(kMsgStopFeeder), 3);
  EXPECT_EQ(State(), 6);
  EXPECT_EQ(Pending(MSG_GET), 3);
  EXPECT_EQ(Sides(TakeAll()), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(State(), 5);
  EXPECT_EQ(Query("feeder"), "4");
  EXPECT_EQ(Pending(kMsgStopFeeder), -2);
  Disable();
  // With duplex, both sides of the pulled sheets; an excluded separator beyond them stays.
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(SetBool(kCapAutoScan, true), TWCC_SUCCESS);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobExcludeContinue), TWCC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("patch-at 7 T"), 0);  // sheet 4's front
  ToTransferReady();
  EXPECT_EQ(Pending(MSG_GET), 14);
  EXPECT_EQ(Pending(kMsgStopFeeder), 6);
  auto pages = TakeAll();
  EXPECT_EQ(Sides(pages), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(pages.back().second, 0u) << "the separator was not pulled: no job ended";
  EXPECT_EQ(Query("feeder"), "5");
}

// ---------------------------------------------------------------- extended image information

TEST_F(DocumentTest, ExtendedImageInformationOnlyAfterATransferWasDone) {
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  std::vector<TW_INFO> items;
  // Not asked for in state 4.
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(SetBool(kIcapExtImageInfo, true), TWCC_SUCCESS);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE) << "state 4";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  ToTransferReady();
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE) << "state 6";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_SUCCESS);
  EXPECT_EQ(Call(DG_IMAGE, kDatExtImageInfo, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(Call(DG_IMAGE, kDatExtImageInfo, MSG_SET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  EXPECT_EQ(Pending(MSG_ENDXFER), 2);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE) << "after MSG_ENDXFER";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  // A cancelled transfer has nothing to tell.
  ASSERT_EQ(VirtualScannerControl("cancel-transfer"), 0);
  ASSERT_EQ(Transfer(), TWRC_CANCEL);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(Pending(MSG_ENDXFER), 1);
  // A memory transfer: after its last strip.
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(SetBool(kIcapExtImageInfo, true), TWCC_SUCCESS);
  GreyAt75Dpi();
  ToTransferReady();
  GreyPage();
  EXPECT_EQ(State(), 7);
  EXPECT_EQ(Info({kEiPageSide}, &items), TWRC_SUCCESS);
  EXPECT_EQ(items[0].ReturnCode, TWRC_SUCCESS);
}

TEST_F(DocumentTest, ItemsDescribeEachPageInline) {
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 3 2"), 0);
  ASSERT_EQ(VirtualScannerControl("barcode-at 2 INV-0042"), 0);
  ASSERT_EQ(VirtualScannerControl("barcode-at 2 order 7 of 9"), 0);
  ASSERT_EQ(VirtualScannerControl("barcode-at 4 ZX"), 0);
  ASSERT_EQ(SetBool(kIcapExtImageInfo, true), TWCC_SUCCESS);
  ASSERT_EQ(SetBool(kCapDuplexEnabled, true), TWCC_SUCCESS);
  ASSERT_EQ(Set16(kCapJobControl, TWTY_UINT16, kJobIncludeContinue), TWCC_SUCCESS);
  const std::vector<TW_UINT16> ids = {kEiPageSide,       kEiPatchCode,  kEiBarcodeCount, kEiBarcodeTextLength,
                                      kEiDocumentNumber, kEiPageNumber, 0x1249,          kEiBarcodeText};
  ToTransferReady();
  struct Expect {
    TW_UINT16 side;
    int patch;  // -1 none
    std::vector<std::string> barcodes;
    TW_UINT32 document, page;
  } expect[] = {
      {kSideTop, -1, {}, 1, 1},           {kSideBottom, -1, {"INV-0042", "order 7 of 9"}, 1, 2},
      {kSideTop, int(kPatch2), {}, 1, 3}, {kSideBottom, -1, {"ZX"}, 1, 4},
      {kSideTop, -1, {}, 2, 1},           {kSideBottom, -1, {}, 2, 2},
  };
  for (const Expect& e : expect) {
    SCOPED_TRACE(Query("page"));
    ASSERT_EQ(Transfer(), TWRC_XFERDONE);
    std::vector<TW_INFO> items;
    ASSERT_EQ(Info(ids, &items), TWRC_SUCCESS);
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(items[i].InfoID, ids[i]);
    EXPECT_EQ(items[0].ItemType, TWTY_UINT16);
    EXPECT_EQ(items[0].NumItems, 1);
    EXPECT_EQ(items[0].ReturnCode, TWRC_SUCCESS);
    EXPECT_EQ(items[0].Item, e.side);
    if (e.patch < 0) {
      EXPECT_EQ(items[1].ReturnCode, TWRC_DATANOTAVAILABLE);
    } else {
      EXPECT_EQ(items[1].ReturnCode, TWRC_SUCCESS);
      EXPECT_EQ(items[1].ItemType, TWTY_UINT32);
      EXPECT_EQ(items[1].Item, TW_UINTPTR(e.patch));
    }
    EXPECT_EQ(items[2].ItemType, TWTY_UINT32);
    EXPECT_EQ(items[2].Item, e.barcodes.size());
    EXPECT_EQ(items[4].Item, e.document);
    EXPECT_EQ(items[5].Item, e.page);
    EXPECT_EQ(items[6].ReturnCode, TWRC_INFONOTSUPPORTED) << "TWEI_PAPERCOUNT";
    EXPECT_EQ(items[6].NumItems, 0);
    if (e.barcodes.empty()) {
      EXPECT_EQ(items[3].ReturnCode, TWRC_DATANOTAVAILABLE);
      EXPECT_EQ(items[7].ReturnCode, TWRC_DATANOTAVAILABLE);
      EXPECT_EQ(items[7].Item, 0u);
    } else {
      // Lengths: one inline, several in a handle of TW_UINT32.
      EXPECT_EQ(items[3].NumItems, e.barcodes.size());
      std::vector<uint32_t> lengths;
      if (e.barcodes.size() == 1) {
        lengths.push_back(uint32_t(items[3].Item));
      } else {
        std::vector<uint8_t> b = Take(items[3]);
        ASSERT_EQ(b.size(), 4 * e.barcodes.size());
        for (size_t k = 0; k < e.barcodes.size(); ++k) lengths.push_back(At<uint32_t>(b, 4 * k));
      }
      // Texts: always a handle, each ended by a NUL.
      EXPECT_EQ(items[7].ItemType, kTypeHandle);
      EXPECT_EQ(items[7].NumItems, e.barcodes.size());
      std::vector<uint8_t> text = Take(items[7]);
      std::string joined;
      for (size_t k = 0; k < e.barcodes.size(); ++k) {
        EXPECT_EQ(lengths[k], e.barcodes[k].size());
        joined += e.barcodes[k] + std::string(1, '\0');
      }
      EXPECT_EQ(std::string(text.begin(), text.end()), joined);
    }
    Pending(MSG_ENDXFER);
  }
  EXPECT_EQ(State(), 5);
}

TEST_F(DocumentTest, HandleModePutsEveryItemInAHandle) {
  ASSERT_EQ(VirtualScannerControl("extimageinfo handle"), 0);
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("patch-at 1 6"), 0);
  ASSERT_EQ(SetBool(kIcapExtImageInfo, true), TWCC_SUCCESS);
  ToTransferReady();
  ASSERT_EQ(Transfer(), TWRC_XFERDONE);
  std::vector<TW_INFO> items;
  ASSERT_EQ(Info({kEiPageSide, kEiPatchCode, kEiPageNumber, kEiBarcodeCount}, &items), TWRC_SUCCESS);
  std::vector<uint8_t> side = Take(items[0]);
  ASSERT_EQ(side.size(), 2u);
  EXPECT_EQ(At<uint16_t>(side, 0), kSideTop);
  std::vector<uint8_t> patch = Take(items[1]);
  ASSERT_EQ(patch.size(), 4u);
  EXPECT_EQ(At<uint32_t>(patch, 0), kPatch6);
  EXPECT_EQ(At<uint32_t>(Take(items[2]), 0), 1u);
  EXPECT_EQ(At<uint32_t>(Take(items[3]), 0), 0u);
  for (const TW_INFO& i : items) EXPECT_EQ(i.NumItems, 1);
}
