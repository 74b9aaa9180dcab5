// Scans through the host's calls, against the build's real DSM and the virtual scanner:
// the matrix of targets, interfaces and source kinds; the files checked by ImageMagick;
// the mended failure paths.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"

namespace kvtest {
namespace {

const char* const kNativeName = kWindowsBuild ? "scan-native.bmp" : "scan-native.pict";
const char* const kKeptNativeName = kWindowsBuild ? "scan-native-kept.bmp" : "scan-native-kept.pict";

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ScanTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    for (const char* f : {kNativeName, "scan.tif", "scan.bmp", "scan.png", "scan.jpg"}) std::remove(f);
  }
  void Connect() { ASSERT_EQ("0", Call("Twain.Connect()")); }
  // The source is closed after every scan, whatever became of it.
  void ExpectSourceClosed(const std::string& what) {
    EXPECT_EQ(0, Record()->dsEnabled) << what;
    EXPECT_EQ(0, Record()->dsOpen) << what;
  }
  void ExpectPage(const std::string& path, int w, int h) {
    ASSERT_TRUE(Exists(path)) << path;
    if (!ReaderAvailable()) return;
    ImageFacts f = Identify(path);
    ASSERT_TRUE(f.read) << path << " is not readable by ImageMagick";
    EXPECT_EQ(w, f.width) << path;
    EXPECT_EQ(h, f.height) << path;
  }
};

// ------------------------------------------------------------------ the matrix

struct Case {
  const char* name;
  std::string call;  // %s: show-UI flag
  std::string file;  // what must exist afterwards ("" for a field)
  const char* result;
};

std::string Fill(std::string call, int showUI) {
  size_t at = call.find("%s");
  if (at != std::string::npos) call.replace(at, 2, std::to_string(showUI));
  return call;
}

TEST_F(ScanTest, MatrixOfTargetsInterfacesAndSourceKinds) {
  const std::vector<Case> cases = {
      {"native", std::string("Twain.ScanToFile(\"") + kNativeName + "\", %s)", kNativeName, "0"},
      {"TIFF", "Twain.ScanToFile(\"scan.tif\", %s, 0)", "scan.tif", "0"},
      {"BMP", "Twain.ScanToFile(\"scan.bmp\", %s, 2)", "scan.bmp", "0"},
      {"PNG", "Twain.ScanToFile(\"scan.png\", %s, 7)", "scan.png", "0"},
      {"JFIF refused", "Twain.ScanToFile(\"scan.jpg\", %s, 4)", "", "10"},
      {"field", "Twain.ScanToField($p:picture, %s)", "", "0"},
  };
  Connect();
  for (const char* modal : {"clear", "keep", "set"}) {
    for (int showUI : {0, 1}) {
      for (const Case& c : cases) {
        std::string what = std::string(c.name) + " showUI " + std::to_string(showUI) + " modal " + modal;
        ASSERT_EQ(0, Scanner(std::string("modal ") + modal));
        if (!c.file.empty()) std::remove(c.file.c_str());
        velmar::CallResult r = CallFull(Fill(c.call, showUI));
        EXPECT_EQ(c.result, r.result.Display()) << what;
        if (!c.file.empty()) {
          ExpectPage(c.file, 850, 1100);
          // The native page, kept under a name of its own for the independent reader that
          // runs after the suite (the suites after this one remove scan-native.*).
          if (c.file == kNativeName) {
            std::ifstream in(c.file, std::ios::binary);
            std::ofstream(kKeptNativeName, std::ios::binary) << in.rdbuf();
          }
        } else if (c.call.find("ScanToField") != std::string::npos) {
          EXPECT_EQ("picture 850x1100", host->Variable("p").Display()) << what;
        } else {
          EXPECT_FALSE(Exists("scan.jpg")) << what;
        }
        ExpectSourceClosed(what);
      }
    }
  }
}

