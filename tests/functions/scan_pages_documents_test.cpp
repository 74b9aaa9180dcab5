// Twain.ScanPages separated into documents (the option SEPARATION) against the virtual
// scanner as a document scanner: one file per document at patch sheets (the scanner's job
// control) or blank sheets, separators neither written nor counted, DOCUMENTS and PAGES
// saying what became of each sheet, by native and by memory transfer, and a failure in the
// middle of the second document keeping the first.
#include <sys/stat.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"
#include "tests/support/pages_text.h"

#if !KV_WINDOWS_BUILD
#include "ImageIOStandin.h"
#endif

namespace kvtest {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// "d.pdf" with numbers: d-0001.pdf, d-0001-0002.png.
std::string Named(int document, const char* ext, int page = 0) {
  char name[64];
  if (page == 0)
    std::snprintf(name, sizeof name, "d-%04d%s", document, ext);
  else
    std::snprintf(name, sizeof name, "d-%04d-%04d%s", document, page, ext);
  return name;
}

class ScanPagesDocumentsTest : public ExtensionTest {
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
    for (int d = 1; d <= 4; ++d) {
      for (const char* ext : {".pdf", ".tif"}) std::remove(Named(d, ext).c_str());
      for (int p = 1; p <= 6; ++p) std::remove(Named(d, ".png", p).c_str());
    }
    for (const char* name : {"d.pdf", "d.png", "d.img", "d-0001.png", "d-0002.png", "one.png"})
      std::remove(name);
  }
  // A document scanner whose feeder holds `sheets`, connected, grey pages at 150 dpi.
  void Documents(int sheets, const char* separation, const char* transfer = "NATIVE") {
    ASSERT_EQ(0, Scanner("documents on"));
    ASSERT_EQ(0, Scanner("pages " + std::to_string(sheets)));
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"TRANSFER\", \"") + transfer + "\", \"SEPARATION\", \"" +
                        separation + "\")"));
    ASSERT_EQ("0", Call("Twain.Connect()"));
    Grey();
  }
  void Grey() {
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", 1, \"XRESOLUTION\", 150, \"YRESOLUTION\", 150)"));
  }
  // The batch's answer, its page count and DOCUMENTS ("0 5 2").
  std::string Batch(const std::string& file, int code) {
    velmar::CallResult r = CallFull("Twain.ScanPages(\"" + file + "\", $n, 0, " + std::to_string(code) + ")");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ("0", Call("Twain.GetOption(\"DOCUMENTS\", $d)"));
    return r.result.Display() + " " + host->Variable("n").Display() + " " + host->Variable("d").Display();
  }
  std::vector<std::vector<std::string>> Pages() {
    EXPECT_EQ("0", Call("Twain.GetOption(\"PAGES\", $p)"));
    return PagesLines(host->Variable("p").AsText());
  }
  static void ExpectPageCount(const std::string& file, int pages) {
    EXPECT_TRUE(Exists(file)) << file;
    const int read = PageCountOf(file);
    if (read >= 0) {
      EXPECT_EQ(pages, read) << file;
    }
  }
  // The batch's PDFs, d-0001.pdf first, holding these pages each, and none after them.
  static void ExpectPdfs(std::initializer_list<int> pages) {
    int d = 0;
    for (int count : pages) ExpectPageCount(Named(++d, ".pdf"), count);
    EXPECT_FALSE(Exists(Named(d + 1, ".pdf")));
  }
  // The lines' documents and pages in them, as "1:1 1:2 2:1" (each page of one-page files its
  // own file's first), a separator as "S".
  static std::string Places(const std::vector<std::vector<std::string>>& lines) {
    std::string places;
    for (const auto& line : lines) {
      if (!places.empty()) places += " ";
      places += line[kFate] == "WRITTEN" ? line[kDocument] + ":" + line[kPageInFile] : line[kFate].substr(0, 1);
      if (line[kFate] == "WRITTEN" && line[kFile].size() > 4 &&
          line[kFile].substr(line[kFile].size() - 4) == ".png")
        places.back() = line[kFile][line[kFile].size() - 5];  // d-0002-0003.png: its page, 3
    }
    return places;
  }
};

