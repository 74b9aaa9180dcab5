// Twain.ScanPages against the build's real DSM and the virtual scanner's feeder: the pages of
// one enable into numbered files, the page limit, the source's own file transfers, the
// interface, and every way a batch ends early (the pages before it kept and counted, the
// source closed, the next call working). The page names are checked here on their own too.
// Pixels are compared by tests/cli/check_scan_pages.sh, with ImageMagick, for both builds.
#include <sys/stat.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pages/page_names.h"
#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"

#if !KV_WINDOWS_BUILD
#include <TWAIN/TWAINFrameworkStandin.h>
#endif

namespace kvtest {
namespace {

const char* const kExt = kWindowsBuild ? ".bmp" : ".pict";

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string PageFile(const std::string& stem, int number, const std::string& ext = kExt) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%04d", number);
  return stem + digits + ext;
}

// ------------------------------------------------------------------ names

HostPath Path(const std::string& text) {
  HostPath p;
  if constexpr (kWindowsBuild) {
    text.copy(reinterpret_cast<char*>(p.bytes), text.size());
  } else {
    p.bytes[0] = static_cast<uint8_t>(text.size());
    text.copy(reinterpret_cast<char*>(p.bytes + 1), text.size());
  }
  return p;
}

std::string Text(const HostPath& p) {
  if constexpr (kWindowsBuild) return reinterpret_cast<const char*>(p.bytes);
  return std::string(reinterpret_cast<const char*>(p.bytes + 1), p.bytes[0]);
}

std::string Numbered(const std::string& path, uint32_t number) {
  HostPath page;
  if (!NumberedPageName(Path(path), number, &page)) return "(too long)";
  return Text(page);
}

TEST(PageNames, TheNumberGoesBeforeTheLastExtensionOfTheLastPart) {
  EXPECT_EQ("doc-0001.bmp", Numbered("doc.bmp", 1));
  EXPECT_EQ("doc-0012.bmp", Numbered("doc.bmp", 12));
  EXPECT_EQ("doc.scan-0002.tif", Numbered("doc.scan.tif", 2));
  EXPECT_EQ("doc-0001", Numbered("doc", 1));
  EXPECT_EQ("doc-12345.bmp", Numbered("doc.bmp", 12345));
  const char* sep = kWindowsBuild ? "\\" : ":";
  // A dot in a folder's name is no extension of the file's.
  std::string dir = std::string("scans.2026") + sep;
  EXPECT_EQ(dir + "doc-0003", Numbered(dir + "doc", 3));
  EXPECT_EQ(dir + "doc-0003.png", Numbered(dir + "doc.png", 3));
  if constexpr (kWindowsBuild) {
    EXPECT_EQ("C:/scans.d/page-0001", Numbered("C:/scans.d/page", 1));
    EXPECT_EQ("C:page-0001", Numbered("C:page", 1));
  }
}

TEST(PageNames, ANameThatWouldPass255CharactersIsRefused) {
  std::string name(246, 'a');
  EXPECT_EQ(name + "-0001.bmp", Numbered(name + ".bmp", 1));  // 255 characters
  EXPECT_EQ("(too long)", Numbered(name + "a.bmp", 1));
  EXPECT_EQ("(too long)", Numbered(name + ".bmp", 10000));
}

// ------------------------------------------------------------------ batches

class ScanPagesTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    RemovePages("doc", 45);
    RemovePages("page", 5, ".png");
    RemovePages("page", 5, ".tif");
    std::remove((std::string("one") + kExt).c_str());
  }
  void TearDown() override {
    RemovePages("doc", 45);
    ExtensionTest::TearDown();
  }
  static void RemovePages(const std::string& stem, int n, const std::string& ext = kExt) {
    for (int i = 1; i <= n; ++i) std::remove(PageFile(stem, i, ext).c_str());
  }
  void Connect() { ASSERT_EQ("0", Call("Twain.Connect()")); }
  // The feeder holds n pages at each enable.
  void Feeder(int n) { ASSERT_EQ(0, Scanner("pages " + std::to_string(n))); }
  // Runs a ScanPages call: its answer, and the page count it left in $n.
  std::string Pages(const std::string& args, std::string* count) {
    velmar::CallResult r = CallFull("Twain.ScanPages(" + args + ")");
    *count = host->Variable("n").Display();
    return r.result.Display();
  }
  // Files stem-0001 to stem-000n exist, and stem-000(n+1) does not.
  void ExpectPages(const std::string& stem, int n, const std::string& ext = kExt) {
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(Exists(PageFile(stem, i, ext))) << PageFile(stem, i, ext);
    EXPECT_FALSE(Exists(PageFile(stem, n + 1, ext))) << PageFile(stem, n + 1, ext);
  }
  void ExpectSourceClosed(const std::string& what) {
    EXPECT_EQ(0, Record()->dsEnabled) << what;
    EXPECT_EQ(0, Record()->dsOpen) << what;
    EXPECT_EQ("3", ScannerQuery("state")) << what;
  }
  std::string Doc() const { return std::string("\"doc") + kExt + "\", $n"; }
  // What the scanner reports of a TW_ONEVALUE of TW_INT16 that it received: its ConType, then
  // the container's bytes in the build's layout.
  static std::string OneValue(const std::string& item) {
    return std::string("5 ") + (kWindowsBuild ? "0100" : "01000000") + item;
  }
};

