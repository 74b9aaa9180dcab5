// The dispatcher's own answers: preconditions, codes 3, 4, 13, and what it leaves alone.
#include <cstdio>

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

// A scanner that is switched off refuses MSG_OPENDS with TWCC_CHECKDEVICEONLINE. Every call
// that needs it open answers that (3023), on both builds, rather than 13 ("connect first"):
// Connect, a choice by name and the scans and capability calls after it. Once it is on,
// the same calls work.
TEST_F(DispatchTest, ASourceThatCannotBeOpenedAnswersWhy) {
  const char* const calls[] = {
      "Twain.GetSourceCapability(\"XRESOLUTION\", $v)", "Twain.SetSourceCapability(\"XRESOLUTION\", 150)",
      "Twain.ScanToFile(\"off.img\")", "Twain.ScanToField($p:picture)", "Twain.ScanPages(\"off.img\", $n)"};
  for (const char* file : {"off.img", "off-0001.img"}) std::remove(file);
  for (size_t i = 0; i <= sizeof calls / sizeof calls[0]; ++i) ASSERT_EQ(0, Scanner("fail 1 3 0x401 1 23"));
  EXPECT_EQ("3023", Call("Twain.Connect()"));
  EXPECT_TRUE(Record()->dsmOpen) << "the source manager stays open";
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  for (const char* call : calls) {
    EXPECT_EQ("3023", Call(call)) << call;
    EXPECT_FALSE(Record()->dsOpen) << call;
  }
  EXPECT_EQ("", host->Variable("v").text) << "nothing read";
  EXPECT_EQ("0", host->Variable("n").Display());
  EXPECT_EQ("picture (none)", host->Variable("p").Display());
  EXPECT_EQ(nullptr, std::fopen("off.img", "rb"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $v)"));
  EXPECT_EQ("100", host->Variable("v").Display());
}

// A capability's number is taken from a text only when the text is wholly a number: "abc"
// and "" answer 10 and set nothing, where the host would read them as 0.
TEST_F(DispatchTest, ANumericCapabilityTakesATextOnlyWhenItIsWhollyANumber) {
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"BRIGHTNESS\", 100, \"CONTRAST\", 50)"));
  EXPECT_EQ("10", Call("Twain.SetSourceCapability(\"BRIGHTNESS\", \"abc\", \"CONTRAST\", \"\")"));
  for (const char* text : {"\"\"", "\"12abc\"", "\"1e2\"", "\" \"", "$empty"}) {
    EXPECT_EQ("10", Call(std::string("Twain.SetSourceCapability(\"CONTRAST\", ") + text + ")")) << text;
    EXPECT_EQ("10", Call(std::string("Twain.SetSourceCapability(\"XRESOLUTION\", ") + text + ")")) << text;
  }
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"BRIGHTNESS\", $b, \"CONTRAST\", $c, \"XRESOLUTION\", $x)"));
  EXPECT_EQ("100 50 100", host->Variable("b").Display() + " " + host->Variable("c").Display() + " " +
                              host->Variable("x").Display());
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"BRIGHTNESS\", \" -250.5 \", \"XRESOLUTION\", \"150\")"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"BRIGHTNESS\", $b, \"XRESOLUTION\", $x)"));
  EXPECT_EQ("-250.5 150", host->Variable("b").Display() + " " + host->Variable("x").Display());
}

// The page limit follows one rule for numbers and texts: a whole number beyond 32 bits is
// every page either way, not 3 as a text and a limit as a number.
TEST_F(DispatchTest, APageLimitBeyond32BitsIsTheSameAsTextAndAsNumber) {
  ASSERT_EQ(0, Scanner("pages 2"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  for (const char* limit : {"99999999999999999999", "\"99999999999999999999\"", "\" 2.0 \""}) {
    EXPECT_EQ("0", Call(std::string("Twain.ScanPages(\"limit.img\", $n, 0, 1, ") + limit + ")")) << limit;
    EXPECT_EQ("2", host->Variable("n").Display()) << limit;
    std::remove("limit-0001.img");
    std::remove("limit-0002.img");
  }
  EXPECT_EQ("3", Call("Twain.ScanPages(\"limit.img\", $n, 0, 1, \"2 pages\")"));
}

}  // namespace
}  // namespace kvtest