struct Case {
  const char* transfer;
  int code;
  const char* ext;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.transfer) + (info.param.ext + 1);
}

class ScanPagesDocumentsFormatsTest : public ScanPagesDocumentsTest,
                                      public ::testing::WithParamInterface<Case> {
 protected:
  // Document `d`'s file holding `pages`, or its pages each in a numbered file.
  void ExpectDocument(int d, int pages) {
    const Case& c = GetParam();
    if (c.code != TWFF_PNG) return ExpectPageCount(Named(d, c.ext), pages);
    for (int p = 1; p <= pages; ++p) EXPECT_TRUE(Exists(Named(d, c.ext, p))) << d << " " << p;
    EXPECT_FALSE(Exists(Named(d, c.ext, pages + 1))) << d;
  }
};

// Six sheets, the third a patch 2 sheet: the scanner's job control leaves it out and ends the
// first document after sheet 2. A patch 1 sheet separates nothing: it is a page of the second.
TEST_P(ScanPagesDocumentsFormatsTest, PatchSheetsEndDocumentsThroughJobControl) {
  ASSERT_EQ(0, Scanner("patch-at 3 2"));
  ASSERT_EQ(0, Scanner("patch-at 5 1"));
  Documents(6, "PATCHCODE", GetParam().transfer);
  const std::string file = std::string("d") + GetParam().ext;
  EXPECT_EQ("0 5 2", Batch(file, GetParam().code));
  ExpectDocument(1, 2);
  ExpectDocument(2, 3);
  EXPECT_FALSE(Exists(file));
  EXPECT_FALSE(Exists(Named(3, GetParam().ext)));
  const auto lines = Pages();
  EXPECT_EQ("1:1 1:2 2:1 2:2 2:3", Places(lines));  // the separator was never delivered
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("1", lines[3][kPatch]);
  const std::string first =
      GetParam().code == TWFF_PNG ? Named(2, GetParam().ext, 1) : Named(2, GetParam().ext);
  EXPECT_EQ(first, lines[2][kFile]);
}

// Blank sheets separate: two in a row end one document (the empty one between makes no
// file), a blank first sheet starts nothing. None is written, counted, or left out as blank.
TEST_P(ScanPagesDocumentsFormatsTest, BlankSheetsEndDocuments) {
  for (int sheet : {1, 4, 5}) ASSERT_EQ(0, Scanner("blank-at " + std::to_string(sheet)));
  Documents(7, "BLANKSHEET", GetParam().transfer);
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 4 2", Batch(std::string("d") + GetParam().ext, GetParam().code));
  ExpectDocument(1, 2);
  ExpectDocument(2, 2);
  EXPECT_EQ("S 1:1 1:2 S S 2:1 2:2", Places(Pages()));
  EXPECT_EQ("0", Call("Twain.GetOption(\"DISCARDED\", $x)"));
  EXPECT_EQ("0", host->Variable("x").Display());
}

// A scanner without job control: the extension turns its patch code detection on, and a sheet
// reporting any patch code is the separator, delivered but neither written nor counted.
TEST_P(ScanPagesDocumentsFormatsTest, PatchCodesEndDocumentsWithoutJobControl) {
  ASSERT_EQ(0, Scanner("jobcontrol off"));
  ASSERT_EQ(0, Scanner("patch-at 1 T"));
  ASSERT_EQ(0, Scanner("patch-at 4 1"));
  ASSERT_EQ(0, Scanner("patch-at 5 3"));
  Documents(7, "PATCHCODE", GetParam().transfer);
  EXPECT_EQ("0 4 2", Batch(std::string("d") + GetParam().ext, GetParam().code));
  ExpectDocument(1, 2);
  ExpectDocument(2, 2);
  const auto lines = Pages();
  EXPECT_EQ("S 1:1 1:2 S S 2:1 2:2", Places(lines));
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("T", lines[0][kPatch]);
  EXPECT_EQ("1", lines[3][kPatch]);
  EXPECT_EQ("", lines[0][kFile]);
  EXPECT_EQ("0", lines[0][kPageInFile]);
  EXPECT_EQ("1", lines[3][kDocument]);  // a separator belongs to the document it ends
}