TEST_F(ScanPagesTest, EveryPageOfTheFeederInOneEnable) {
  Connect();
  for (int pages : {1, 3, 40}) {
    RemovePages("doc", 45);
    Feeder(pages);
    std::string count;
    EXPECT_EQ("0", Pages(Doc(), &count)) << pages;
    EXPECT_EQ(std::to_string(pages), count);
    ExpectPages("doc", pages);
    ExpectSourceClosed(std::to_string(pages) + " pages");
    // Every page is the source's page (the pixels: check_scan_pages.sh).
    if (ReaderAvailable()) {
      ImageFacts f = Identify(PageFile("doc", pages));
      EXPECT_EQ(850, f.width);
      EXPECT_EQ(1100, f.height);
    }
  }
}

TEST_F(ScanPagesTest, ThePageLimitStopsTheFeederAndIsAnnounced) {
  Connect();
  std::string count;
  Feeder(5);
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 2", &count));
  EXPECT_EQ("2", count);
  ExpectPages("doc", 2);
  // CAP_XFERCOUNT told the source before the enable (a TW_ONEVALUE of TW_INT16 2).
  EXPECT_EQ(OneValue("02000000"), ScannerQuery("last-set 1"));
  ExpectSourceClosed("limit 2 of 5");

  RemovePages("doc", 5);
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 9", &count));
  EXPECT_EQ("5", count);
  ExpectPages("doc", 5);

  // Every page: CAP_XFERCOUNT -1.
  RemovePages("doc", 5);
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 0", &count));
  EXPECT_EQ("5", count);
  EXPECT_EQ(OneValue("FFFFFFFF"), ScannerQuery("last-set 1"));
}

TEST_F(ScanPagesTest, ASourceThatRefusesTheLimitIsStoppedAfterItAllTheSame) {
  Connect();
  Feeder(4);
  ASSERT_EQ(0, Scanner("script-set 1 1 9"));  // CAP_XFERCOUNT: TWRC_FAILURE, TWCC_BADVALUE
  std::string count;
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 3", &count));
  EXPECT_EQ("3", count);
  ExpectPages("doc", 3);
  ExpectSourceClosed("refused limit");
}

TEST_F(ScanPagesTest, ALimitOfOnePageTakesTheNameAsItStands) {
  Connect();
  Feeder(3);
  std::string count;
  EXPECT_EQ("0", Pages(std::string("\"one") + kExt + "\", $n, 0, 1, 1", &count));
  EXPECT_EQ("1", count);
  EXPECT_TRUE(Exists(std::string("one") + kExt));
  EXPECT_FALSE(Exists(PageFile("one", 1)));
  std::remove((std::string("one") + kExt).c_str());
}

