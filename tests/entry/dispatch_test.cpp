// The dispatcher's own answers: preconditions, codes 3, 4, 13, and what it leaves alone.
#include "tests/support/fixture.h"

#include "host/host_kit.h"

namespace kvtest {
namespace {

class DispatchTest : public ExtensionTest {};

TEST_F(DispatchTest, AboutAnswersTheVersionWhateverTheState) {
  EXPECT_EQ("\"1.2\"", Call("Twain.About()"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("\"1.2\"", Call("Twain.About()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("\"1.2\"", Call("Twain.About(1, \"x\")"));
}

TEST_F(DispatchTest, FunctionsThatNeedTheDsmAnswer13BeforeConnect) {
  EXPECT_EQ("13", Call("Twain.Reset()"));
  EXPECT_EQ("13", Call("Twain.GetSourceCapability(\"XFERCOUNT\", $v)"));
  EXPECT_EQ("13", Call("Twain.SetSourceCapability(\"XFERCOUNT\", 1)"));
  EXPECT_EQ("13", Call("Twain.GetSourceCapRange(\"XFERCOUNT\", $v)"));
  EXPECT_EQ("13", Call("Twain.ScanToFile(\"page.img\")"));
  EXPECT_EQ("13", Call("Twain.ScanToField($p:picture)"));
}

TEST_F(DispatchTest, ScanWithoutPathAnswers3WithoutAskingTheDsm) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  long before = DsmCalls();
  EXPECT_EQ("3", Call("Twain.ScanToFile()"));
  EXPECT_EQ("3", Call("Twain.ScanToFile(\"\")"));
  EXPECT_EQ("3", Call("Twain.ScanToFile(\"\", 1, 0)"));
  EXPECT_EQ("3", Call("Twain.ScanToField()"));
  EXPECT_EQ("3", Call("Twain.ScanToField($n)"));  // not a picture field
  EXPECT_EQ(before, DsmCalls());
}

TEST_F(DispatchTest, ScanToFileSetsThePlatformFormatBeforeItsChecks) {
  Record()->fileFormat = 7;
  EXPECT_EQ("3", Call("Twain.ScanToFile(\"\")"));
  EXPECT_EQ(kWindowsBuild ? 2 : 1, Record()->fileFormat);
  Record()->fileFormat = 7;
  EXPECT_EQ("13", Call("Twain.ScanToFile(\"page.img\", 0, 4)"));  // DSM closed
  EXPECT_EQ(kWindowsBuild ? 2 : 1, Record()->fileFormat);
}

TEST_F(DispatchTest, FunctionNumbersOutsideTheCatalogueAnswer0) {
  for (int n : {0, 16, -1, 300}) {
    velmar::CallResult r = host->Call(n, {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ("0", r.result.Display()) << n;
  }
}

TEST_F(DispatchTest, AnEmptySlotWritesNothing) {
  void* record = host->Slot();
  host->Slot() = nullptr;
  EXPECT_EQ("(nothing)", Call("Twain.About()"));
  EXPECT_EQ("(nothing)", Call("Twain.Connect()"));
  host->Slot() = record;
}

TEST_F(DispatchTest, ResetWithTheDsmOpenWritesNothing) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("(nothing)", Call("Twain.Reset()"));
}

}  // namespace
}  // namespace kvtest
