// The PDF options through the host's calls: PDFA "2B" and the document's texts on the PDFs
// that Twain.ScanPages and Twain.ScanToFile (WRITER "EXTENSION") write, the texts taken in
// the host's character set (Windows code page 1252, Mac Roman). The files are read back after
// the suite (tests/image/check_pdfa_files.sh, folder scan-pdfa).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/fixture.h"

namespace kvtest {
namespace {

namespace fs = std::filesystem;

const char* const kFolder = "scan-pdfa";

std::string HostName(const std::string& leaf) {
  return kWindowsBuild ? std::string(kFolder) + "\\\\" + leaf : ":" + std::string(kFolder) + ":" + leaf;
}

class ScanPagesPdfaTest : public ExtensionTest {
 protected:
  static void SetUpTestSuite() {
    fs::remove_all(kFolder);
    fs::create_directories(kFolder);
  }
  static void Manifest(const std::string& line) {
    std::ofstream(std::string(kFolder) + "/manifest.txt", std::ios::app) << line << "\n";
  }
  void Connect(int pages) {
    ASSERT_EQ(0, Scanner("pages " + std::to_string(pages)));
    ASSERT_EQ("0", Call("Twain.Connect()"));
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", 2, \"XRESOLUTION\", 75, \"YRESOLUTION\", 75)"));
  }
};

// Byte 0x8E is an e with acute accent in Mac Roman and a Z with caron in code page 1252; 0xA5
// a bullet and a yen sign. The document says them in Unicode, as each platform's host meant.
TEST_F(ScanPagesPdfaTest, AnArchivalBatchOfMixedPagesWithTextsInTheHostsCharacterSet) {
  Connect(3);
  ASSERT_EQ(0, Scanner("pixel-type-at 2 0"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"PDFA\", \"2B\", \"PDFTITLE\", \"Caf\x8E\", \"PDFAUTHOR\", \"A\xA5"
                      "B\")"));
  for (const char* transfer : {"NATIVE", "MEMORY"}) {
    // Memory: the source's own JPEG strips go in as they came.
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"TRANSFER\", \"") + transfer +
                        "\", \"COMPRESSION\", \"JPEG\")"));
    const std::string file = std::string("batch-") + transfer + ".pdf";
    velmar::CallResult r = CallFull("Twain.ScanPages(\"" + HostName(file) + "\", $n, 0, 10)");
    ASSERT_EQ("0", r.result.Display()) << file;
    EXPECT_EQ("3", host->Variable("n").Display());
    Manifest("pdfa " + file);
    Manifest("info " + file + " Title " + (kWindowsBuild ? "436166c5bd" : "436166c3a9"));
    Manifest("info " + file + " Author " + (kWindowsBuild ? "41c2a542" : "41e280a242"));
    Manifest("info " + file + " Subject -");
  }
}

TEST_F(ScanPagesPdfaTest, ScanToFileWrittenByTheExtensionIsArchivalToo) {
  Connect(1);
  ASSERT_EQ(
      "0",
      Call("Twain.SetOption(\"WRITER\", \"EXTENSION\", \"PDFA\", \"2B\", \"PDFSUBJECT\", \"One (page)\")"));
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"" + HostName("single.pdf") + "\", 0, 10)"));
  Manifest("pdfa single.pdf");
  Manifest("info single.pdf Subject 4f6e6520287061676529");
}

// PDFA "NONE" (the default): the texts go into the information dictionary of an ordinary PDF.
TEST_F(ScanPagesPdfaTest, TextsWithoutArchivalGoIntoAnOrdinaryPdf) {
  Connect(1);
  ASSERT_EQ("0", Call("Twain.SetOption(\"PDFKEYWORDS\", \"scan, archive\", \"PDFTITLE\", \"\")"));
  velmar::CallResult r = CallFull("Twain.ScanPages(\"" + HostName("ordinary.pdf") + "\", $n, 0, 10)");
  ASSERT_EQ("0", r.result.Display());
  Manifest("plain ordinary.pdf");
  Manifest("info ordinary.pdf Keywords 7363616e2c2061726368697665");
  Manifest("info ordinary.pdf Title -");
}

}  // namespace
}  // namespace kvtest