TEST_F(ScanTest, CancelInTheSourcesInterfaceGivesNoImage) {
  Connect();
  ASSERT_EQ(0, Scanner("user cancel"));
  EXPECT_EQ("5", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\", 1)"));
  EXPECT_FALSE(Exists(kNativeName));
  ExpectSourceClosed("cancel");
  if constexpr (kWindowsBuild) {
    // A close request ends the Windows connection too: scans answer 13 until Connect.
    EXPECT_EQ("13", Call("Twain.ScanToField($p:picture, 1)"));
    Connect();
  }
  EXPECT_EQ("5", Call("Twain.ScanToField($p:picture, 1)"));
  EXPECT_EQ("picture (none)", host->Variable("p").Display());
}

TEST_F(ScanTest, TwoScansInARowInOneInstance) {
  Connect();
  for (int i = 0; i < 2; ++i) {
    std::remove(kNativeName);
    EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")")) << i;
    ExpectPage(kNativeName, 850, 1100);
    ExpectSourceClosed("scan " + std::to_string(i));
  }
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
}

TEST_F(ScanTest, AFrameOfOneInchAt300DpiIs300By300) {
  Connect();
  // Closing the source after a scan gives it back its defaults: each scan sets its own.
  for (const std::string& scan : {std::string("Twain.ScanToFile(\"") + kNativeName + "\")",
                                  std::string("Twain.ScanToFile(\"scan.png\", 0, 7)")}) {
    EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 300, \"YRESOLUTION\", 300)"));
    EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"FRAMES\", \"1,1,2,2\")"));
    EXPECT_EQ("0", Call(scan));
  }
  ExpectPage(kNativeName, 300, 300);
  ExpectPage("scan.png", 300, 300);
}

// The chart: eight bars in the top half, the grey ramp in the bottom half.
TEST_F(ScanTest, TheFileShowsTheChartsColours) {
  Connect();
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  if (!ReaderAvailable()) GTEST_SKIP() << "checked by check_bmp_files.sh";
  const char* bars[] = {"255,255,255", "255,255,0", "0,255,255", "0,255,0",
                        "255,0,255",   "255,0,0",   "0,0,255",   "0,0,0"};
  for (int k = 0; k < 8; ++k) {
    int x = static_cast<int>((k + 0.5) * 106.25);
    EXPECT_EQ(std::string(bars[k]) + "", PixelAt(kNativeName, x, 275)) << "bar " << k;
  }
  for (int i : {0, 100, 425, 700, 849}) {
    int grey = static_cast<int>(256 * ((i + 0.5) / 100.0) / 8.5);
    if (grey > 255) grey = 255;
    std::string g = std::to_string(grey);
    EXPECT_EQ(g + "," + g + "," + g, PixelAt(kNativeName, i, 825)) << "ramp at " << i;
  }
}

// A source whose flavour was left inverted is put back with one MSG_SET; the picture is
// the normal one.
TEST_F(ScanTest, PixelFlavourIsPutBackBeforeTheScan) {
  Connect();
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"PIXELTYPE\", 1, \"PIXELFLAVOR\", 1)"));
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"PIXELFLAVOR\", $v)"));
  EXPECT_EQ("0", host->Variable("v").Display());
  if (!ReaderAvailable()) return;
  EXPECT_EQ("255,255,255", PixelAt(kNativeName, 53, 275));  // white bar stays white
  EXPECT_EQ("0,0,0", PixelAt(kNativeName, 800, 275));       // black bar stays black
}

// ------------------------------------------------------------------ mended failure paths

