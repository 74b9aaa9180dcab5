// Twain.ScanPages and the feeder of a document scanner (the virtual scanner with `documents
// on`: a feeder beside its glass, CAP_FEEDERLOADED, CAP_AUTOMATICSENSEMEDIUM, CAP_AUTOSCAN):
// where the sheets come from (PAPERSOURCE), an empty feeder waited for (WAITFORPAPER, else
// 20), and a page limit that stops a feeder pulling sheets in ahead (MSG_STOPFEEDER).
#include <chrono>
#include <cstdio>
#include <string>

#include "tests/support/fixture.h"

#if !KV_WINDOWS_BUILD
#include "CarbonStandin.h"
#endif

namespace kvtest {
namespace {

const char* const kExt = kWindowsBuild ? ".bmp" : ".pict";

std::string PageFile(int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%04d", number);
  return std::string("sheet") + digits + kExt;
}

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

class FeederTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    RemovePages();
    ASSERT_EQ("0", Call("Twain.Connect()"));
    ASSERT_EQ(0, Scanner("documents on"));
  }
  void TearDown() override {
    RemovePages();
    ExtensionTest::TearDown();
  }
  static void RemovePages() {
    for (int i = 1; i <= 12; ++i) std::remove(PageFile(i).c_str());
    std::remove((std::string("sheet") + kExt).c_str());
  }
  void Option(const std::string& name, const std::string& value) {
    ASSERT_EQ("0", Call("Twain.SetOption(\"" + name + "\", " + value + ")")) << name;
  }
  // A batch into sheet-NNNN (maxPages as given, 0: every page): "answer/pageCount", and
  // the seconds it took.
  std::string Batch(int maxPages = 0, double* seconds = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    velmar::CallResult r = CallFull(std::string("Twain.ScanPages(\"sheet") + kExt + "\", $n, 0, 1, " +
                                    std::to_string(maxPages) + ")");
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r.result.Display() + "/" + host->Variable("n").Display();
  }
};

// ------------------------------------------------------------------ where the sheets come from

// AUTO: the feeder while it holds paper, else the glass, whatever the source was left at.
TEST_F(FeederTest, AutoTakesTheFeederWhenItHoldsPaperAndTheGlassWhenItIsEmpty) {
  ASSERT_EQ(0, Scanner("pages 3"));
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"FEEDERENABLED\", 0)"));  // left at the glass
  EXPECT_EQ("0/3", Batch());
  EXPECT_TRUE(Exists(PageFile(3)));
  EXPECT_EQ("0", ScannerQuery("feeder"));
  RemovePages();

  // An empty feeder in use would give no ready report: the glass gives its one page.
  ASSERT_EQ(0, Scanner("pages 0"));
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"FEEDERENABLED\", 1)"));
  double seconds = 0;
  EXPECT_EQ("0/1", Batch(0, &seconds));
  EXPECT_LT(seconds, 3.0);
  EXPECT_TRUE(Exists(PageFile(1)));
  EXPECT_FALSE(Exists(PageFile(2)));
}

// FLATBED: one page from the glass, the feeder's sheets left where they are, also after the
// source's own sensing was on.
TEST_F(FeederTest, FlatbedTakesOnePageFromTheGlassAndLeavesTheFeeder) {
  ASSERT_EQ(0, Scanner("pages 4"));
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"4155\", 1)"));  // CAP_AUTOMATICSENSEMEDIUM
  Option("PAPERSOURCE", "\"FLATBED\"");
  EXPECT_EQ("0/1", Batch());
  EXPECT_TRUE(Exists(PageFile(1)));
  EXPECT_FALSE(Exists(PageFile(2)));
  EXPECT_EQ("4", ScannerQuery("feeder"));
}

// FEEDER: the sheets of the feeder, though the source was left at the glass.
TEST_F(FeederTest, FeederTakesTheSheetsOfTheFeeder) {
  ASSERT_EQ(0, Scanner("pages 2"));
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"FEEDERENABLED\", 0)"));
  Option("PAPERSOURCE", "\"FEEDER\"");
  EXPECT_EQ("0/2", Batch());
  EXPECT_TRUE(Exists(PageFile(2)));
}

