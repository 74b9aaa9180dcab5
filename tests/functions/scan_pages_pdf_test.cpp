// Twain.ScanPages into one PDF (code 10) from the virtual scanner's feeder: every pixel type by
// native and memory transfer, JPEG and lossless, pages of different kinds in one document,
// JPEG strips that go in as they came, a jam, a cancel and a failure in the middle, a batch
// without a page, and the options that shape the file. The files are read back after the
// suite with qpdf and poppler's tools (tests/image/check_pdf_files.sh, folder scan-pdf),
// against the pages the scanner renders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "standins/virtual-scanner/image/page.h"
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

namespace fs = std::filesystem;

const char* const kFolder = "scan-pdf";
constexpr int kDpi = 75;
constexpr int kPdf = 10;

const char* TypeName(int t) { return t == 0 ? "bw" : (t == 1 ? "grey" : "colour"); }

std::string HostName(const std::string& leaf) {
  return kWindowsBuild ? std::string(kFolder) + "\\\\" + leaf : ":" + std::string(kFolder) + ":" + leaf;
}
std::string Local(const std::string& leaf) { return std::string(kFolder) + "/" + leaf; }

std::string Bytes(const std::string& leaf) {
  std::ifstream in(Local(leaf), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ScanPagesPdfTest : public ExtensionTest {
 protected:
  static void SetUpTestSuite() {
    fs::remove_all(kFolder);
    fs::create_directories(kFolder);
  }
  void Connect(int pages) {
    ASSERT_EQ(0, Scanner("pages " + std::to_string(pages)));
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  void Options(const std::string& transfer, const std::string& images,
               const std::string& compression = "NONE") {
    ASSERT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"" + transfer + "\", \"PDFIMAGES\", \"" + images +
                        "\", \"COMPRESSION\", \"" + compression + "\")"));
  }
  void Settings(int t, int dpi = kDpi) {
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", " + std::to_string(t) + ", \"XRESOLUTION\", " +
                   std::to_string(dpi) + ", \"YRESOLUTION\", " + std::to_string(dpi) + ")"));
  }
  // A batch into one PDF: the answer, and the page count in *count.
  std::string Pdf(const std::string& leaf, std::string* count, const std::string& more = "") {
    velmar::CallResult r =
        CallFull("Twain.ScanPages(\"" + HostName(leaf) + "\", $n, 0, " + std::to_string(kPdf) + more + ")");
    *count = host->Variable("n").Display();
    return r.result.Display();
  }
  static void Manifest(const std::string& line) {
    std::ofstream(Local("manifest.txt"), std::ios::app) << line << "\n";
  }
  // Page `page` (from 1) of `file` is the scanner's page of type t after `fed` pages, as an
  // image of `encoding` ("image": Flate, "jpeg").
  static void ExpectPage(const std::string& file, int page, int t, int fed, const std::string& encoding,
                         int dpi = kDpi) {
    vscan::ScanSettings s;
    s.pixelType = t;
    s.xres = s.yres = dpi;
    s.mark = fed;
    const std::string ref =
        std::string("ref-") + TypeName(t) + "-" + std::to_string(dpi) + "-" + std::to_string(fed) + ".bmp";
    const vscan::Raster r = vscan::RenderPage(s);
    if (!fs::exists(Local(ref))) {
      std::vector<uint8_t> bmp = vscan::EncodeBMP(r);
      std::ofstream(Local(ref), std::ios::binary)
          .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    }
    char size[64];
    std::snprintf(size, sizeof size, "%.2f %.2f", r.width * 72.0 / dpi, r.height * 72.0 / dpi);
    Manifest("page " + file + " " + std::to_string(page) + " " + size);
    Manifest("image " + file + " " + std::to_string(page) + " " + encoding + " " + (t == 0 ? "1" : "8") + " " +
             (t == 2 ? "rgb" : "gray") + " " + std::to_string(dpi) + " " + std::to_string(dpi) + " " + ref +
             " " + (encoding == "jpeg" ? "jpeg" : "exact"));
  }
  static void ExpectPdf(const std::string& file, int pages) {
    Manifest("pdf " + file + " " + std::to_string(pages));
  }
};

// Each pixel type by each transfer, grey and colour as JPEG and lossless: black and white is
// always Flate, 1 bit.
TEST_F(ScanPagesPdfTest, EveryPixelTypeByNativeAndMemoryTransferJpegAndLossless) {
  Connect(2);
  for (const char* transfer : {"NATIVE", "MEMORY"}) {
    for (const char* images : {"JPEG", "LOSSLESS"}) {
      Options(transfer, images);
      for (int t = 0; t < 3; ++t) {
        Settings(t);
        const std::string file = std::string(TypeName(t)) + "-" + transfer + "-" + images + ".pdf";
        std::string n;
        ASSERT_EQ("0", Pdf(file, &n)) << file;
        EXPECT_EQ("2", n) << file;
        ExpectPdf(file, 2);
        const std::string encoding = t != 0 && std::string(images) == "JPEG" ? "jpeg" : "image";
        for (int page = 1; page <= 2; ++page) ExpectPage(file, page, t, page - 1, encoding);
      }
    }
  }
}