TEST_F(ScanPagesTest, FileTransfersWriteEveryPageUnderItsName) {
  Connect();
  Feeder(3);
  std::string count;
  EXPECT_EQ("0", Pages("\"page.png\", $n, 0, 7", &count));
  EXPECT_EQ("3", count);
  ExpectPages("page", 3, ".png");
  EXPECT_EQ("0", Pages("\"page.tif\", $n, 0, 0, 2", &count));
  EXPECT_EQ("2", count);
  ExpectPages("page", 2, ".tif");
  if (ReaderAvailable()) {
    EXPECT_EQ(850, Identify(PageFile("page", 3, ".png")).width);
  }
  // Back to native transfers for the next scan.
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 1", &count));
  RemovePages("page", 3, ".png");
  RemovePages("page", 2, ".tif");
  std::remove((std::string("doc") + kExt).c_str());
}

TEST_F(ScanPagesTest, WithTheInterfaceTheBatchEndsWhenTheUserClosesIt) {
  Connect();
  Feeder(3);
  ASSERT_EQ(0, Scanner("user scan-close"));
  std::string count;
  EXPECT_EQ("0", Pages(Doc() + ", 1", &count));
  EXPECT_EQ("3", count);
  ExpectPages("doc", 3);
  ExpectSourceClosed("closed after the pages");
  // The user who cancels before any page: 5, nothing written.
  RemovePages("doc", 3);
  ASSERT_EQ(0, Scanner("user cancel"));
  EXPECT_EQ("5", Pages(Doc() + ", 1", &count));
  EXPECT_EQ("0", count);
  EXPECT_FALSE(Exists(PageFile("doc", 1)));
  ASSERT_EQ(0, Scanner("user scan"));
  Feeder(2);
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("2", count);
}

// A batch that ends without a page keeps the source manager open, whatever ended it (the
// source's close request, the user's Cancel): the next batch needs no Connect.
TEST_F(ScanPagesTest, ABatchEndingWithoutAPageKeepsTheManagerOpen) {
  Connect();
  struct Case {
    const char* scanner;
    int showUI;
  };
  for (const Case& c : {Case{"closereq-instead", 0}, Case{"user cancel", 1}}) {
    Feeder(3);
    ASSERT_EQ(0, Scanner(c.scanner));
    std::string count;
    EXPECT_EQ("5", Pages(Doc() + ", " + std::to_string(c.showUI), &count)) << c.scanner;
    EXPECT_EQ("0", count) << c.scanner;
    EXPECT_EQ(1, Record()->dsmOpen) << c.scanner;
    ExpectSourceClosed(c.scanner);
    ASSERT_EQ(0, Scanner("user scan-close"));
    EXPECT_EQ("0", Pages(Doc() + ", " + std::to_string(c.showUI), &count)) << c.scanner << ": the next batch";
    EXPECT_EQ("3", count) << c.scanner;
    RemovePages("doc", 3);
  }
}

// The user's Cancel, pressed as the batch filled up and the source dropped the rest, comes
// after the batch ended: it is no part of the next batch.
TEST_F(ScanPagesTest, ACancelPressedAsAFullBatchEndsLeavesTheNextBatchAlone) {
  Connect();
  Feeder(3);
  ASSERT_EQ(0, Scanner("user scan-close"));
  std::string count;
  EXPECT_EQ("0", Pages(Doc() + ", 1, 1, 2", &count));
  EXPECT_EQ("2", count);
  RemovePages("doc", 2);
  EXPECT_EQ("0", Pages(Doc() + ", 1", &count));
  EXPECT_EQ("3", count);
  ExpectPages("doc", 3);
  ExpectSourceClosed("the batch after the full one");
}

// TWRC_CHECKSTATUS from MSG_ENDXFER: the transfer was ended, and the count it returned says
// what follows.
TEST_F(ScanPagesTest, AnEndOfTransferAnsweredCheckStatusCountsAsDone) {
  Connect();
  Feeder(3);
  ASSERT_EQ(0, Scanner("answer 1 5 0x701 2 100"));
  std::string count;
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("3", count);
  ExpectPages("doc", 3);
  ExpectSourceClosed("ends answered with TWRC_CHECKSTATUS");
}