// A source without a feeder cannot be set to it: the answer a set capability gets, nothing
// scanned. AUTO keeps its glass, as always.
TEST_F(FeederTest, ASourceWithoutAFeederAnswersAsTheCapabilityDoes) {
  ASSERT_EQ(0, Scanner("documents off"));
  const std::string refused = Call("Twain.SetSourceCapability(\"FEEDERENABLED\", 1)");
  ASSERT_NE("0", refused);
  for (const char* word : {"\"FEEDER\"", "\"FLATBED\""}) {
    Option("PAPERSOURCE", word);
    EXPECT_EQ(refused + "/0", Batch()) << word;
    EXPECT_FALSE(Exists(PageFile(1))) << word;
    EXPECT_EQ("3", ScannerQuery("state")) << word;
  }
  Option("PAPERSOURCE", "\"AUTO\"");
  EXPECT_EQ("0/1", Batch());
}

// ------------------------------------------------------------------ an empty feeder

TEST_F(FeederTest, AnEmptyFeederWithoutAWaitAnswers20AtOnce) {
  ASSERT_EQ(0, Scanner("pages 0"));
  Option("PAPERSOURCE", "\"FEEDER\"");
  double seconds = 0;
  EXPECT_EQ("20/0", Batch(0, &seconds));
  EXPECT_LT(seconds, 0.5);
  EXPECT_FALSE(Exists(PageFile(1)));
  EXPECT_FALSE(Exists(std::string("sheet") + kExt));
  EXPECT_EQ("3", ScannerQuery("state"));
  // The next call works.
  ASSERT_EQ(0, Scanner("pages 1"));
  EXPECT_EQ("0/1", Batch());
}

TEST_F(FeederTest, PaperThatArrivesWithinTheWaitIsScanned) {
  ASSERT_EQ(0, Scanner("pages 3"));
  ASSERT_EQ(0, Scanner("feeder-loaded-after 1"));
  Option("PAPERSOURCE", "\"FEEDER\"");
  Option("WAITFORPAPER", "2");
  double seconds = 0;
  EXPECT_EQ("0/3", Batch(0, &seconds));
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 2.5);
  EXPECT_TRUE(Exists(PageFile(3)));
}

TEST_F(FeederTest, PaperThatComesTooLateAnswers20AfterTheWait) {
  ASSERT_EQ(0, Scanner("pages 3"));
  ASSERT_EQ(0, Scanner("feeder-loaded-after 3"));
  Option("PAPERSOURCE", "\"FEEDER\"");
  Option("WAITFORPAPER", "1");
  double seconds = 0;
  EXPECT_EQ("20/0", Batch(0, &seconds));
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 2.0);
  EXPECT_FALSE(Exists(PageFile(1)));
  EXPECT_EQ("3", ScannerQuery("state"));
}

#if !KV_WINDOWS_BUILD
// The longest wait on the Mac's virtual clock: an hour of looking four times a second, the
// host's events served, then 20. The feeder is asked about once per look, not in a busy loop.
TEST_F(FeederTest, TheLongestWaitLooksFourTimesASecondForAnHour) {
  struct VirtualClock {
    VirtualClock() { CarbonStandin_UseVirtualClock(true); }
    ~VirtualClock() { CarbonStandin_UseVirtualClock(false); }
  } clock;
  ASSERT_EQ(0, Scanner("pages 0"));
  Option("PAPERSOURCE", "\"FEEDER\"");
  Option("WAITFORPAPER", "3600");
  const double start = CarbonStandin_Now();
  const int callsBefore = std::stoi(ScannerQuery("calls"));
  double seconds = 0;
  EXPECT_EQ("20/0", Batch(0, &seconds));
  const double waited = CarbonStandin_Now() - start;
  // The clock's seconds are large numbers: their difference is exact to about a microsecond.
  EXPECT_GT(waited, 3600.0 - 0.001);
  EXPECT_LT(waited, 3601.0);
  const int calls = std::stoi(ScannerQuery("calls")) - callsBefore;
  EXPECT_GT(calls, 3600 * 4);
  EXPECT_LT(calls, 3600 * 4 * 2 + 200);  // a look is a request or two, not a spin
  EXPECT_LT(seconds, 60.0);
  EXPECT_EQ("3", ScannerQuery("state"));
}
#endif