INSTANTIATE_TEST_SUITE_P(TransfersAndFormats, ScanPagesDocumentsFormatsTest,
                         ::testing::Values(Case{"NATIVE", TWFF_PDF, ".pdf"}, Case{"MEMORY", TWFF_PDF, ".pdf"},
                                           Case{"NATIVE", TWFF_TIFFMULTI, ".tif"},
                                           Case{"MEMORY", TWFF_PNG, ".png"}, Case{"NATIVE", TWFF_PNG, ".png"}),
                         CaseName);

// A jam on the second document's second page: the first document whole, the second as far as
// it got, both counted; the next batch works.
TEST_F(ScanPagesDocumentsTest, AJamInTheSecondDocumentKeepsTheFirst) {
  ASSERT_EQ(0, Scanner("patch-at 3 T"));
  ASSERT_EQ(0, Scanner("jam-at 5"));  // sheet 5: the scanner counts the separator too
  Documents(6, "PATCHCODE");
  EXPECT_EQ("3020 3 2", Batch("d.pdf", TWFF_PDF));
  ExpectPageCount(Named(1, ".pdf"), 2);
  ExpectPageCount(Named(2, ".pdf"), 1);
  EXPECT_EQ("1:1 1:2 2:1", Places(Pages()));
  Remove();
  Grey();
  EXPECT_EQ("0 5 2", Batch("d.pdf", TWFF_PDF));
}

#if !KV_WINDOWS_BUILD
// The disk fills while the second document's second page is written: 8, the first document
// whole, the second as far as it got.
TEST_F(ScanPagesDocumentsTest, AFullDiskInTheSecondDocumentKeepsTheFirst) {
  ASSERT_EQ(0, Scanner("blank-at 2"));
  Documents(5, "BLANKSHEET");
  ImageIOStandin_FailNthFinalize(3);  // the third page written: sheet 4
  EXPECT_EQ("8 2 2", Batch("d.png", TWFF_PNG));
  ImageIOStandin_FailNthFinalize(0);
  EXPECT_TRUE(Exists(Named(1, ".png", 1)));
  EXPECT_TRUE(Exists(Named(2, ".png", 1)));
  EXPECT_FALSE(Exists(Named(2, ".png", 2)));
  EXPECT_FALSE(Exists(Named(2, ".png", 2) + ".part"));
  EXPECT_EQ("1:1 S 2:1", Places(Pages()));
}
#endif

// A blank page left out just before a patch sheet: the job the scanner ended with it ends its
// document all the same.
TEST_F(ScanPagesDocumentsTest, AJobEndedOnAPageLeftOutAsBlankEndsTheDocument) {
  ASSERT_EQ(0, Scanner("blank-at 2"));
  ASSERT_EQ(0, Scanner("patch-at 3 2"));
  Documents(4, "PATCHCODE");
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 2 2", Batch("d.pdf", TWFF_PDF));
  ExpectPdfs({1, 1});
  EXPECT_EQ("1:1 B 2:1", Places(Pages()));
}

// Sheets that were all separators (or blank) wrote nothing: the answer says so as for a scanner
// whose job control never delivers its separators (5), or 18 where a blank page was among them.
TEST_F(ScanPagesDocumentsTest, SeparatorsAloneWriteNothingAndSaySo) {
  ASSERT_EQ(0, Scanner("jobcontrol off"));
  ASSERT_EQ(0, Scanner("patch-at 1 2"));
  ASSERT_EQ(0, Scanner("patch-at 2 T"));
  Documents(2, "PATCHCODE");
  EXPECT_EQ("5 0 0", Batch("d.pdf", TWFF_PDF));
  EXPECT_EQ("S S", Places(Pages()));
  ASSERT_EQ(0, Scanner("pages 3"));
  ASSERT_EQ(0, Scanner("blank-at 3"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("18 0 0", Batch("d.pdf", TWFF_PDF));
  EXPECT_EQ("S S B", Places(Pages()));
  ExpectPdfs({});
}

// Duplex: a separator is a sheet, both its sides. A patch on the front takes the back with it
// (a scanner without job control delivers both), and the back belongs to the document it ends.
TEST_F(ScanPagesDocumentsTest, BothSidesOfAPatchSheetSeparate) {
  ASSERT_EQ(0, Scanner("jobcontrol off"));
  ASSERT_EQ(0, Scanner("patch-at 3 2"));
  Documents(3, "PATCHCODE");
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"DUPLEXENABLED\", 1)"));
  EXPECT_EQ("0 4 2", Batch("d.pdf", TWFF_PDF));
  ExpectPdfs({2, 2});
  const auto lines = Pages();
  EXPECT_EQ("1:1 1:2 S S 2:1 2:2", Places(lines));
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("1", lines[3][kDocument]);
  EXPECT_EQ("BACK", lines[3][kSide]);
}