// A source that remembers its settings between sessions keeps the file mechanism of a file
// scan that failed; the next native scan asks for native again before it enables the source.
TEST_F(ScanTest, AFailedFileTransferIsTheResultAndTheNextNativeScanAsksForNative) {
  Connect();
  ASSERT_EQ(0, Scanner("settings keep"));
  // DAT_IMAGEFILEXFER: the source's operation, writing the file, failed (8, never the 13 of
  // a missing connection); a source that names the file's write keeps its condition code.
  ASSERT_EQ(0, Scanner("fail 2 261 1 1 22"));  // TWCC_FILEWRITEERROR
  EXPECT_EQ("3022", Call("Twain.ScanToFile(\"scan.png\", 0, 7)"));
  ASSERT_EQ(0, Scanner("fail 2 261 1 1 5"));  // TWCC_OPERATIONERROR
  EXPECT_EQ("8", Call("Twain.ScanToFile(\"scan.png\", 0, 7)"));
  ExpectSourceClosed("failed file transfer");
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XFERMECH\", $m)"));
  EXPECT_EQ("1", host->Variable("m").Display()) << "the source kept the file mechanism";
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  ExpectPage(kNativeName, 850, 1100);
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
}

// The mechanism and the format are set while the source is open and not yet enabled (the
// scanner takes them in state 4 only). A refused file mechanism or format is the scan's
// result and nothing is enabled or written; a refused native mechanism is no reason to stop.
TEST_F(ScanTest, TheTransferIsNegotiatedBeforeTheSourceIsEnabled) {
  Connect();
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"scan.tif\", 0, 0)"));
  ExpectPage("scan.tif", 850, 1100);

  struct Refusal {
    const char* command;
    const char* result;
  };
  for (Refusal refusal : {Refusal{"script-set 0x0103 1 10", "10"}, Refusal{"script-set 0x110C 1 13", "9"}}) {
    std::remove("scan.png");
    ASSERT_EQ(0, Scanner(refusal.command));
    // A failure waiting for MSG_ENABLEDS: still there after the scan if nothing was enabled.
    ASSERT_EQ(0, Scanner("fail 1 0x0009 0x0502 1 4"));
    EXPECT_EQ(refusal.result, Call("Twain.ScanToFile(\"scan.png\", 0, 7)")) << refusal.command;
    EXPECT_FALSE(Exists("scan.png")) << refusal.command;
    ExpectSourceClosed(refusal.command);
    EXPECT_EQ("3", ScannerQuery("state")) << refusal.command;
    EXPECT_EQ("3004", Call("Twain.ScanToField($p:picture)"))
        << refusal.command << ": the enable was not sent before";
  }
  ASSERT_EQ(0, Scanner("script-set 0x0103 1 13"));
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  ExpectPage(kNativeName, 850, 1100);
}

// TWRC_CANCEL from a transfer: the source is in state 7 and must be ended before it closes.
TEST_F(ScanTest, ACancelledTransferIsEndedAndTheSourceCloses) {
  Connect();
  for (const char* fault : {"fail 2 260 1 3 0", "fail 2 261 1 3 0"}) {
    bool file = std::string(fault).find("261") != std::string::npos;
    ASSERT_EQ(0, Scanner(fault));
    EXPECT_EQ("5", Call(file ? "Twain.ScanToFile(\"scan.tif\", 0, 0)" : "Twain.ScanToField($p:picture)"))
        << fault;
    ExpectSourceClosed(fault);
    EXPECT_EQ("3", ScannerQuery("state")) << fault;
  }
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
}

TEST_F(ScanTest, AFailedTransferInsideTheRoutingIsTheResult) {
  Connect();
  for (int showUI : {0, 1}) {
    std::remove(kNativeName);
    ASSERT_EQ(0, Scanner("fail 2 260 1 1 5"));  // DAT_IMAGENATIVEXFER: operation error
    EXPECT_EQ("13",
              Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\", " + std::to_string(showUI) + ")"))
        << showUI;
    EXPECT_FALSE(Exists(kNativeName));
    ExpectSourceClosed("failed native transfer");
    ASSERT_EQ(0, Scanner("fail 2 260 1 1 5"));
    EXPECT_EQ("13", Call("Twain.ScanToField($p:picture, " + std::to_string(showUI) + ")"));
  }
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
}