// A scanner that detects colour: one document, pages of their own kind and depth.
TEST_F(ScanPagesPdfTest, PagesOfDifferentKindsInOneDocument) {
  Connect(3);
  for (const char* transfer : {"NATIVE", "MEMORY"}) {
    Options(transfer, "JPEG");
    Settings(2);
    ASSERT_EQ(0, Scanner("pixel-type-at 2 0"));
    const std::string file = std::string("mixed-") + transfer + ".pdf";
    std::string n;
    ASSERT_EQ("0", Pdf(file, &n));
    EXPECT_EQ("3", n);
    ExpectPdf(file, 3);
    ExpectPage(file, 1, 2, 0, "jpeg");
    ExpectPage(file, 2, 0, 1, "image");
    ExpectPage(file, 3, 2, 2, "jpeg");
  }
}

// A 300 dpi letter page is 612 x 792 points; with a page limit of 1 the PDF has one page.
TEST_F(ScanPagesPdfTest, ALetterPageAt300DpiIs612By792Points) {
  Connect(3);
  Options("NATIVE", "JPEG");
  Settings(0, 300);
  std::string n;
  ASSERT_EQ("0", Pdf("letter.pdf", &n, ", 1"));
  EXPECT_EQ("1", n);
  ExpectPdf("letter.pdf", 1);
  ExpectPage("letter.pdf", 1, 0, 0, "image", 300);
  Manifest("page letter.pdf 1 612.00 792.00");
}

// JPEG strips asked for with COMPRESSION JPEG go into the PDF as the scanner sent them (its
// comment is in the file); a lossless PDF does not ask for them.
TEST_F(ScanPagesPdfTest, JpegStripsGoInAsTheyCame) {
  Connect(2);
  for (int t : {1, 2}) {
    Options("MEMORY", "JPEG", "JPEG");
    Settings(t);
    const std::string file = std::string("strips-") + TypeName(t) + ".pdf";
    std::string n;
    ASSERT_EQ("0", Pdf(file, &n));
    EXPECT_EQ("2", n);
    EXPECT_NE(std::string::npos, Bytes(file).find("Virtual Scanner")) << file;
    ExpectPdf(file, 2);
    for (int page = 1; page <= 2; ++page) ExpectPage(file, page, t, page - 1, "jpeg");

    Options("MEMORY", "LOSSLESS", "JPEG");
    Settings(t);
    const std::string lossless = std::string("strips-lossless-") + TypeName(t) + ".pdf";
    ASSERT_EQ("0", Pdf(lossless, &n));
    EXPECT_EQ(std::string::npos, Bytes(lossless).find("Virtual Scanner")) << lossless;
    ExpectPdf(lossless, 2);
    for (int page = 1; page <= 2; ++page) ExpectPage(lossless, page, t, page - 1, "image");
  }
}

// A JPEG page the source ends short of the length it announced, or sends without announcing
// one, fills a page of the rows its stream holds: the image's height and the MediaBox are the
// stream's, not the announcement's, so that no reader stretches the page.
TEST_F(ScanPagesPdfTest, AJpegPageIsTheSizeItsStreamSays) {
  Connect(1);
  vscan::ScanSettings s;
  s.pixelType = 2;
  s.xres = s.yres = kDpi;
  const vscan::Raster whole = vscan::RenderPage(s);
  const char* const scripts[][3] = {{"memory-rows-short 100", "memory-rows-short 0", "short.pdf"},
                                    {"memory-length-unknown on", "memory-length-unknown off", "unknown.pdf"}};
  for (const auto& script : scripts) {
    const int height = script[2] == std::string("short.pdf") ? whole.height - 100 : whole.height;
    Options("MEMORY", "JPEG", "JPEG");
    Settings(2);
    ASSERT_EQ(0, Scanner(script[0]));
    std::string n;
    EXPECT_EQ("0", Pdf(script[2], &n)) << script[0];
    EXPECT_EQ("1", n) << script[0];
    ASSERT_EQ(0, Scanner(script[1]));
    const std::string pdf = Bytes(script[2]);
    EXPECT_NE(std::string::npos, pdf.find("Virtual Scanner")) << script[0];
    EXPECT_NE(std::string::npos, pdf.find("/Height " + std::to_string(height) + " ")) << script[0];
    char box[64];
    std::snprintf(box, sizeof box, "%.2f %.2f", whole.width * 72.0 / kDpi, height * 72.0 / kDpi);
    ExpectPdf(script[2], 1);
    Manifest(std::string("page ") + script[2] + " 1 " + box);
  }
}