// ------------------------------------------------------------------ the page limit

// The source is told the limit (CAP_XFERCOUNT) and ends the batch itself: the sheets after
// the last page stay in the feeder, autoscan or not.
TEST_F(FeederTest, ASourceThatKeepsToThePageLimitLeavesTheRestInTheFeeder) {
  ASSERT_EQ(0, Scanner("pages 10"));
  EXPECT_EQ("0/3", Batch(3));
  EXPECT_EQ("7", ScannerQuery("feeder"));
  RemovePages();
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"4112\", 1)"));  // CAP_AUTOSCAN
  EXPECT_EQ("0/3", Batch(3));
  EXPECT_TRUE(Exists(PageFile(3)));
  EXPECT_FALSE(Exists(PageFile(4)));
  EXPECT_EQ("7", ScannerQuery("feeder"));
  EXPECT_EQ("3", ScannerQuery("state"));
}

class IgnoredLimitTest : public FeederTest {
 protected:
  // The three capabilities the batch sets (AUTOMATICSENSEMEDIUM, XFERMECH, XFERCOUNT)
  // answer success and change nothing: CAP_XFERCOUNT stays -1, and the source hands over
  // whatever it has (the feeder, native transfers: its defaults). The scanner's faults
  // queue up, one taken at a time, so a fault queued after them meets the requests after.
  void IgnoreSets() {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(0, Scanner("fail 1 1 6 0 0"));
  }
  // The scanner afresh, the sets of a batch before that were not taken up forgotten: a
  // feeder of `pages`, autoscan on.
  void AutoscanAfresh(int pages) {
    ASSERT_EQ(0, Scanner("reset"));
    ASSERT_EQ(0, Scanner("documents on"));
    ASSERT_EQ(0, Scanner("pages " + std::to_string(pages)));
    ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"4112\", 1)"));  // CAP_AUTOSCAN
  }
};

// A source that ignores the limit and pulls sheets in ahead: its feeder is stopped before
// the last page, so only the sheets already pulled in are dropped after it.
TEST_F(IgnoredLimitTest, AnAutoscanFeederIsStoppedAndTheSheetsLeftStayInIt) {
  AutoscanAfresh(10);
  IgnoreSets();
  EXPECT_EQ("0/3", Batch(3));
  EXPECT_EQ("-1", ScannerQuery("cap 1"));
  EXPECT_TRUE(Exists(PageFile(3)));
  EXPECT_FALSE(Exists(PageFile(4)));
  EXPECT_EQ("5", ScannerQuery("feeder"));  // sheets 4 and 5 were pulled in
  EXPECT_EQ("3", ScannerQuery("state"));
  RemovePages();
  // maxPages 1: stopped before the first page (the sets of the first batch not taken up
  // are forgotten; the source, opened again, is at its defaults).
  AutoscanAfresh(10);
  IgnoreSets();
  EXPECT_EQ("0/1", Batch(1));
  EXPECT_EQ("-1", ScannerQuery("cap 1"));
  EXPECT_EQ("7", ScannerQuery("feeder"));
}

// Without autoscan, or with MSG_STOPFEEDER refused, the pages left are dropped after the
// last page (MSG_RESET), as a batch at its limit always did.
TEST_F(IgnoredLimitTest, WithoutAStoppedFeederThePagesLeftAreDropped) {
  ASSERT_EQ(0, Scanner("pages 10"));
  IgnoreSets();
  EXPECT_EQ("0/3", Batch(3));
  EXPECT_EQ("-1", ScannerQuery("cap 1"));
  EXPECT_EQ("0", ScannerQuery("feeder"));
  RemovePages();
  AutoscanAfresh(10);
  IgnoreSets();
  ASSERT_EQ(0, Scanner("fail 1 5 0x0702 1 11"));
  EXPECT_EQ("0/3", Batch(3));
  EXPECT_EQ("-1", ScannerQuery("cap 1"));
  EXPECT_EQ("1", ScannerQuery("cap 4112"));  // CAP_AUTOSCAN
  EXPECT_FALSE(Exists(PageFile(4)));
  EXPECT_EQ("0", ScannerQuery("feeder"));
  EXPECT_EQ("3", ScannerQuery("state"));
}

}  // namespace
}  // namespace kvtest
