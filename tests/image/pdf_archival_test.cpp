// What a PDF says of itself: the archival form (PDF/A-2b: its header, metadata and output
// intent) and the texts of the document information, in both the information dictionary's
// encodings, escaped. The bytes the writer chose are checked here; whether readers take them
// as meant (qpdf, poppler, xmllint against the PDF/A rules) is checked after the suite over
// pdfa-files/manifest.txt (tests/image/check_pdfa_files.sh).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/pdf_document.h"
#include "standins/virtual-scanner/image/page.h"
#include "tests/support/file_folder.h"
#include "tests/support/test_pages.h"

namespace {

const kvtest::FileFolder kFiles("pdfa-files");

vscan::Raster Chart(int pixelType) { return kvtest::Chart(pixelType, 50, 50, 3, 3); }

std::string Bytes(const std::string& leaf) {
  std::ifstream in(kFiles.Local(leaf), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string HexOf(const std::string& utf8) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : utf8) {
    hex += digits[static_cast<unsigned char>(c) >> 4];
    hex += digits[static_cast<unsigned char>(c) & 15];
  }
  return hex.empty() ? "-" : hex;
}

PdfText Text(const std::u16string& utf16, const std::string& utf8) { return PdfText{utf16, utf8}; }

// The document information object as written: "<< ... >>".
std::string InfoOf(const std::string& file) {
  const size_t at = file.find("\n3 0 obj\n");
  if (at == std::string::npos) return std::string();
  const size_t from = at + 9, end = file.find("\nendobj\n", from);
  return file.substr(from, end - from);
}

class PdfArchivalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kFiles.Empty(); }
  static void Manifest(const std::string& line) { kFiles.Manifest(line); }
  // A document of a black-and-white, a grey and a colour page.
  static void Write(const std::string& leaf, const PdfSettings& settings) {
    PdfDocument doc(kFiles.HostPath(leaf).data(), settings);
    for (int type : {0, 1, 2}) {
      const vscan::Raster r = Chart(type);
      kvtest::RasterPixels pixels(r);
      ASSERT_EQ(0, doc.AddPage(pixels)) << leaf;
    }
    int pages = 0;
    ASSERT_EQ(0, doc.Close(&pages));
    ASSERT_EQ(3, pages);
  }
  static void ExpectInfo(const std::string& leaf, const PdfSettings& s) {
    Manifest("info " + leaf + " Title " + HexOf(s.title.utf8));
    Manifest("info " + leaf + " Author " + HexOf(s.author.utf8));
    Manifest("info " + leaf + " Subject " + HexOf(s.subject.utf8));
    Manifest("info " + leaf + " Keywords " + HexOf(s.keywords.utf8));
    Manifest("info " + leaf + " Producer " + HexOf("Kardivelle 1.2"));
  }
};

// Texts that need escaping in both forms, one in PDFDocEncoding and the others in UTF-16, in
// an archival document of JPEG pages and one of lossless pages.
PdfSettings ArchivalTexts() {
  PdfSettings s;
  s.archival = true;
  s.title = Text(u"Scan (1) \\ \u00e9t\u00e9", "Scan (1) \\ \xc3\xa9t\xc3\xa9");
  s.author = Text(u"\u0141ukasz \u2014 <Archiv> & Co", "\xc5\x81ukasz \xe2\x80\x94 <Archiv> & Co");
  s.subject = Text(u"first line\r\nsecond\tline (\u20ac 5)", "first line\r\nsecond\tline (\xe2\x82\xac 5)");
  s.keywords = Text(u"invoice, 2024, a>b", "invoice, 2024, a>b");
  return s;
}