// Duplex with blank sheets: a sheet blank on both sides separates; the blank back of a sheet
// printed on its front is a blank page, left out as BLANKPAGES says, and separates nothing.
TEST_F(ScanPagesDocumentsTest, ABlankSheetIsBlankOnBothSides) {
  for (int side : {2, 3, 4, 6}) ASSERT_EQ(0, Scanner("blank-at " + std::to_string(side)));
  Documents(4, "BLANKSHEET");
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"DUPLEXENABLED\", 1)"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 4 2", Batch("d.pdf", TWFF_PDF));
  ExpectPdfs({1, 3});
  EXPECT_EQ("1:1 B S S 2:1 B 2:2 2:3", Places(Pages()));
  Remove();
  ASSERT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"KEEP\")"));
  Grey();  // the batch closed the source: its settings start afresh
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"DUPLEXENABLED\", 1)"));
  EXPECT_EQ("0 6 2", Batch("d.pdf", TWFF_PDF));
  ExpectPdfs({2, 4});
  EXPECT_EQ("1:1 1:2 S S 2:1 2:2 2:3 2:4", Places(Pages()));
}

// A source that can neither control jobs nor report patch codes: 10 before anything is
// scanned, no file; so does a blank sheet where the source writes the files itself.
TEST_F(ScanPagesDocumentsTest, SeparationTheBatchCannotDoScansNothing) {
  ASSERT_EQ(0, Scanner("pages 2"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"SEPARATION\", \"PATCHCODE\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("10 0 0", Batch("d.pdf", TWFF_PDF));
  EXPECT_FALSE(Exists(Named(1, ".pdf")));
  EXPECT_EQ(0u, Pages().size());
  ASSERT_EQ("0", Call("Twain.SetOption(\"SEPARATION\", \"BLANKSHEET\")"));
  // The other build's native format: written as it comes, not by the extension's encoders.
  EXPECT_EQ("10 0 0", Batch("d.img", kWindowsBuild ? TWFF_PICT : TWFF_BMP));
  ASSERT_EQ("0", Call("Twain.SetOption(\"SEPARATION\", \"NONE\")"));
  EXPECT_EQ("0 2 1", Batch("d.pdf", TWFF_PDF));
  ExpectPageCount("d.pdf", 2);
}

// The options' words and defaults; DOCUMENTS is the extension's; Twain.ScanToFile writes its
// one page under the name as given whatever SEPARATION says.
TEST_F(ScanPagesDocumentsTest, OptionsAndASinglePage) {
  EXPECT_EQ("0", Call("Twain.GetOption(\"SEPARATION\", $s, \"DOCUMENTS\", $d)"));
  EXPECT_EQ("NONE", host->Variable("s").AsText());
  EXPECT_EQ("0", host->Variable("d").Display());
  for (const char* word : {"BLANKSHEET", "PATCHCODE", "NONE"})
    EXPECT_EQ("0", Call(std::string("Twain.SetOption(\"SEPARATION\", \"") + word + "\")")) << word;
  EXPECT_EQ("10", Call("Twain.SetOption(\"SEPARATION\", \"BARCODE\")"));
  EXPECT_EQ("11", Call("Twain.SetOption(\"DOCUMENTS\", 3)"));
  ASSERT_EQ(0, Scanner("pages 1"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"SEPARATION\", \"BLANKSHEET\", \"WRITER\", \"EXTENSION\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"one.png\", 7)"));
  EXPECT_TRUE(Exists("one.png"));
}

}  // namespace
}  // namespace kvtest
