// Installed copies: their descriptions, the identity and profile a description gives, and a
// TWAIN 2 copy's entry points, memory and notices.
#include <set>

#include "standins/virtual-scanner/tests/support.h"

namespace {

constexpr TW_UINT16 kFeederEnabled = 0x1002, kFeederLoaded = 0x1003;

vs::Model Parsed(const std::string& text, std::string* error = nullptr) {
  vs::Model m;
  m.productName = "untouched";
  std::string why;
  EXPECT_TRUE(vs::ParseModel(text, &m, &why)) << text << ": " << why;
  if (error) *error = why;
  return m;
}

std::string Refused(const std::string& text) {
  vs::Model m;
  m.productName = "untouched";
  std::string why;
  EXPECT_FALSE(vs::ParseModel(text, &m, &why)) << text;
  EXPECT_EQ(m.productName, "untouched") << "a refused description changes nothing";
  return why;
}

// ---------------------------------------------------------------- a TWAIN 2 manager of the test's own
// Entry points that count what the source does with them; blocks are fixed global memory.
struct TestManager {
  std::set<TW_HANDLE> live;
  int allocations = 0, locks = 0, unlocks = 0, strangers = 0;  // strangers: locks of blocks not ours
  struct Notice {
    TW_UINT32 origin, dest, dg;
    TW_UINT16 dat, msg;
  };
  std::vector<Notice> notices;
};
TestManager* g_manager = nullptr;

TW_HANDLE TW_CALLINGSTYLE TestAllocate(TW_UINT32 size) {
#if KV_WINDOWS_BUILD
  TW_HANDLE h = GlobalAlloc(GPTR, size);
#else
  Handle block = NewHandle(Size(size));
  std::memset(*block, 0, size);
  TW_HANDLE h = block;
#endif
  ++g_manager->allocations;
  g_manager->live.insert(h);
  return h;
}
void TW_CALLINGSTYLE TestFree(TW_HANDLE h) {
  EXPECT_EQ(g_manager->live.erase(h), 1u) << "a free of a block the manager did not give out";
  FreeHandle(h);
}
TW_MEMREF TW_CALLINGSTYLE TestLock(TW_HANDLE h) {
  ++g_manager->locks;
  if (!g_manager->live.count(h)) ++g_manager->strangers;
#if KV_WINDOWS_BUILD
  return GlobalLock(h);
#else
  HLock(static_cast<Handle>(h));
  return *static_cast<Handle>(h);
#endif
}
void TW_CALLINGSTYLE TestUnlock(TW_HANDLE h) {
  ++g_manager->unlocks;
#if KV_WINDOWS_BUILD
  GlobalUnlock(h);
#else
  HUnlock(static_cast<Handle>(h));
#endif
}
TW_UINT16 TW_CALLINGSTYLE TestDsmEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                       TW_UINT16 msg, TW_MEMREF) {
  g_manager->notices.push_back({origin ? origin->Id : 0, dest ? dest->Id : 0, dg, dat, msg});
  return TWRC_SUCCESS;
}

TW_ENTRYPOINT Points() {
  TW_ENTRYPOINT e{};
  e.Size = sizeof e;
  e.DSM_Entry = TestDsmEntry;
  e.DSM_MemAllocate = TestAllocate;
  e.DSM_MemFree = TestFree;
  e.DSM_MemLock = TestLock;
  e.DSM_MemUnlock = TestUnlock;
  return e;
}

// A copy of the scanner, closed: the tests open it themselves. Back to the plain scanner after.
class CopyTest : public ScannerTest {
 protected:
  void SetUp() override {
    g_manager = &manager;
    ScannerTest::SetUp();
    Close();
  }
  void TearDown() override {
    ScannerTest::TearDown();
    vs::Scanner::Instance().Configure(vs::Model{});
    VirtualScannerControl("reset");
    g_manager = nullptr;
  }
  void Become(const std::string& description) { vs::Scanner::Instance().Configure(Parsed(description)); }
  TW_UINT16 GiveEntryPoints(TW_ENTRYPOINT points = Points()) {
    return Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
  }
  TW_UINT16 Open() { return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self); }
  TW_IDENTITY Identity() {
    TW_IDENTITY id{};
    EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    return id;
  }
  std::string Name(const TW_IDENTITY& id) {
    return nat::kPascalStrings ? std::string(id.ProductName + 1, TW_UINT8(id.ProductName[0])) : id.ProductName;
  }
  TestManager manager;
};

}  // namespace

// ---------------------------------------------------------------- descriptions

