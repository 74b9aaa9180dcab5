// The option PAGES after Twain.ScanPages against the virtual scanner as a document scanner
// (documents on): one line per side delivered, with its file and page in it, its size,
// resolution and pixel type, and what the scanner read on it (side, patch code, barcodes)
// through extended image information, handed over inline or in handles, by native and by
// memory transfer. Every handle the scanner hands over is freed (each call's leak checks).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"
#include "tests/support/pages_text.h"

namespace kvtest {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string Numbered(const std::string& stem, int number, const char* ext) {
  char name[64];
  std::snprintf(name, sizeof name, "%s-%04d%s", stem.c_str(), number, ext);
  return name;
}

struct Case {
  const char* transfer;
  const char* items;  // how the scanner hands its extended image information over
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.transfer) + (std::string(info.param.items) == "inline" ? "Inline" : "Handle");
}

class ScanPagesLogTest : public ExtensionTest {
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
      for (const char* stem : {"log", "flat"}) std::remove(Numbered(stem, i, ".png").c_str());
    std::remove("log.pdf");
    std::remove("log.tif");
  }
  // A document scanner whose feeder holds `sheets`, connected, grey pages at 150 dpi.
  void Documents(int sheets, const char* transfer, const char* items, bool duplex) {
    ASSERT_EQ(0, Scanner("documents on"));
    ASSERT_EQ(0, Scanner(std::string("extimageinfo ") + items));
    ASSERT_EQ(0, Scanner("pages " + std::to_string(sheets)));
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"TRANSFER\", \"") + transfer + "\")"));
    ASSERT_EQ("0", Call("Twain.Connect()"));
    Settings(duplex);
  }
  // Grey pages at 150 dpi, both sides or one: the source goes back to its defaults after
  // each batch.
  void Settings(bool duplex) {
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", 1, \"XRESOLUTION\", 150, \"YRESOLUTION\", 150)"));
    if (duplex) {
      ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"DUPLEXENABLED\", 1)"));
    }
  }
  // The batch's answer and page count ("0 4"), then PAGES as its lines.
  std::string Batch(const std::string& file, int code) {
    velmar::CallResult r = CallFull("Twain.ScanPages(\"" + file + "\", $n, 0, " + std::to_string(code) + ")");
    EXPECT_TRUE(r.ok) << r.error;
    return r.result.Display() + " " + host->Variable("n").Display();
  }
  std::vector<std::vector<std::string>> Pages() {
    EXPECT_EQ("0", Call("Twain.GetOption(\"PAGES\", $p)"));
    return PagesLines(host->Variable("p").AsText());
  }
  // The line's size and type are the file's, and its resolution the one asked for.
  static void ExpectImage(const std::vector<std::string>& line, const std::string& file) {
    EXPECT_EQ("150", line[kXRes]);
    EXPECT_EQ("150", line[kYRes]);
    EXPECT_EQ("1", line[kType]);
    EXPECT_GT(std::stoi(line[kWidth]), 0);
    EXPECT_GT(std::stoi(line[kHeight]), 0);
    if (!ReaderAvailable() || file.empty()) return;
    const ImageFacts f = Identify(file);
    ASSERT_TRUE(f.read) << file;
    EXPECT_EQ(std::to_string(f.width), line[kWidth]) << file;
    EXPECT_EQ(std::to_string(f.height), line[kHeight]) << file;
  }
};

class ScanPagesLogItemsTest : public ScanPagesLogTest, public ::testing::WithParamInterface<Case> {};