// A jam, a cancel or a failure after some pages closes the PDF with those pages; the answer is
// the failure's, the count the pages the file holds.
TEST_F(ScanPagesPdfTest, AJamACancelOrAFailureInTheMiddleKeepsThePagesBefore) {
  Connect(4);
  for (const char* transfer : {"NATIVE", "MEMORY"}) {
    Options(transfer, "JPEG");
    Settings(1);
    ASSERT_EQ(0, Scanner("jam-at 3"));
    const std::string file = std::string("jam-") + transfer + ".pdf";
    std::string n;
    EXPECT_EQ("3020", Pdf(file, &n));  // 3000 + TWCC_PAPERJAM
    EXPECT_EQ("2", n);
    ExpectPdf(file, 2);
    for (int page = 1; page <= 2; ++page) ExpectPage(file, page, 1, page - 1, "jpeg");
  }
  // Memory strips: page 2 of colour comes in dozens of strips; the fifth strip of every page
  // is struck, and black-and-white page 1 has only two.
  Options("MEMORY", "LOSSLESS");
  ASSERT_EQ(0, Scanner("pixel-type-at 2 2"));
  const char* const faults[][3] = {{"memory-fail-at 5 3 0", "5", "cancel.pdf"},
                                   {"memory-fail-at 5 1 4", "3004", "failure.pdf"}};
  for (const auto& f : faults) {
    Settings(0);  // the scanner starts each session from its defaults
    ASSERT_EQ(0, Scanner(f[0]));
    std::string n;
    EXPECT_EQ(f[1], Pdf(f[2], &n)) << f[0];
    EXPECT_EQ("1", n) << f[0];
    ExpectPdf(f[2], 1);
    ExpectPage(f[2], 1, 0, 0, "image");
  }
}

// A batch without a page leaves no file, and an older file of the name stays as it was (on
// the Mac, an existing name is refused before the scan: 7).
TEST_F(ScanPagesPdfTest, WithoutAPageThereIsNoFileAndAnOlderOneStays) {
  Connect(2);
  Options("NATIVE", "JPEG");
  Settings(1);
  ASSERT_EQ(0, Scanner("jam-at 1"));
  std::string n;
  EXPECT_EQ("3020", Pdf("nothing.pdf", &n));
  EXPECT_EQ("0", n);
  EXPECT_FALSE(fs::exists(Local("nothing.pdf")));
  Manifest("absent nothing.pdf");

  std::ofstream(Local("older.pdf")) << "older";
  Settings(1);
  ASSERT_EQ(0, Scanner("jam-at 1"));
  EXPECT_EQ(kWindowsBuild ? "3020" : "7", Pdf("older.pdf", &n));
  EXPECT_EQ("0", n);
  EXPECT_EQ("older", Bytes("older.pdf"));
  ASSERT_EQ(0, Scanner("jam-at none"));
  if (kWindowsBuild) {
    // Replaced once the new document holds a page.
    Settings(1);
    ASSERT_EQ("0", Pdf("older.pdf", &n));
    EXPECT_EQ("2", n);
    ExpectPdf("older.pdf", 2);
    EXPECT_FALSE(fs::exists(Local("older.pdf.part")));
  }
}

// JPEGQUALITY reaches JPEG files (code 4) and a PDF's JPEG pages. ImageIO takes it; Wine
// 8.0's WIC encoder ignores it and writes at its own quality, so the Windows files do not
// change under Wine.
TEST_F(ScanPagesPdfTest, JpegQualityReachesJpegFilesAndPdfPages) {
  Connect(1);
  Options("NATIVE", "JPEG");
  std::string n;
  for (const char* quality : {"20", "95"}) {
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"JPEGQUALITY\", ") + quality + ")"));
    Settings(2);
    ASSERT_EQ("0", Pdf(std::string("quality-") + quality + ".pdf", &n));
    Settings(2);
    ASSERT_EQ("0", Call("Twain.ScanPages(\"" + HostName(std::string("quality-") + quality + ".jpg") +
                        "\", $n, 0, 4, 1)"));
  }
  for (const char* ext : {".pdf", ".jpg"}) {
    const size_t low = Bytes(std::string("quality-20") + ext).size();
    const size_t high = Bytes(std::string("quality-95") + ext).size();
    if (kWindowsBuild) {
      EXPECT_EQ(low, high) << ext;
    } else {
      EXPECT_LT(low + low / 2, high) << ext;
    }
  }
  ExpectPdf("quality-95.pdf", 1);
  ExpectPage("quality-95.pdf", 1, 2, 0, "jpeg");
}

// Twain.ScanToFile keeps its codes: 10 there is no format it knows, and the build's own is
// written.
TEST_F(ScanPagesPdfTest, ScanToFileKeepsItsCodes) {
  Connect(1);
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"" + HostName("single.pdf") + "\", 0, 10)"));
  EXPECT_NE("%PDF", Bytes("single.pdf").substr(0, 4));
}

}  // namespace
}  // namespace kvtest
