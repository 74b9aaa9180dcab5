// The PDF writer (image/pdf_document.h) over pages given as rows: every pixel type, lossless
// and JPEG, pages of different sizes, kinds and resolutions in one document, a page that is a
// JPEG stream already, a page that fails half-way, a write that fails, and documents without
// a page. What only an independent reader can judge (the file's structure, page sizes, each
// image's encoding, depth and resolution, its pixels against the page) goes to
// pdf-files/manifest.txt and is checked after the suite with qpdf and poppler's tools
// (tests/image/check_pdf_files.sh): the Windows suite runs under Wine, where they cannot.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_platform.h"
#include "image/pdf_document.h"
#include "standins/virtual-scanner/image/page.h"
#include "tests/support/file_folder.h"
#include "tests/support/test_pages.h"
#include "twain/result_codes.h"

#if KV_WINDOWS_BUILD
#include "tests/support/failing_new.h"
#else
#include <Carbon/Carbon.h>

#include "CarbonStandin.h"
#endif

namespace {

namespace fs = std::filesystem;

const kvtest::FileFolder kFiles("pdf-files");

using kvtest::Chart;
using kvtest::RasterPixels;

// Points of `pixels` at `dpi`, as the writer gives them (to the hundredth).
std::string Points(int pixels, double dpi) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", pixels * 72.0 / dpi);
  return text;
}

class PdfDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kFiles.Empty(); }
  static void Manifest(const std::string& line) { kFiles.Manifest(line); }
  // The reference of a page, once, as a BMP.
  static std::string Reference(const std::string& name, const vscan::Raster& r) {
    const std::string leaf = "ref-" + name + ".bmp";
    if (!fs::exists(kFiles.Local(leaf))) {
      std::vector<uint8_t> bmp = vscan::EncodeBMP(r);
      std::ofstream(kFiles.Local(leaf), std::ios::binary)
          .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    }
    return leaf;
  }
  // Page `n` of `file` shows `r` as an image of `encoding` ("image": Flate; "jpeg").
  static void ExpectPage(const std::string& file, int n, const vscan::Raster& r, const std::string& refName,
                         const std::string& encoding) {
    const int bits = r.bitsPerPixel == 24 ? 8 : r.bitsPerPixel;
    const char* colour = r.bitsPerPixel == 24 ? "rgb" : "gray";
    Manifest("page " + file + " " + std::to_string(n) + " " + Points(r.width, r.xres) + " " +
             Points(r.height, r.yres));
    Manifest("image " + file + " " + std::to_string(n) + " " + encoding + " " + std::to_string(bits) + " " +
             colour + " " + std::to_string(static_cast<int>(r.xres)) + " " +
             std::to_string(static_cast<int>(r.yres)) + " " + Reference(refName, r) + " " +
             (encoding == "jpeg" ? "jpeg" : "exact"));
  }
  static void ExpectPdf(const std::string& file, int pages) {
    Manifest("pdf " + file + " " + std::to_string(pages));
  }
};

// Pages of every kind, size and resolution in one document, lossless and with JPEG pages.
TEST_F(PdfDocumentTest, EveryPixelTypeLosslessAndJpegWithPagesOfTheirOwnSize) {
  const vscan::Raster bw = Chart(0, 200, 200, 8.5, 11);  // a letter page less its margins
  const vscan::Raster grey = Chart(1, 150, 75);          // resolutions that differ
  const vscan::Raster colour = Chart(2, 100, 100, 3.03, 4);
  for (bool lossless : {true, false}) {
    PdfSettings settings;
    settings.lossless = lossless;
    const std::string file = lossless ? "lossless.pdf" : "jpeg.pdf";
    PdfDocument doc(kFiles.HostPath(file).data(), settings);
    for (const vscan::Raster* r : {&colour, &bw, &grey}) {
      RasterPixels pixels(*r);
      ASSERT_EQ(0, doc.AddPage(pixels)) << file;
    }
    int pages = 0;
    ASSERT_EQ(0, doc.Close(&pages));
    EXPECT_EQ(3, pages);
    ExpectPdf(file, 3);
    const std::string grey8 = lossless ? "image" : "jpeg";
    ExpectPage(file, 1, colour, "colour", grey8);
    ExpectPage(file, 2, bw, "bw", "image");
    ExpectPage(file, 3, grey, "grey", grey8);
  }
}

