// Connect, select, reset and disconnect against the build's real DSM and the virtual scanner.
#include <cstring>

#include "tests/support/fixture.h"

namespace kvtest {
namespace {

std::string ProductName(const TW_IDENTITY& id) {
  char name[40];
  tw::GetString(id.ProductName, sizeof id.ProductName, name, !kWindowsBuild);
  return name;
}

class ConnectionTest : public ExtensionTest {
 protected:
  void ExpectState(bool dsm, bool ds, bool enabled) {
    TwainGlobals* g = Record();
    EXPECT_EQ(dsm, g->dsmOpen != 0);
    EXPECT_EQ(ds, g->dsOpen != 0);
    EXPECT_EQ(enabled, g->dsEnabled != 0);
    // The scanner's own view agrees with the flags.
    EXPECT_EQ(ds ? (enabled ? "5" : "4") : "3", ScannerQuery("state"));
  }
};

TEST_F(ConnectionTest, ConnectOpensTheDefaultSourceAndASecondConnectSendsNothing) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  ExpectState(true, true, false);
  // Wine's DSM fills in only the Id when it opens the default source.
  if constexpr (!kWindowsBuild) {
    EXPECT_EQ("Virtual Scanner", ProductName(Record()->sourceIdentity));
  }
  EXPECT_NE(0u, Record()->sourceIdentity.Id);
  long before = DsmCalls();
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(before, DsmCalls());
}

TEST_F(ConnectionTest, DisconnectWithNothingOpenSendsNothing) {
  long before = DsmCalls();
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ(before, DsmCalls());
  ExpectState(false, false, false);
}

TEST_F(ConnectionTest, DisconnectClosesSourceAndDsmAndConnectWorksAgain) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  ExpectState(false, false, false);
  if constexpr (kWindowsBuild) {
    EXPECT_FALSE(Record()->dsmBound);
  }
  EXPECT_EQ("0", Call("Twain.Connect()"));
  ExpectState(true, true, false);
  EXPECT_TRUE(Record()->dsmBound);
}

TEST_F(ConnectionTest, ResetReopensTheSameSource) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  std::string before = ProductName(Record()->sourceIdentity);
  EXPECT_EQ("(nothing)", Call("Twain.Reset()"));
  ExpectState(true, true, false);
  EXPECT_EQ(before, ProductName(Record()->sourceIdentity));
}

TEST_F(ConnectionTest, ResetWithOnlyTheDsmOpenReopensOnlyTheDsm) {
  std::string error;
  ASSERT_TRUE(velmar::ArrangeSelection(*host, -1, &error)) << error;
  EXPECT_EQ("5", Call("Twain.SelectDataSource()"));  // opens the DSM, not the source
  velmar::EndSelection();
  ExpectState(true, false, false);
  EXPECT_EQ("(nothing)", Call("Twain.Reset()"));
  ExpectState(true, false, false);
}

TEST_F(ConnectionTest, SelectingASourceIsRememberedForTheNextOpen) {
  std::string error;
  ASSERT_TRUE(velmar::ArrangeSelection(*host, VirtualScannerChoice(), &error)) << error;
  EXPECT_EQ("0", Call("Twain.SelectDataSource()"));
  velmar::EndSelection();
  EXPECT_TRUE(Record()->sourceSelected);
  EXPECT_EQ("Virtual Scanner", ProductName(Record()->sourceIdentity));
  ExpectState(true, false, false);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  ExpectState(true, true, false);
}

TEST_F(ConnectionTest, ACancelledSelectionAnswers5AndChangesNothing) {
  std::string error;
  ASSERT_TRUE(velmar::ArrangeSelection(*host, -1, &error)) << error;
  EXPECT_EQ("5", Call("Twain.SelectDataSource()"));
  velmar::EndSelection();
  EXPECT_FALSE(Record()->sourceSelected);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("4", ScannerQuery("state"));  // the default source is open
}

TEST_F(ConnectionTest, DestructionClosesWhatIsOpen) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  host->Destruct();
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ("3", ScannerQuery("state"));
  host->Construct();
}

}  // namespace
}  // namespace kvtest
