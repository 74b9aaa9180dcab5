// Twain.ScanPages with BLANKPAGES "DISCARD" against the virtual scanner's blank and nearly
// blank sheets (blank-at, nearly-blank-at), in every pixel type, by native and by memory
// transfer: blank pages are neither written nor counted, the files written keep consecutive
// numbers, DISCARDED counts what was left out; nearly blank pages stay. Where the independent
// reader runs, the pages that stayed are told apart by their pixels.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"

namespace kvtest {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string PageFile(int number, const char* ext) {
  char name[32];
  std::snprintf(name, sizeof name, "blank-%04d%s", number, ext);
  return name;
}

struct Case {
  int pixelType;
  const char* transfer;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  static const char* const kTypes[] = {"BlackWhite", "Grey", "Colour"};
  return std::string(kTypes[info.param.pixelType]) + info.param.transfer;
}

class ScanBlankPagesTest : public ExtensionTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    Remove();
  }
  void TearDown() override {
    Remove();
    ExtensionTest::TearDown();
  }
  static void Remove() {
    for (int i = 1; i <= 6; ++i)
      for (const char* ext : {".png", ".jpg", ".tif"}) std::remove(PageFile(i, ext).c_str());
    std::remove("blank.tif");
  }
  // A feeder of `pages` sheets in the case's pixel type and transfer.
  void Connect(int pages) {
    ASSERT_EQ(0, Scanner("pages " + std::to_string(pages)));
    ASSERT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"" + std::string(GetParam().transfer) + "\")"));
    ASSERT_EQ("0", Call("Twain.Connect()"));
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", " + std::to_string(GetParam().pixelType) + ")"));
  }
  // The batch's answer, page count and DISCARDED: "0 4/1".
  std::string Batch(const std::string& file, int code, int maxPages = 0) {
    velmar::CallResult r = CallFull("Twain.ScanPages(\"" + file + "\", $n, 0, " + std::to_string(code) + ", " +
                                    std::to_string(maxPages) + ")");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ("0", Call("Twain.GetOption(\"DISCARDED\", $d)"));
    return r.result.Display() + " " + host->Variable("n").Display() + "/" + host->Variable("d").Display();
  }
  void ExpectFiles(int n, const char* ext) {
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(Exists(PageFile(i, ext))) << PageFile(i, ext);
    EXPECT_FALSE(Exists(PageFile(n + 1, ext))) << PageFile(n + 1, ext);
  }
  // Whether the page file is a sheet (no black where the chart has its black bar); and, a
  // sheet, whether it carries the heading (black on the third letter's bar).
  static bool IsSheet(const std::string& file) {
    const ImageFacts f = Identify(file);
    return PixelAt(file, f.width * 15 / 16, f.height / 4) != "0,0,0";
  }
  static bool HasHeading(const std::string& file) {
    const ImageFacts f = Identify(file);
    return PixelAt(file, int(f.width * 1.44 / 8.5), int(f.height * 1.6 / 11)) == "0,0,0";
  }
};

// Sheets 2 and 5 blank, 4 nearly blank: pages 1, 3, 4 and 6 written as 1 to 4.
TEST_P(ScanBlankPagesTest, BlankSheetsAreLeftOutAndNearlyBlankOnesStay) {
  ASSERT_EQ(0, Scanner("blank-at 2"));
  ASSERT_EQ(0, Scanner("nearly-blank-at 4"));
  Connect(5);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 4/1", Batch("blank.png", 7));
  ExpectFiles(4, ".png");
  if (ReaderAvailable()) {
    EXPECT_FALSE(IsSheet(PageFile(1, ".png")));
    EXPECT_FALSE(IsSheet(PageFile(2, ".png")));
    EXPECT_TRUE(IsSheet(PageFile(3, ".png")));
    EXPECT_TRUE(HasHeading(PageFile(3, ".png")));
    EXPECT_FALSE(IsSheet(PageFile(4, ".png")));
  }
  // Kept (the default): every sheet written, nothing left out.
  Remove();
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"KEEP\")"));
  EXPECT_EQ("0 5/0", Batch("blank.png", 7));
  ExpectFiles(5, ".png");
}