// A page that arrived whole is written and counted when the source then refuses to end its
// transfer; the refusal is the answer, the source is closed, and the next batch works.
TEST_F(ScanPagesTest, APageThatArrivedWholeIsKeptWhenItsEndIsRefused) {
  Connect();
  Feeder(3);
  ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));  // MSG_ENDXFER: general failure
  std::string count;
  EXPECT_EQ("3001", Pages(Doc(), &count));
  EXPECT_EQ("1", count);
  ExpectPages("doc", 1);
  if (ReaderAvailable()) {
    EXPECT_EQ(850, Identify(PageFile("doc", 1)).width);
  }
  ExpectSourceClosed("refused end of transfer");
  RemovePages("doc", 1);
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("3", count);
  // A file transfer's page is the source's file: kept the same way.
  ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));
  EXPECT_EQ("3001", Pages("\"page.png\", $n, 0, 7", &count));
  EXPECT_EQ("1", count);
  ExpectPages("page", 1, ".png");
  ExpectSourceClosed("refused end of a file transfer");
}

TEST_F(ScanPagesTest, ACancelledFirstTransferAnswers5AndTheNextCallWorks) {
  Connect();
  Feeder(3);
  ASSERT_EQ(0, Scanner("cancel-transfer"));
  std::string count;
  EXPECT_EQ("5", Pages(Doc(), &count));
  EXPECT_EQ("0", count);
  EXPECT_FALSE(Exists(PageFile("doc", 1)));
  ExpectSourceClosed("cancelled");
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("3", count);
}

TEST_F(ScanPagesTest, AFailedFirstTransferAnswersItsCodeWithNoPage) {
  Connect();
  Feeder(3);
  // DAT_IMAGENATIVEXFER fails with TWCC_PAPERJAM (20).
  ASSERT_EQ(0, Scanner("fail 2 0x104 1 1 20"));
  std::string count;
  EXPECT_EQ("3020", Pages(Doc(), &count));
  EXPECT_EQ("0", count);
  ExpectSourceClosed("jammed");
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("3", count);
}

TEST_F(ScanPagesTest, APaperJamKeepsThePagesBeforeItAndTheNextCallWorks) {
  Connect();
  Feeder(5);
  ASSERT_EQ(0, Scanner("jam-at 3"));
  std::string count;
  EXPECT_EQ("3020", Pages(Doc(), &count));  // 3000 + TWCC_PAPERJAM
  EXPECT_EQ("2", count);
  ExpectPages("doc", 2);
  ExpectSourceClosed("jam at page 3");
  RemovePages("doc", 2);
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("5", count);
  ExpectPages("doc", 5);
}

// A source that reports -1 while pages remain (a count it does not know), 0 after the last.
TEST_F(ScanPagesTest, UnknownPendingCountsTakePagesUntilTheSourceSaysNone) {
  Connect();
  Feeder(4);
  ASSERT_EQ(0, Scanner("pages-unknown"));
  std::string count;
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("4", count);
  ExpectPages("doc", 4);
  RemovePages("doc", 4);
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 2", &count));
  EXPECT_EQ("2", count);
  ExpectPages("doc", 2);
  ExpectSourceClosed("unknown counts");
}

// An existing member of the batch's series, with each build's default for EXISTING: Windows
// replaces it with the new page; the Mac refuses the batch before anything is scanned (no page
// written, no sheet taken), where it used to find the clash only once the batch reached it.
TEST_F(ScanPagesTest, AnExistingPageFile) {
  Connect();
  Feeder(3);
  std::ofstream(PageFile("doc", 2)) << "kept";
  std::string count;
  if constexpr (kWindowsBuild) {
    EXPECT_EQ("0", Pages(Doc(), &count));
    EXPECT_EQ("3", count);
    ExpectPages("doc", 3);
    ExpectSourceClosed("existing page file");
  } else {
    const std::string before = ScannerQuery("calls");
    EXPECT_EQ("7", Pages(Doc(), &count));
    EXPECT_EQ(before, ScannerQuery("calls")) << "the source was asked for something";
    EXPECT_EQ(0, Record()->dsEnabled);
    EXPECT_EQ("0", count);
    EXPECT_FALSE(Exists(PageFile("doc", 1)));
    EXPECT_EQ("kept", Content(PageFile("doc", 2)));
  }
}