TEST_F(ScanTest, TwoPendingImagesGiveOneAndTheSourceIsReset) {
  Connect();
  ASSERT_EQ(0, Scanner("pending 2"));
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  ExpectSourceClosed("two pending");
  std::remove(kNativeName);
  EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")"));
  ExpectPage(kNativeName, 850, 1100);
}

TEST_F(ScanTest, AReadyNoticeDuringEnableIsCollected) {
  Connect();
  ASSERT_EQ(0, Scanner("report-during-enable on"));
  for (int showUI : {0, 1}) {
    std::remove(kNativeName);
    EXPECT_EQ("0",
              Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\", " + std::to_string(showUI) + ")"));
    ExpectPage(kNativeName, 850, 1100);
    ExpectSourceClosed("report during enable");
  }
}

TEST_F(ScanTest, AnExistingFileIsKeptOnTheMacAndReplacedOnWindows) {
  Connect();
  {
    std::ofstream out(kNativeName, std::ios::binary);
    out << "keep me";
  }
  std::string r = Call(std::string("Twain.ScanToFile(\"") + kNativeName + "\")");
  if constexpr (kWindowsBuild) {
    EXPECT_EQ("0", r);
    ExpectPage(kNativeName, 850, 1100);
  } else {
    EXPECT_EQ("7", r);
    std::vector<unsigned char> b = ReadBytes(kNativeName);
    EXPECT_EQ("keep me", std::string(b.begin(), b.end()));
    EXPECT_EQ(1, Record()->dsOpen) << "refused before the scan: the connected source is left as it was";
  }
  EXPECT_EQ(0, Record()->dsEnabled);
}

// WRITER SOURCE (the default) leaves Twain.ScanToFile's codes as they were: PNG by the
// source's file transfer, JPEG refused by a source that cannot write it (10), and a code beyond
// 9 ignored, the build's own format written under the name. WRITER EXTENSION writes TIFF,
// JPEG, PNG and PDF itself, as Twain.ScanPages writes one page (its options apply), whatever
// the source can write; a code that names no format answers 10 before anything is scanned.
TEST_F(ScanTest, TheWriterOptionSaysWhoWritesTiffJpegPngAndPdf) {
  Connect();
  auto head = [](const std::string& path, size_t n) {
    std::vector<unsigned char> b = ReadBytes(path);
    return std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
  };
  EXPECT_EQ("10", Call("Twain.ScanToFile(\"w.jpg\", 0, 4)"));
  EXPECT_FALSE(Exists("w.jpg"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"w.pdf\", 0, 10)"));
  EXPECT_EQ(kWindowsBuild ? "BM" : std::string(2, '\0'), head("w.pdf", 2));
  std::remove("w.pdf");

  ASSERT_EQ("0", Call("Twain.SetOption(\"WRITER\", \"EXTENSION\", \"PDFIMAGES\", \"LOSSLESS\")"));
  const struct {
    const char* file;
    int code;
    std::string head;
  } kFiles[] = {{"w.jpg", 4, "\xFF\xD8\xFF"}, {"w.png", 7, "\x89PNG"}, {"w.pdf", 10, "%PDF"}, {"w.tif", 0, ""}};
  for (const auto& f : kFiles) {
    EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + f.file + "\", 0, " + std::to_string(f.code) + ")"))
        << f.file;
    const std::string h = head(f.file, 4);
    if (f.code == 0) {
      EXPECT_TRUE(h == std::string("II*\0", 4) || h == std::string("MM\0*", 4)) << f.file;
    } else {
      EXPECT_EQ(f.head, h.substr(0, f.head.size())) << f.file;
    }
    if (f.code != 10) ExpectPage(f.file, 850, 1100);
    std::remove(f.file);
  }
  const std::string before = ScannerQuery("calls");
  EXPECT_EQ("10", Call("Twain.ScanToFile(\"w.img\", 0, 11)"));
  EXPECT_EQ(before, ScannerQuery("calls"));
  EXPECT_FALSE(Exists("w.img"));
  ExpectSourceClosed("the writer option");
}

}  // namespace
}  // namespace kvtest