// A page whose JPEG stream exists already (here from the platform's encoder) goes in byte for
// byte, with the size and components it is said to have.
TEST_F(PdfDocumentTest, AJpegPageGoesInAsItCame) {
  const vscan::Raster grey = Chart(1, 100, 100);
  const vscan::Raster colour = Chart(2, 100, 100);
  PdfDocument doc(kFiles.HostPath("as-it-came.pdf").data(), PdfSettings{});
  int n = 0;
  for (const vscan::Raster* r : {&grey, &colour}) {
    RasterPixels pixels(*r);
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(0, EncodeJpeg(pixels, 85, &jpeg));
    const std::string stream = "stream-" + std::to_string(++n) + ".jpg";
    std::ofstream(kFiles.Local(stream), std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    JpegPageFacts facts;
    facts.width = static_cast<uint32_t>(r->width);
    facts.height = static_cast<uint32_t>(r->height);
    facts.components = r->bitsPerPixel == 8 ? 1 : 3;
    facts.xDpi = facts.yDpi = 100;
    ASSERT_EQ(0, doc.AddJpegPage(jpeg.data(), jpeg.size(), facts));
    ExpectPage("as-it-came.pdf", n, *r, r->bitsPerPixel == 8 ? "grey-100" : "colour-100", "jpeg");
    Manifest("stream as-it-came.pdf " + std::to_string(n) + " " + stream);
  }
  // Nothing to go in, or a kind no JPEG page has: the document goes on without it.
  JpegPageFacts facts;
  facts.width = facts.height = 10;
  EXPECT_EQ(kResultUnusablePage, doc.AddJpegPage(nullptr, 0, facts));
  facts.components = 4;
  const uint8_t byte = 0;
  EXPECT_EQ(kResultUnusablePage, doc.AddJpegPage(&byte, 1, facts));
  int pages = 0;
  ASSERT_EQ(0, doc.Close(&pages));
  EXPECT_EQ(2, pages);
  ExpectPdf("as-it-came.pdf", 2);
}

// A page whose rows cannot all be made answers 2 and leaves nothing of itself: lossless, after
// part of its image was written; as JPEG, before anything was. The pages after it still come.
TEST_F(PdfDocumentTest, APageThatFailsHalfWayIsCutOffAndTheDocumentGoesOn) {
  const vscan::Raster grey = Chart(1, 100, 100);
  const vscan::Raster bw = Chart(0, 100, 100);
  for (bool lossless : {true, false}) {
    PdfSettings settings;
    settings.lossless = lossless;
    const std::string file = lossless ? "cut-lossless.pdf" : "cut-jpeg.pdf";
    PdfDocument doc(kFiles.HostPath(file).data(), settings);
    RasterPixels first(bw), broken(grey, static_cast<uint32_t>(grey.height) / 2), last(grey);
    ASSERT_EQ(0, doc.AddPage(first));
    EXPECT_EQ(kResultUnusablePage, doc.AddPage(broken)) << file;
    EXPECT_EQ(1, doc.Pages());
    ASSERT_EQ(0, doc.AddPage(last));
    int pages = 0;
    ASSERT_EQ(0, doc.Close(&pages));
    EXPECT_EQ(2, pages);
    ExpectPdf(file, 2);
    ExpectPage(file, 1, bw, "bw-100", "image");
    ExpectPage(file, 2, grey, "grey-100", lossless ? "image" : "jpeg");
  }
}

// No page, no file: a document never given one, one whose only page failed, one never closed.
TEST_F(PdfDocumentTest, WithoutAPageThereIsNoFile) {
  const vscan::Raster grey = Chart(1, 100, 100);
  int pages = -1;
  {
    PdfDocument doc(kFiles.HostPath("none.pdf").data(), PdfSettings{});
    ASSERT_EQ(0, doc.Close(&pages));
    EXPECT_EQ(0, pages);
  }
  {
    PdfSettings lossless;
    lossless.lossless = true;
    PdfDocument doc(kFiles.HostPath("failed.pdf").data(), lossless);
    RasterPixels broken(grey, 10);
    EXPECT_EQ(kResultUnusablePage, doc.AddPage(broken));
    ASSERT_EQ(0, doc.Close(&pages));
    EXPECT_EQ(0, pages);
  }
  {
    PdfDocument doc(kFiles.HostPath("unclosed.pdf").data(), PdfSettings{});
    RasterPixels pixels(grey);
    ASSERT_EQ(0, doc.AddPage(pixels));
    EXPECT_TRUE(fs::exists(kFiles.Local("unclosed.pdf")));  // written as the pages come
  }
  for (const char* leaf : {"none.pdf", "failed.pdf", "unclosed.pdf"})
    EXPECT_FALSE(fs::exists(kFiles.Local(leaf))) << leaf;
}

#if !KV_WINDOWS_BUILD
// The File Manager fails a write as a full disk does: the page being written is cut off and
// the pages before are closed into a document; an end that does not fit cuts off pages until
// it does, and with none left there is no file. (Windows: the suite of a full disk,
// tests/pages/check_full_disk.sh.)
TEST_F(PdfDocumentTest, AFullDiskKeepsThePagesBeforeWhenTheyCanBeClosed) {
  const vscan::Raster grey = Chart(1, 100, 100);
  PdfSettings lossless;
  lossless.lossless = true;
  {
    PdfDocument doc(kFiles.HostPath("full-in-page.pdf").data(), lossless);
    RasterPixels pixels(grey);
    ASSERT_EQ(0, doc.AddPage(pixels));
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 3, dskFulErr);  // inside the image's data
    EXPECT_EQ(kResultFileError, doc.AddPage(pixels));
    EXPECT_EQ(kResultFileError, doc.AddPage(pixels));  // no page after a full disk
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 0, noErr);
    int pages = 0;
    ASSERT_EQ(0, doc.Close(&pages));
    EXPECT_EQ(1, pages);
    ExpectPdf("full-in-page.pdf", 1);
    ExpectPage("full-in-page.pdf", 1, grey, "grey-100", "image");
  }
  {
    PdfDocument doc(kFiles.HostPath("full-at-end.pdf").data(), lossless);
    RasterPixels pixels(grey);
    ASSERT_EQ(0, doc.AddPage(pixels));
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 1, dskFulErr);
    int pages = -1;
    EXPECT_EQ(kResultFileError, doc.Close(&pages));
    EXPECT_EQ(0, pages);
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 0, noErr);
    EXPECT_FALSE(fs::exists(kFiles.Local("full-at-end.pdf")));
  }
  {
    // Room for the last page but not for the end after it: the last page gives way to the
    // end, and the pages before it stay, counted.
    PdfDocument doc(kFiles.HostPath("full-after-last.pdf").data(), lossless);
    RasterPixels pixels(grey);
    for (int n = 0; n < 3; ++n) ASSERT_EQ(0, doc.AddPage(pixels));
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 1, dskFulErr);
    int pages = -1;
    EXPECT_EQ(kResultFileError, doc.Close(&pages));
    EXPECT_EQ(2, pages);
    CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 0, noErr);
    ExpectPdf("full-after-last.pdf", 2);
    ExpectPage("full-after-last.pdf", 2, grey, "grey-100", "image");
  }
}