// EXISTING REFUSE on both builds: a numbered batch whose series has any member on disk,
// however far beyond the pages the feeder holds, answers 7 before the source is asked for
// anything; a single file (one page, a multi-page TIFF, a PDF) by its own name. The older
// files stay as they were. A series of other names (another extension, another stem) is no
// clash.
TEST_F(ScanPagesTest, RefusingChecksTheWholeSeriesBeforeAnythingIsScanned) {
  Connect();
  Feeder(2);
  ASSERT_EQ("0", Call("Twain.SetOption(\"EXISTING\", \"REFUSE\")"));
  std::ofstream(PageFile("doc", 45)) << "kept";
  std::ofstream(PageFile("doc", 1, ".png")) << "other";
  std::ofstream(PageFile("docs", 1)) << "other";
  for (const std::string& call :
       {Doc(), Doc() + ", 0, 2, 3", std::string("\"one.pdf\", $n, 0, 10"), std::string("\"one.tif\", $n, 0, 6"),
        std::string("\"one.png\", $n, 0, 7, 1")}) {
    if (call.find("one") != std::string::npos) std::ofstream(call.substr(1, call.find('"', 1) - 1)) << "kept";
    const std::string before = ScannerQuery("calls");
    std::string count = "x";
    EXPECT_EQ("7", Pages(call, &count)) << call;
    EXPECT_EQ("0", count) << call;
    EXPECT_EQ(before, ScannerQuery("calls")) << call << ": the source was asked for something";
    EXPECT_FALSE(Exists(PageFile("doc", 1))) << call;
  }
  EXPECT_EQ("kept", Content(PageFile("doc", 45)));
  for (const char* f : {"one.pdf", "one.tif", "one.png"}) {
    EXPECT_EQ("kept", Content(f)) << f;
    std::remove(f);
  }
  std::remove(PageFile("doc", 45).c_str());
  std::string count;
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("2", count);
  ExpectPages("doc", 2);
  EXPECT_EQ("other", Content(PageFile("doc", 1, ".png")));
  EXPECT_EQ("other", Content(PageFile("docs", 1)));
  for (const std::string& f : {PageFile("doc", 1, ".png"), PageFile("docs", 1)}) std::remove(f.c_str());
}

// EXISTING REPLACE on both builds: a batch that wrote its pages removes the older members of
// its series numbered beyond them (a gap in the older series included), so that the series on
// disk is the batch; a batch that wrote no page leaves the older series as it was.
TEST_F(ScanPagesTest, ReplacingLeavesTheSeriesThatTheBatchWrote) {
  Connect();
  ASSERT_EQ("0", Call("Twain.SetOption(\"EXISTING\", \"REPLACE\")"));
  for (int n : {1, 2, 3, 4, 5, 40}) std::ofstream(PageFile("doc", n)) << "older";
  std::ofstream(PageFile("doc", 3, ".png")) << "other";
  std::string count;
  ASSERT_EQ(0, Scanner("jam-at 1"));
  Feeder(3);
  EXPECT_EQ("3020", Pages(Doc(), &count));
  EXPECT_EQ("0", count);
  for (int n : {1, 5, 40}) EXPECT_EQ("older", Content(PageFile("doc", n))) << n;
  Feeder(3);
  EXPECT_EQ("0", Pages(Doc(), &count));
  EXPECT_EQ("3", count);
  ExpectPages("doc", 3);
  EXPECT_NE("older", Content(PageFile("doc", 3)));
  for (int n : {5, 40}) EXPECT_FALSE(Exists(PageFile("doc", n))) << n;
  EXPECT_EQ("other", Content(PageFile("doc", 3, ".png")));
  std::remove(PageFile("doc", 3, ".png").c_str());
}

TEST_F(ScanPagesTest, AFolderThatDoesNotExistStopsTheBatchBeforeAnythingIsScanned) {
  Connect();
  Feeder(3);
  const std::string missing = kWindowsBuild ? "no-such-folder\\\\doc" : ":no-such-folder:doc";
  long before = DsmCalls();
  std::string count;
  EXPECT_EQ("8", Pages("\"" + missing + kExt + "\", $n", &count));
  EXPECT_EQ("8", Pages("\"" + missing + ".png\", $n, 0, 7", &count));  // a file transfer too
  EXPECT_EQ("0", count);
  EXPECT_EQ(before, DsmCalls());
  EXPECT_EQ("8", Pages("\"" + std::string(256, 'a') + "\", $n", &count));
}