// A multi-page TIFF: the blank page is never added to the book.
TEST_P(ScanBlankPagesTest, BlankSheetIsNotAddedToABook) {
  ASSERT_EQ(0, Scanner("blank-at 1"));
  Connect(3);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 2/1", Batch("blank.tif", 6));
  EXPECT_TRUE(Exists("blank.tif"));
  if (ReaderAvailable()) {
    EXPECT_FALSE(IsSheet("blank.tif[0]"));
  }
}

// Grey and colour pages the source compressed as JPEG go to their files as they come; a blank
// one is decoded to be judged, and its file removed.
class ScanBlankJpegTest : public ScanBlankPagesTest {};

TEST_P(ScanBlankJpegTest, BlankSheetSentAsJpegIsDecodedAndLeftOut) {
  ASSERT_EQ(0, Scanner("blank-at 2"));
  ASSERT_EQ(0, Scanner("nearly-blank-at 3"));
  Connect(3);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\", \"COMPRESSION\", \"JPEG\")"));
  EXPECT_EQ("0 2/1", Batch("blank.jpg", 4));
  ExpectFiles(2, ".jpg");
}

INSTANTIATE_TEST_SUITE_P(EveryPixelTypeAndTransfer, ScanBlankPagesTest,
                         ::testing::Values(Case{0, "NATIVE"}, Case{1, "NATIVE"}, Case{2, "NATIVE"},
                                           Case{0, "MEMORY"}, Case{1, "MEMORY"}, Case{2, "MEMORY"}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(GreyAndColour, ScanBlankJpegTest,
                         ::testing::Values(Case{1, "MEMORY"}, Case{2, "MEMORY"}), CaseName);

class ScanBlankRulesTest : public ScanBlankPagesTest {};

// The rules of a blank page against what a scanner makes of one: grey paper is no ink (the
// blank sheet scanned darker, grey 185), nor are the edge's shadow and isolated specks (at a
// limit of no ink at all); the page limit counts the sheets taken, blank ones included.
TEST_P(ScanBlankRulesTest, GreyPaperShadowAndSpecksAreNoInk) {
  ASSERT_EQ(0, Scanner("blank-at 1"));
  Connect(3);
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"BRIGHTNESS\", -215)"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\", \"BLANKINK\", 0)"));
  EXPECT_EQ("0 2/1", Batch("blank.png", 7));
  ExpectFiles(2, ".png");
  Remove();
  EXPECT_EQ("0 1/1", Batch("blank.png", 7, 2));  // two sheets taken, one written
  ExpectFiles(1, ".png");
}

// The nearly blank sheet holds about 0.3 % ink: a limit above it leaves it out too.
TEST_P(ScanBlankRulesTest, LimitDecidesForANearlyBlankSheet) {
  ASSERT_EQ(0, Scanner("nearly-blank-at 2"));
  Connect(2);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\", \"BLANKINK\", 0.25)"));
  EXPECT_EQ("0 2/0", Batch("blank.png", 7));
  Remove();
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKINK\", 0.4)"));
  EXPECT_EQ("0 1/1", Batch("blank.png", 7));
}

// Every sheet of the feeder blank: pages came, none is kept. The answer says so (18), not
// "nothing came" (5); no file, a page count of 0, every sheet counted as left out.
TEST_P(ScanBlankRulesTest, EverySheetBlankAnswers18AndWritesNothing) {
  for (const char* sheet : {"blank-at 1", "blank-at 2", "blank-at 3"}) ASSERT_EQ(0, Scanner(sheet));
  Connect(3);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("18 0/3", Batch("blank.png", 7));
  ExpectFiles(0, ".png");
  EXPECT_EQ("18 0/3", Batch("blank.tif", 6));
  EXPECT_FALSE(Exists("blank.tif"));
  // One sheet with writing among them: a batch as usual.
  ASSERT_EQ(0, Scanner("nearly-blank-at 2"));
  EXPECT_EQ("0 1/2", Batch("blank.png", 7));
  ExpectFiles(1, ".png");
}

INSTANTIATE_TEST_SUITE_P(NativeAndMemory, ScanBlankRulesTest,
                         ::testing::Values(Case{1, "NATIVE"}, Case{2, "MEMORY"}), CaseName);

}  // namespace
}  // namespace kvtest