TEST_F(PdfArchivalTest, AnArchivalDocumentCarriesItsMetadataAndOutputIntent) {
  for (bool lossless : {false, true}) {
    PdfSettings s = ArchivalTexts();
    s.lossless = lossless;
    const std::string leaf = lossless ? "archival-lossless.pdf" : "archival-jpeg.pdf";
    Write(leaf, s);
    Manifest("pdfa " + leaf);
    ExpectInfo(leaf, s);
    const std::string file = Bytes(leaf);
    EXPECT_EQ(0u, file.find("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"));
    EXPECT_NE(std::string::npos, file.find("/Type /Metadata /Subtype /XML"));
    EXPECT_NE(std::string::npos, file.find("/OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1 "));
    EXPECT_EQ(std::string::npos, file.find("/Interpolate"));
    // The title fits PDFDocEncoding: its bytes, parentheses and backslash escaped.
    const std::string info = InfoOf(file);
    EXPECT_NE(std::string::npos, info.find("/Title (Scan \\(1\\) \\\\ \\351t\\351)")) << info;
    // The author does not (an L with stroke, an em dash): UTF-16BE after its byte order mark.
    EXPECT_NE(std::string::npos, info.find("/Author (\\376\\377\\001A\\000u\\000k")) << info;
    // Line ends and tabs as their escapes; the euro sign sends the subject to UTF-16 too.
    EXPECT_NE(std::string::npos, info.find("\\000\\r\\000\\n\\000s")) << info;
    EXPECT_NE(std::string::npos, info.find("\\000\\t\\000l")) << info;
    EXPECT_NE(std::string::npos, info.find("\\000\\( \\254")) << info;
    // The modification date is the creation date, as the metadata's dates are one.
    const size_t created = info.find("/CreationDate (D:"), modified = info.find("/ModDate (D:");
    ASSERT_NE(std::string::npos, created);
    ASSERT_NE(std::string::npos, modified);
    EXPECT_EQ(info.substr(created + 15, 17), info.substr(modified + 10, 17));
    // XML's characters escaped in the metadata; the carriage return kept as a reference.
    EXPECT_NE(std::string::npos, file.find("\xc5\x81ukasz \xe2\x80\x94 &lt;Archiv&gt; &amp; Co")) << leaf;
    EXPECT_NE(std::string::npos, file.find("first line&#xD;\nsecond\tline")) << leaf;
  }
}

// Without texts the metadata has only what the document always says; the end is as the
// dictionary's, Producer and dates.
TEST_F(PdfArchivalTest, AnArchivalDocumentWithoutTexts) {
  PdfSettings s;
  s.archival = true;
  Write("archival-bare.pdf", s);
  Manifest("pdfa archival-bare.pdf");
  ExpectInfo("archival-bare.pdf", s);
  const std::string file = Bytes("archival-bare.pdf");
  EXPECT_EQ(std::string::npos, file.find("<dc:title>"));
  EXPECT_EQ(std::string::npos, InfoOf(file).find("/Title"));
}

// The texts go into an ordinary PDF's information too, and nothing else changes: no metadata,
// no output intent, the 1.4 header.
TEST_F(PdfArchivalTest, TextsInAnOrdinaryDocumentGoInItsInformationOnly) {
  PdfSettings s = ArchivalTexts();
  s.archival = false;
  Write("texts.pdf", s);
  Manifest("plain texts.pdf");
  ExpectInfo("texts.pdf", s);
  const std::string file = Bytes("texts.pdf");
  EXPECT_EQ(std::string::npos, file.find("/Metadata"));
  EXPECT_EQ(std::string::npos, InfoOf(file).find("/ModDate"));
}

// An ordinary document without texts is as the writer has always made it: its catalogue and
// information as before, byte for byte.
TEST_F(PdfArchivalTest, AnOrdinaryDocumentWithoutTextsIsAsBefore) {
  Write("ordinary.pdf", PdfSettings{});
  Manifest("plain ordinary.pdf");
  const std::string file = Bytes("ordinary.pdf");
  EXPECT_EQ(0u, file.find("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
  EXPECT_NE(std::string::npos, file.find("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"));
  const std::string info = InfoOf(file);
  ASSERT_EQ(std::string("<< /Producer (Kardivelle 1.2) /CreationDate (D:").size() + 15 + 4, info.size())
      << info;
  EXPECT_EQ(0u, info.find("<< /Producer (Kardivelle 1.2) /CreationDate (D:"));
}

}  // namespace