TEST_F(ScanPagesTest, ParametersAndConnection) {
  std::string count;
  EXPECT_EQ("13", Pages(Doc(), &count));
  EXPECT_EQ("0", count);
  Connect();
  EXPECT_EQ("3", Call("Twain.ScanPages(\"doc.img\")"));
  EXPECT_EQ("3", Pages("\"\", $n", &count));
  EXPECT_EQ("3", Pages(Doc() + ", 0, 1, -1", &count));
  EXPECT_EQ("3", Call("Twain.ScanPages(\"doc.img\", $p:picture)"));
  EXPECT_EQ("0", count);
  EXPECT_FALSE(Exists(PageFile("doc", 1)));
}

// The format code names a TWAIN file format (0 to 9, or 10: PDF) as a whole number; any other
// value is one the batch cannot write its pages in: 10, before anything is scanned.
TEST_F(ScanPagesTest, AFormatCodeItCannotWriteAnswers10BeforeAnythingIsScanned) {
  Connect();
  Feeder(2);
  long before = DsmCalls();
  std::string count;
  for (const char* code : {"11", "-1", "65543", "7.5", "\"png\"", "\"\"", "$p:picture"}) {
    EXPECT_EQ("10", Pages(Doc() + ", 0, " + code, &count)) << code;
    EXPECT_EQ("0", count) << code;
  }
  EXPECT_EQ(before, DsmCalls());
  EXPECT_FALSE(Exists(PageFile("doc", 1)));
  EXPECT_FALSE(Exists(PageFile("doc", 1, ".png")));
  // A text that holds a whole number is that number, as the host reads it.
  EXPECT_EQ("0", Pages("\"page.png\", $n, 0, \" 7 \"", &count));
  EXPECT_EQ("2", count);
  ExpectPages("page", 2, ".png");
}

// The page limit is a whole number of 0 or more: anything else answers 3 before anything is
// scanned, whatever it would come to once cut to a whole number.
TEST_F(ScanPagesTest, APageLimitThatIsNoWholeNumberOf0OrMoreAnswers3) {
  Connect();
  Feeder(3);
  long before = DsmCalls();
  std::string count;
  for (const char* limit : {"-1", "-0.5", "0.5", "2.5", "\"abc\"", "\"2 pages\"", "$p:picture"}) {
    EXPECT_EQ("3", Pages(Doc() + ", 0, 1, " + limit, &count)) << limit;
    EXPECT_EQ("0", count) << limit;
  }
  EXPECT_EQ(before, DsmCalls());
  EXPECT_FALSE(Exists(PageFile("doc", 1)));
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, \"2\"", &count));
  EXPECT_EQ("2", count);
  ExpectPages("doc", 2);
}

// One check of the name for every format, the multi-page TIFF's included, before the source
// is asked for anything: a folder, a name a file cannot have, a full path too long to open.
TEST_F(ScanPagesTest, EveryFormatChecksItsNameBeforeAnythingIsScanned) {
  Connect();
  Feeder(2);
#if KV_WINDOWS_BUILD
  mkdir("folder.tif");
#else
  mkdir("folder.tif", 0755);
#endif
  // 254 characters: held by the extension, but with the current folder's path in front over
  // Windows' 260, and over the Mac's 31 characters a part.
  std::vector<std::string> names = {"folder.tif", std::string(250, 'a') + ".tif"};
  if constexpr (kWindowsBuild) names.push_back("NUL");
  long before = DsmCalls();
  std::string count;
  for (const std::string& name : names) {
    for (int code : {TWFF_TIFFMULTI, TWFF_PNG, TWFF_TIFF, kWindowsBuild ? TWFF_BMP : TWFF_PICT, TWFF_XBM}) {
      EXPECT_EQ("8", Pages("\"" + name + "\", $n, 0, " + std::to_string(code) + ", 1", &count))
          << name.substr(0, 12) << " " << code;
      EXPECT_EQ("0", count);
    }
  }
  EXPECT_EQ(before, DsmCalls());
  rmdir("folder.tif");
}