// Two sheets, both sides: four lines, front and back in turn, each in its own numbered file.
TEST_P(ScanPagesLogItemsTest, DuplexSheetsGiveOneLinePerSideInOrder) {
  Documents(2, GetParam().transfer, GetParam().items, true);
  EXPECT_EQ("0 4", Batch("log.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(4u, lines.size());
  for (int i = 0; i < 4; ++i) {
    const auto& line = lines[i];
    const std::string file = Numbered("log", i + 1, ".png");
    EXPECT_TRUE(Exists(file)) << file;
    EXPECT_EQ(file, line[kFile]);
    EXPECT_EQ("1", line[kPageInFile]);
    EXPECT_EQ("1", line[kDocument]);
    EXPECT_EQ(i % 2 == 0 ? "FRONT" : "BACK", line[kSide]) << i;
    EXPECT_EQ("WRITTEN", line[kFate]);
    EXPECT_EQ("", line[kPatch]);
    EXPECT_EQ("", line[kCodes]);
    ExpectImage(line, file);
  }
  EXPECT_FALSE(Exists(Numbered("log", 5, ".png")));
}

// Patch sheets and barcodes on chosen sides; the others carry nothing.
TEST_P(ScanPagesLogItemsTest, PatchCodesAndBarcodesGoToTheirOwnPages) {
  ASSERT_EQ(0, Scanner("patch-at 1 6"));
  ASSERT_EQ(0, Scanner("patch-at 2 T"));
  ASSERT_EQ(0, Scanner("barcode-at 3 INV-2031"));
  ASSERT_EQ(0, Scanner("barcode-at 3 ACME Ltd 7"));
  ASSERT_EQ(0, Scanner("barcode-at 4 X"));
  Documents(4, GetParam().transfer, GetParam().items, false);
  EXPECT_EQ("0 4", Batch("log.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("6", lines[0][kPatch]);
  EXPECT_EQ("T", lines[1][kPatch]);
  EXPECT_EQ("", lines[2][kPatch]);
  EXPECT_EQ("", lines[0][kCodes]);
  EXPECT_EQ("", lines[1][kCodes]);
  EXPECT_EQ("INV-2031|ACME Ltd 7", lines[2][kCodes]);
  EXPECT_EQ("X", lines[3][kCodes]);
  for (const auto& line : lines) {
    EXPECT_EQ("FRONT", line[kSide]);  // without duplex every page is a front
    EXPECT_EQ("WRITTEN", line[kFate]);
  }
}

INSTANTIATE_TEST_SUITE_P(TransfersAndItems, ScanPagesLogItemsTest,
                         ::testing::Values(Case{"NATIVE", "inline"}, Case{"NATIVE", "handle"},
                                           Case{"MEMORY", "inline"}, Case{"MEMORY", "handle"}),
                         CaseName);

// A blank back left out: no file, page 0, and the next side takes the next file.
TEST_F(ScanPagesLogTest, ABlankSideLeftOutHasNoFile) {
  ASSERT_EQ(0, Scanner("blank-at 2"));
  Documents(2, "NATIVE", "inline", true);
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 3", Batch("log.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(Numbered("log", 1, ".png"), lines[0][kFile]);
  EXPECT_EQ("", lines[1][kFile]);
  EXPECT_EQ("0", lines[1][kPageInFile]);
  EXPECT_EQ("BLANK", lines[1][kFate]);
  EXPECT_EQ("BACK", lines[1][kSide]);
  EXPECT_EQ("1", lines[1][kType]);  // still what the source said of it
  EXPECT_EQ(Numbered("log", 2, ".png"), lines[2][kFile]);
  EXPECT_EQ("WRITTEN", lines[2][kFate]);
  EXPECT_EQ(Numbered("log", 3, ".png"), lines[3][kFile]);
  ExpectImage(lines[3], Numbered("log", 3, ".png"));
  EXPECT_FALSE(Exists(Numbered("log", 4, ".png")));
}

// One PDF and one multi-page TIFF: every line names the file, with its page in it.
TEST_F(ScanPagesLogTest, PagesOfOneFileAreNumberedWithinIt) {
  Documents(2, "MEMORY", "handle", true);
  for (const auto& [file, code] : {std::pair<std::string, int>{"log.pdf", 10}, {"log.tif", 6}}) {
    Settings(true);
    EXPECT_EQ("0 4", Batch(file, code)) << file;
    const auto lines = Pages();
    ASSERT_EQ(4u, lines.size()) << file;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(file, lines[i][kFile]);
      EXPECT_EQ(std::to_string(i + 1), lines[i][kPageInFile]);
      EXPECT_EQ(i % 2 == 0 ? "FRONT" : "BACK", lines[i][kSide]);
    }
  }
}

// A document scanner without extended image information: sizes, no side, no codes.
TEST_F(ScanPagesLogTest, WithoutExtendedImageInformationSidesAndCodesStayEmpty) {
  ASSERT_EQ(0, Scanner("patch-at 1 2"));
  ASSERT_EQ(0, Scanner("barcode-at 1 LOST"));
  Documents(1, "NATIVE", "none", true);
  EXPECT_EQ("0 2", Batch("log.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(2u, lines.size());
  for (const auto& line : lines) {
    EXPECT_EQ("", line[kSide]);
    EXPECT_EQ("", line[kPatch]);
    EXPECT_EQ("", line[kCodes]);
    EXPECT_EQ("WRITTEN", line[kFate]);
  }
  ExpectImage(lines[0], Numbered("log", 1, ".png"));
}

// The scanner refuses DAT_EXTIMAGEINFO for the first page: it is written all the same, without
// marks; the second page has its own.
TEST_F(ScanPagesLogTest, ARefusedRequestKeepsThePage) {
  ASSERT_EQ(0, Scanner("barcode-at 1 FIRST"));
  ASSERT_EQ(0, Scanner("barcode-at 2 SECOND"));
  ASSERT_EQ(0, Scanner("fail 2 0x010B 1 1 9"));
  Documents(2, "NATIVE", "inline", false);
  EXPECT_EQ("0 2", Batch("log.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("", lines[0][kSide]);
  EXPECT_EQ("", lines[0][kCodes]);
  EXPECT_EQ("WRITTEN", lines[0][kFate]);
  EXPECT_TRUE(Exists(Numbered("log", 1, ".png")));
  EXPECT_EQ("SECOND", lines[1][kCodes]);
  EXPECT_EQ("FRONT", lines[1][kSide]);
}

// The flatbed as it always was: one line, no side, nothing read on it.
TEST_F(ScanPagesLogTest, AFlatbedPageHasNoSide) {
  ASSERT_EQ(0, Scanner("pages 1"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0 1", Batch("flat.png", 7));
  const auto lines = Pages();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(Numbered("flat", 1, ".png"), lines[0][kFile]);
  EXPECT_EQ("1", lines[0][kPageInFile]);
  EXPECT_EQ("", lines[0][kSide]);
  EXPECT_EQ("WRITTEN", lines[0][kFate]);
  EXPECT_EQ("", lines[0][kPatch]);
  EXPECT_EQ("", lines[0][kCodes]);
  if (ReaderAvailable()) {
    const ImageFacts f = Identify(Numbered("flat", 1, ".png"));
    EXPECT_EQ(std::to_string(f.width), lines[0][kWidth]);
    EXPECT_EQ(std::to_string(f.height), lines[0][kHeight]);
  }
}

// PAGES is the extension's: not set by the host, empty before a batch and after a call that
// scanned nothing.
TEST_F(ScanPagesLogTest, PagesIsReadOnlyAndEmptyWithoutABatch) {
  EXPECT_EQ("11", Call("Twain.SetOption(\"PAGES\", \"x\")"));
  EXPECT_EQ(0u, Pages().size());
  ASSERT_EQ(0, Scanner("pages 1"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0 1", Batch("flat.png", 7));
  EXPECT_EQ(1u, Pages().size());
  EXPECT_EQ("10", Call("Twain.ScanPages(\"flat.png\", $n, 0, 99)"));
  EXPECT_EQ(0u, Pages().size());
}

}  // namespace
}  // namespace kvtest
