// Construction and destruction: the Mac record shared through the "KARDIVELLE" atom, the
// Windows record per slot, and slots that lead nowhere.
#include <cstring>

#include "entry/entry.h"
#include "host/host_kit.h"
#include "tests/support/fixture.h"

#if !KV_WINDOWS_BUILD
#include <CarbonStandin.h>
#endif

namespace kvtest {
namespace {

class InstanceTest : public ExtensionTest {};

TEST_F(InstanceTest, ANewRecordIsReady) {
  TwainGlobals* g = Record();
  EXPECT_EQ(kSignatureCool, g->signature);
  EXPECT_FALSE(g->dsOpen || g->dsmOpen || g->dsEnabled || g->sourceSelected);
  EXPECT_EQ(0u, g->sourceIdentity.Id);
  EXPECT_EQ(kWindowsBuild ? 0u : 1u, g->appIdentity.Id);
  EXPECT_EQ(1, g->appIdentity.Version.MajorNum);
  EXPECT_EQ(kWindowsBuild ? 8 : 9, g->appIdentity.ProtocolMinor);
  char info[40];
  tw::GetString(g->appIdentity.Version.Info, sizeof g->appIdentity.Version.Info, info, !kWindowsBuild);
  EXPECT_STREQ(kWindowsBuild ? "v1.2" : "v1.2b1", info);
  if constexpr (!kWindowsBuild) {
    EXPECT_EQ(6, g->appIdentity.Version.Info[0]);  // length byte
  }
  char name[40];
  tw::GetString(g->appIdentity.ProductName, sizeof g->appIdentity.ProductName, name, !kWindowsBuild);
  EXPECT_STREQ("Kardivelle extension", name);
}

TEST_F(InstanceTest, MessageTwoWithAnEmptySlotDoesNothing) {
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Destruct();
  EXPECT_EQ(nullptr, host->Slot());
  host->UseInstance(0);
  EXPECT_NE(nullptr, Record());
}

TEST_F(InstanceTest, MessageZeroAgainOnTheSameSlot) {
  ASSERT_EQ("0", Call("Twain.Connect()"));
  TwainGlobals* g = Record();
  TW_IDENTITY opened = g->appIdentity;
  host->Construct();
  EXPECT_EQ(g, Record());
  if constexpr (kWindowsBuild) {
    EXPECT_TRUE(g->dsmOpen && g->dsOpen);  // changes nothing
  } else {
    // Re-initialised: the open DSM and source are forgotten, not closed.
    EXPECT_FALSE(g->dsmOpen || g->dsOpen);
    EXPECT_EQ(1u, g->appIdentity.Id);
    EXPECT_EQ("4", ScannerQuery("state"));
    // Give the record back what the DSM still holds, so that destruction closes it.
    g->appIdentity = opened;
    g->dsmOpen = g->dsOpen = 1;
  }
}

TEST_F(InstanceTest, AGarbageSlotIsNeverRead) {
  int other = host->AddInstance();
  host->UseInstance(other);
  static uint8_t garbage[4096];
  std::memset(garbage, 0xA5, sizeof garbage);
  host->Slot() = garbage;
  EXPECT_EQ("(nothing)", Call("Twain.Connect()"));
  host->Construct();
  if constexpr (kWindowsBuild) {
    EXPECT_NE(static_cast<void*>(garbage), host->Slot());  // a new record over it
    host->Destruct();
  } else {
    // The Mac adopts the registered record of instance 0.
    host->UseInstance(0);
    void* shared = host->Slot();
    host->UseInstance(other);
    EXPECT_EQ(shared, host->Slot());
    host->Slot() = nullptr;
  }
  host->Slot() = nullptr;
  host->UseInstance(0);
}

TEST_F(InstanceTest, MacInstancesShareTheRegisteredRecord) {
  if constexpr (kWindowsBuild) {
    GTEST_SKIP() << "Windows records are per slot";
  }
  void* first = host->Slot();
  EXPECT_EQ(first, host->Atom("KARDIVELLE"));
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  EXPECT_EQ(first, host->Slot());
  // The first destruction frees the shared record and removes the atom; the other slot then
  // behaves as empty.
  host->Destruct();
  EXPECT_EQ(nullptr, host->Atom("KARDIVELLE"));
  host->UseInstance(0);
  EXPECT_EQ(nullptr, Record());
  EXPECT_EQ("(nothing)", Call("Twain.About()"));
  host->Slot() = nullptr;
  host->Construct();
  EXPECT_NE(nullptr, Record());
}

TEST_F(InstanceTest, MacRecordThatIsNotReadyIsReplaced) {
  if constexpr (kWindowsBuild) {
    GTEST_SKIP() << "no atoms on Windows";
  }
  TwainGlobals* g = Record();
  g->signature = kSignatureLoad;
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  EXPECT_NE(static_cast<void*>(g), host->Slot());
  EXPECT_EQ(host->Slot(), host->Atom("KARDIVELLE"));
  host->Destruct();
  host->UseInstance(0);
  g->signature = kSignatureCool;
}

// A host that unloads and loads the bundle again keeps the atom: the record that the earlier
// load registered is adopted, not leaked beside a new one.
TEST_F(InstanceTest, MacAdoptsARecordThatAnEarlierLoadRegistered) {
  if constexpr (kWindowsBuild) {
    GTEST_SKIP() << "no atoms on Windows";
  }
  void* earlier = NewXPPointer(sizeof(TwainGlobals));
  ASSERT_NE(nullptr, earlier);
  std::memcpy(earlier, Record(), sizeof(TwainGlobals));  // ready, "KARDIVELLE", unknown to this load
  HostInfoRecord atom{};
  atom.name[0] = 10;
  std::memcpy(atom.name + 1, "KARDIVELLE", 10);
  atom.request = kInfoSetAtom;
  atom.value = earlier;
  host->SvcInstanceData(&atom);

  long blocks = LiveBlocks();
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  EXPECT_EQ(earlier, host->Slot());
  EXPECT_EQ(blocks, LiveBlocks()) << "a second record was allocated";
  EXPECT_EQ("0", Call("Twain.Connect()"));
  host->Destruct();  // frees the adopted record and unregisters it
  EXPECT_EQ(blocks - 1, LiveBlocks());
  EXPECT_EQ(nullptr, host->Atom("KARDIVELLE"));
  host->UseInstance(0);
}

// No memory for the record when the host loads the extension: a short beep, an empty slot,
// and every call of that instance leaves the return value as it was, About included.
TEST_F(InstanceTest, AnInstanceWithoutARecordAnswersNothing) {
#if KV_WINDOWS_BUILD
  GTEST_SKIP() << "allocation failures are injected through the Memory Manager stand-in";
#else
  host->Destruct();  // the registered record goes, so the next construction allocates
  int beeps = CarbonStandin_BeepCount();
  CarbonStandin_FailNthAllocation(1);
  host->Construct();
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ(beeps + 1, CarbonStandin_BeepCount());
  EXPECT_EQ("(nothing)", Call("Twain.About()"));
  EXPECT_EQ("(nothing)", Call("Twain.Connect()"));
#endif
}

TEST_F(InstanceTest, WindowsInstancesHaveRecordsOfTheirOwn) {
  if constexpr (!kWindowsBuild) {
    GTEST_SKIP() << "Mac records are shared";
  }
  void* first = host->Slot();
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  EXPECT_NE(first, host->Slot());
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  host->Destruct();
  host->UseInstance(0);
  EXPECT_EQ("\"1.2\"", Call("Twain.About()"));
}

}  // namespace
}  // namespace kvtest