TEST(CopyDescription, ReadsEveryKeyWithBlanksCommentsAndWindowsLineEnds) {
  vs::Model m = Parsed(
      "; a copy\r\n# for the suites\r\n\r\n  ProductName = Feeder Two \r\nTwain2=1\r\n"
      "Feeder=1\r\nSheets=7");
  EXPECT_EQ(m.productName, "Feeder Two");
  EXPECT_TRUE(m.twain2);
  EXPECT_TRUE(m.feeder);
  EXPECT_EQ(m.sheets, 7);

  m = Parsed("ProductName=Flatbed One\nTwain2=0\nFeeder=0\n");
  EXPECT_EQ(m.productName, "Flatbed One");
  EXPECT_FALSE(m.twain2);
  EXPECT_FALSE(m.feeder);

  // A name of 32 characters fills TW_STR32.
  EXPECT_EQ(Parsed("ProductName=" + std::string(32, 'x')).productName, std::string(32, 'x'));
}

TEST(CopyDescription, RefusesWhatItCannotTakeAndSaysWhere) {
  EXPECT_NE(Refused("Twain2=1\n").find("ProductName"), std::string::npos) << "a copy needs a name";
  EXPECT_EQ(Refused("ProductName=A\nTwain2=yes\n"), "line 2: Twain2 is 0 or 1");
  Refused("ProductName=A\nFeeder=2\n");
  Refused("ProductName=" + std::string(33, 'x'));
  Refused("ProductName=\n");
  EXPECT_NE(Refused("ProductName=A\nproductname=B\n").find("unknown key productname"), std::string::npos);
  EXPECT_NE(Refused("ProductName=A\nProductName=B\n").find("twice"), std::string::npos);
  Refused("ProductName=A\nTwain2\n");
  Refused("ProductName=A\nFeeder=1\nSheets=0\n");
  Refused("ProductName=A\nFeeder=1\nSheets=32768\n");
  Refused("ProductName=A\nFeeder=1\nSheets=3x\n");
  Refused("ProductName=A\nSheets=3\n");
}

// ---------------------------------------------------------------- identity and profile

TEST_F(CopyTest, OnlyATwain2CopySaysDf2AndProtocol24) {
  Become("ProductName=Flatbed One\n");
  TW_IDENTITY id = Identity();
  EXPECT_EQ(Name(id), "Flatbed One");
  EXPECT_EQ(id.SupportedGroups, DG_CONTROL | DG_IMAGE);
  EXPECT_EQ(id.ProtocolMajor, 1);
  EXPECT_EQ(id.ProtocolMinor, 9);

  Become("ProductName=Feeder Two\nTwain2=1\nFeeder=1\n");
  id = Identity();
  EXPECT_EQ(Name(id), "Feeder Two");
  EXPECT_EQ(id.SupportedGroups, DG_CONTROL | DG_IMAGE | DF_DS2);
  EXPECT_EQ(id.ProtocolMajor, 2);
  EXPECT_EQ(id.ProtocolMinor, 4);

  vs::Scanner::Instance().Configure(vs::Model{});
  id = Identity();
  EXPECT_EQ(Name(id), "Virtual Scanner");
  EXPECT_EQ(id.SupportedGroups, DG_CONTROL | DG_IMAGE) << "no description: the scanner as it always was";
}

TEST_F(CopyTest, AFeederCopyListsItsFeederAndLoadsItsSheetsEvenAfterReset) {
  Become("ProductName=Feeder Three\nFeeder=1\nSheets=4\n");
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  ASSERT_EQ(Open(), TWRC_SUCCESS);
  TW_UINT16 conType = 0;
  for (TW_UINT16 cap : {kFeederEnabled, kFeederLoaded}) {
    std::vector<uint8_t> b = Get(cap, &conType);
    ASSERT_FALSE(b.empty()) << cap;
    EXPECT_EQ(conType, TWON_ONEVALUE);
    EXPECT_EQ(At<TW_UINT16>(b, 0), TWTY_BOOL);
    EXPECT_EQ(At<TW_UINT16>(b, tw::kContainers.oneValueItem), 1);
    EXPECT_EQ(Set16(cap, TWTY_BOOL, 0), TWCC_CAPBADOPERATION) << "a sheet-fed scanner has no glass";
  }
  ToTransferReady();
  TW_PENDINGXFERS p{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 4);
  Close();

  // The flatbed has no feeder capabilities and announces one page.
  Become("ProductName=Flatbed One\n");
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  ASSERT_EQ(Open(), TWRC_SUCCESS);
  TW_UINT16 rc = 0;
  EXPECT_TRUE(Get(kFeederEnabled, &conType, MSG_GET, &rc).empty());
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_CAPUNSUPPORTED);
  ToTransferReady();
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &p), TWRC_SUCCESS);
  EXPECT_EQ(p.Count, 1);
}

// ---------------------------------------------------------------- DAT_ENTRYPOINT