// An older file of a page's name is replaced only by a page written in full (on the Mac it
// is never replaced: 7 before the scan): a batch that writes nothing leaves it as it was,
// and nothing written beside it stays.
TEST_F(ScanPagesTest, AnOlderFileIsReplacedOnlyByAPageWrittenInFull) {
  Connect();
  Feeder(2);
  const std::string book = "keep.tif", page = PageFile("keep", 1, ".png");
  for (const std::string& f : {book, page}) std::ofstream(f) << "kept";
  auto content = [](const std::string& f) {
    std::ifstream in(f, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string count;
  for (const char* call : {"\"keep.tif\", $n, 0, 6", "\"keep.png\", $n, 0, 7"}) {
    ASSERT_EQ(0, Scanner("jam-at 1"));
    EXPECT_EQ(kWindowsBuild ? "3020" : "7", Pages(call, &count)) << call;
    EXPECT_EQ("0", count);
  }
  EXPECT_EQ("kept", content(book));
  EXPECT_EQ("kept", content(page));
  if constexpr (kWindowsBuild) {
    EXPECT_EQ("0", Pages("\"keep.tif\", $n, 0, 6", &count));
    EXPECT_EQ("2", count);
    EXPECT_EQ("II", content(book).substr(0, 2));
    EXPECT_EQ("0", Pages("\"keep.png\", $n, 0, 7", &count));
    EXPECT_EQ("\x89PNG", content(page).substr(0, 4));
  }
  EXPECT_FALSE(Exists(book + ".part"));
  EXPECT_FALSE(Exists(page + ".part"));
  for (const std::string& f : {book, page, PageFile("keep", 2, ".png")}) std::remove(f.c_str());
}

#if !KV_WINDOWS_BUILD
TEST_F(ScanPagesTest, MacNamesKeepTheirPartsTo31CharactersForTheLongestNumber) {
  Connect();
  Feeder(2);
  std::string count;
  // 21 + "-0001" + 5 = 31 characters; with a limit of 10000 pages the last would be 32.
  const std::string name = "abcdefghijklmnopqrstu.pict";
  EXPECT_EQ("8", Pages("\"" + name + "\", $n, 0, 1, 10000", &count));
  EXPECT_EQ("0", count);
  EXPECT_EQ("0", Pages("\"" + name + "\", $n, 0, 1, 9999", &count));
  EXPECT_EQ("2", count);
  RemovePages("abcdefghijklmnopqrstu", 2);
  // A name of 31 characters: numbered it would pass the limit; as one page it stands.
  const std::string full = "abcdefghijklmnopqrstuvwxyz.pict";
  EXPECT_EQ("8", Pages("\"" + full + "\", $n", &count));
  EXPECT_EQ("0", Pages("\"" + full + "\", $n, 0, 1, 1", &count));
  std::remove(full.c_str());
}

// What the source is asked for, in order: the transfers of one ready report follow each other
// without another event, and a full batch drops the rest (here the source refused the limit).
TEST_F(ScanPagesTest, TheNextTransferFollowsAtOnceAndAFullBatchResetsTheRest) {
  Connect();
  Feeder(5);
  ASSERT_EQ(0, Scanner("script-set 1 1 9"));
  TWAINFramework_ClearLog();
  std::string count;
  EXPECT_EQ("0", Pages(Doc() + ", 0, 1, 3", &count));
  std::vector<std::string> seen;
  for (int i = 0; i < TWAINFramework_CallCount(); ++i) {
    const TWAINFrameworkCall* c = TWAINFramework_Call(i);
    if (c->DAT == DAT_IMAGENATIVEXFER) seen.push_back("xfer");
    if (c->DAT == DAT_EVENT && !seen.empty() && seen.back() != "event") seen.push_back("event");
    if (c->DAT == DAT_PENDINGXFERS && c->MSG == MSG_ENDXFER) seen.push_back("end");
    if (c->DAT == DAT_PENDINGXFERS && c->MSG == MSG_RESET)
      seen.push_back(c->rc == TWRC_SUCCESS ? "reset" : "reset?");
    if (c->DAT == DAT_USERINTERFACE && c->MSG == MSG_DISABLEDS) seen.push_back("disable");
  }
  std::string joined;
  for (const std::string& s : seen) joined += s + " ";
  EXPECT_EQ("xfer end xfer end xfer end reset reset? disable ", joined);
}
#endif

}  // namespace
}  // namespace kvtest