// An existing file is never replaced on the Mac: the first page answers 7 and the file stays.
TEST_F(PdfDocumentTest, AnExistingFileIsNotReplacedOnTheMac) {
  std::ofstream(kFiles.Local("there.pdf")) << "older";
  const vscan::Raster grey = Chart(1, 100, 100);
  PdfDocument doc(kFiles.HostPath("there.pdf").data(), PdfSettings{});
  RasterPixels pixels(grey);
  EXPECT_EQ(kResultFileExists, doc.AddPage(pixels));
  int pages = -1;
  EXPECT_EQ(0, doc.Close(&pages));
  EXPECT_EQ(0, pages);
  std::ifstream in(kFiles.Local("there.pdf"));
  std::string text;
  in >> text;
  EXPECT_EQ("older", text);
}

// ImageIO takes the quality asked for: a lower quality makes a smaller stream.
TEST_F(PdfDocumentTest, JpegQualityChangesTheStream) {
  const vscan::Raster colour = Chart(2, 100, 100);
  RasterPixels pixels(colour);
  std::vector<uint8_t> low, high;
  ASSERT_EQ(0, EncodeJpeg(pixels, 20, &low));
  ASSERT_EQ(0, EncodeJpeg(pixels, 95, &high));
  EXPECT_LT(low.size() + low.size() / 2, high.size());
}
#endif

#if KV_WINDOWS_BUILD
// An allocation that fails anywhere (the extension's C++; on the Mac the stand-ins' own C++
// would fail too, which the real frameworks never let through): the call that meets it
// answers 2, the document goes on, and what it closes holds exactly the pages it took.
// Allocations fail from each one the document makes in turn, until it makes no more.
TEST_F(PdfDocumentTest, AnAllocationThatFailsAnswers2AndTheDocumentHoldsThePagesItTook) {
  const vscan::Raster grey = Chart(1, 100, 100);
  const vscan::Raster colour = Chart(2, 100, 100);
  const std::vector<uint8_t> path = kFiles.HostPath("no-memory.pdf");
  for (bool lossless : {true, false}) {
    PdfSettings settings;
    settings.lossless = lossless;
    bool finished = false;
    for (long n = 1; n < 2000 && !finished; ++n) {
      int taken = 0, pages = -1;
      int16_t closed = 0;
      kvtest::FailNthNew(n);
      {
        PdfDocument doc(path.data(), settings);
        for (const vscan::Raster* r : {&grey, &colour}) {
          RasterPixels pixels(*r);
          const int16_t result = doc.AddPage(pixels);
          EXPECT_TRUE(result == 0 || result == kResultUnusablePage) << n << ": " << result;
          taken += result == 0;
        }
        closed = doc.Close(&pages);
      }
      finished = !kvtest::NewFailed();
      kvtest::FailNthNew(0);
      EXPECT_TRUE(closed == 0 || closed == kResultUnusablePage) << n << ": " << closed;
      EXPECT_EQ(closed == 0 ? taken : 0, pages) << n;
      EXPECT_EQ(pages > 0, fs::exists(kFiles.Local("no-memory.pdf"))) << n;
      if (finished) {
        EXPECT_EQ(2, pages) << lossless;
      }
      fs::remove(kFiles.Local("no-memory.pdf"));
    }
    EXPECT_TRUE(finished) << lossless;
  }
}
#endif

// A black-and-white page has no JPEG form.
TEST_F(PdfDocumentTest, TheJpegEncoderRefusesBlackAndWhite) {
  const vscan::Raster bw = Chart(0, 100, 100);
  RasterPixels pixels(bw);
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(kResultUnusablePage, EncodeJpeg(pixels, 85, &jpeg));
}

}  // namespace