TEST_F(CopyTest, A1xCopyHasNoEntryPoints) {
  Become("ProductName=Flatbed One\n");
  EXPECT_EQ(GiveEntryPoints(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  ASSERT_EQ(Open(), TWRC_SUCCESS);
  EXPECT_FALSE(Get(ICAP_XRESOLUTION).empty());
  EXPECT_EQ(manager.allocations, 0) << "a 1.x copy allocates global memory itself";
}

TEST_F(CopyTest, ATwain2CopyTakesEntryPointsOfItsWidthBeforeEachOpen) {
  Become("ProductName=Feeder Two\nTwain2=1\n");
  EXPECT_EQ(Open(), TWRC_FAILURE) << "MSG_OPENDS before DAT_ENTRYPOINT";
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);

  const TW_UINT32 otherWidth = sizeof(void*) == 8 ? 24 : 44;
  for (TW_UINT32 size :
       {TW_UINT32(0), TW_UINT32(sizeof(TW_ENTRYPOINT) - 1), TW_UINT32(sizeof(TW_ENTRYPOINT) + 1), otherWidth}) {
    TW_ENTRYPOINT points = Points();
    points.Size = size;
    EXPECT_EQ(GiveEntryPoints(points), TWRC_FAILURE) << size;
    EXPECT_EQ(Status(), TWCC_BADPROTOCOL) << size;
  }
  EXPECT_EQ(Open(), TWRC_FAILURE) << "refused entry points are not kept";
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  TW_ENTRYPOINT missing = Points();
  missing.DSM_MemLock = nullptr;
  EXPECT_EQ(GiveEntryPoints(missing), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  TW_ENTRYPOINT points = Points();
  EXPECT_EQ(Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL) << "a source only takes them";

  ASSERT_EQ(GiveEntryPoints(), TWRC_SUCCESS);
  ASSERT_EQ(Open(), TWRC_SUCCESS);
  EXPECT_EQ(GiveEntryPoints(), TWRC_FAILURE) << "while open";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Close();
  EXPECT_EQ(Open(), TWRC_FAILURE) << "each session gets them anew";
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
}

#if KV_WINDOWS_BUILD
// The Windows adapter's memory: the Mac's manager hands out no memory functions of its own here.
TEST_F(CopyTest, ATwain2CopysHandlesAreTheManagersBothWays) {
  Become("ProductName=Feeder Two\nTwain2=1\n");
  ASSERT_EQ(GiveEntryPoints(), TWRC_SUCCESS);
  ASSERT_EQ(Open(), TWRC_SUCCESS);

  // Containers handed out: the manager's blocks, locked and unlocked through it.
  TW_CAPABILITY cap{ICAP_XRESOLUTION, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
  EXPECT_TRUE(manager.live.count(cap.hContainer));
  EXPECT_EQ(manager.locks, manager.unlocks);
  EXPECT_GT(manager.locks, 0);
  std::vector<uint8_t> got = HandleBytes(cap.hContainer);
  EXPECT_EQ(At<TW_UINT32>(got, tw::kContainers.enumNumItems), 7u);
  TestFree(cap.hContainer);

  // A container the application hands in is read through the manager.
  const int locksBefore = manager.locks;
  std::vector<uint8_t> value = OneValueOf(TWTY_FIX32, Fix(300));
  TW_CAPABILITY set{ICAP_XRESOLUTION, TWON_ONEVALUE, TestAllocate(TW_UINT32(value.size()))};
  std::memcpy(set.hContainer, value.data(), value.size());  // fixed memory: the handle is the block
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set), TWRC_SUCCESS);
  EXPECT_GT(manager.locks, locksBefore);
  EXPECT_EQ(manager.locks, manager.unlocks);
  TestFree(set.hContainer);
  EXPECT_EQ(Query("cap 0x1118"), "300");

  // The native image.
  ToTransferReady();
  TW_HANDLE dib = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  ASSERT_TRUE(manager.live.count(dib));
  auto* header = static_cast<BITMAPINFOHEADER*>(dib);
  EXPECT_EQ(header->biWidth, 2550);  // 8.5 inches at 300 dots per inch
  EXPECT_EQ(header->biBitCount, 24);
  TestFree(dib);
  EXPECT_EQ(manager.strangers, 0);
  EXPECT_TRUE(manager.live.empty()) << "the source keeps none of the manager's blocks";
}

TEST_F(CopyTest, ATwain2CopyNotifiesThroughTheManagersEntry) {
  Become("ProductName=Feeder Two\nTwain2=1\n");
  vs::Scanner::Instance().SetNotifyHook(nullptr);
  ASSERT_EQ(GiveEntryPoints(), TWRC_SUCCESS);
  app.Id = 3;
  self.Id = 9;
  ASSERT_EQ(Open(), TWRC_SUCCESS);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  Poll();
  ASSERT_EQ(State(), 6);
  ASSERT_EQ(manager.notices.size(), 1u);
  const TestManager::Notice& n = manager.notices[0];
  EXPECT_EQ(n.origin, 9u) << "from the source, as the manager knows it";
  EXPECT_EQ(n.dest, 3u) << "to the application";
  EXPECT_EQ(n.dg, DG_CONTROL);
  EXPECT_EQ(n.dat, DAT_NULL);
  EXPECT_EQ(n.msg, MSG_XFERREADY);
}
#endif
