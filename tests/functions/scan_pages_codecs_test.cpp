// Twain.ScanPages with the formats the extension writes itself (image/image_platform.h): every
// code and pixel type in batches from the virtual scanner's feeder, a multi-page TIFF, a
// scanner without file transfers, and the failures (a page that cannot be encoded, a write
// that fails). The files are read back after the suite with ImageMagick and tiffinfo
// (tests/image/check_image_files.sh, folder scan-codecs), against the pages the scanner
// renders, marks included.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "standins/virtual-scanner/image/page.h"
#include "tests/support/fixture.h"

#if !KV_WINDOWS_BUILD
#include "CarbonStandin.h"
#include "ImageIOStandin.h"
#endif

namespace kvtest {
namespace {

namespace fs = std::filesystem;

const char* const kFolder = "scan-codecs";
constexpr int kDpi = 75;

const char* TypeName(int t) { return t == 0 ? "bw" : (t == 1 ? "grey" : "colour"); }

// The page the scanner gives at kDpi for pixel type t, after `fed` pages of the same enable.
vscan::Raster Page(int t, int fed) {
  vscan::ScanSettings s;
  s.pixelType = t;
  s.xres = s.yres = kDpi;
  s.mark = fed;
  return vscan::RenderPage(s);
}

std::string HostName(const std::string& leaf) {
  return kWindowsBuild ? std::string(kFolder) + "\\\\" + leaf : ":" + std::string(kFolder) + ":" + leaf;
}
std::string Local(const std::string& leaf) { return std::string(kFolder) + "/" + leaf; }

// Bits a pixel each format keeps (JPEG: grey or colour), and TIFF compression as ImageMagick
// names it (Wine's TIFF is uncompressed).
int Bits(int code, int t) {
  if (code == TWFF_JFIF) return t == 2 ? 24 : 8;
  return t == 0 ? 1 : (t == 1 ? 8 : 24);
}
std::string Compression(int code, int t) {
  if (code != TWFF_TIFF && code != TWFF_TIFFMULTI) return "-";
  if (kWindowsBuild) return "None";
  return t == 0 ? "Group4" : "LZW";
}

class ScanPagesCodecsTest : public ExtensionTest {
 protected:
  static void SetUpTestSuite() {
    fs::remove_all(kFolder);
    fs::create_directories(kFolder);
  }
  void Connect() { ASSERT_EQ("0", Call("Twain.Connect()")); }
  std::string Pages(const std::string& leaf, int code, std::string* count, const std::string& more = "") {
    velmar::CallResult r =
        CallFull("Twain.ScanPages(\"" + HostName(leaf) + "\", $n, 0, " + std::to_string(code) + more + ")");
    *count = host->Variable("n").Display();
    return r.result.Display();
  }
  void Settings(int t) {
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", " + std::to_string(t) + ", \"XRESOLUTION\", " +
                   std::to_string(kDpi) + ", \"YRESOLUTION\", " + std::to_string(kDpi) + ")"));
  }
  // The reference of page `fed` + 1 of type t, and a manifest line for `file`.
  static void Expect(const std::string& file, int code, int t, int fed) {
    const std::string ref = std::string("ref-") + TypeName(t) + "-" + std::to_string(fed) + ".bmp";
    if (!fs::exists(Local(ref))) {
      std::vector<uint8_t> bmp = vscan::EncodeBMP(Page(t, fed));
      std::ofstream(Local(ref), std::ios::binary)
          .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    }
    const char* kind = code == TWFF_JFIF ? "jpeg" : (code == TWFF_PICT ? "pict" : "exact");
    std::ofstream(Local("manifest.txt"), std::ios::app)
        << "file " << file << " " << ref << " " << kind << " " << Bits(code, t) << " " << kDpi << " " << kDpi
        << " " << Compression(code, t) << "\n";
  }
  static void ExpectPages(const std::string& file, int pages) {
    std::ofstream(Local("manifest.txt"), std::ios::app) << "pages " << file << " " << pages << "\n";
  }
};

constexpr int kNative = kWindowsBuild ? TWFF_BMP : TWFF_PICT;

TEST_F(ScanPagesCodecsTest, EveryCodeAndPixelTypeInBatches) {
  const struct {
    int code;
    const char* ext;
  } codes[] = {
      {TWFF_PNG, "png"}, {TWFF_TIFF, "tif"}, {TWFF_JFIF, "jpg"}, {kNative, kWindowsBuild ? "bmp" : "pict"}};
  ASSERT_EQ(0, Scanner("pages 2"));
  Connect();
  for (const auto& c : codes) {
    for (int t = 0; t < 3; ++t) {
      Settings(t);
      const std::string stem = std::string(TypeName(t)) + "-" + std::to_string(c.code);
      std::string n;
      ASSERT_EQ("0", Pages(stem + "." + c.ext, c.code, &n)) << stem;
      EXPECT_EQ("2", n) << stem;
      for (int page = 1; page <= 2; ++page) {
        const std::string file = stem + "-000" + std::to_string(page) + "." + c.ext;
        EXPECT_TRUE(fs::exists(Local(file))) << file;
        Expect(file, c.code, t, page - 1);
      }
    }
  }
}

// Every page of the batch in one file, each with its own depth; the pages come as they are
// scanned, whatever the scanner offers for file transfers (here: none at all).
TEST_F(ScanPagesCodecsTest, MultiPageTiffFromAScannerWithoutFileTransfers) {
  ASSERT_EQ(0, Scanner("file-formats none"));
  ASSERT_EQ(0, Scanner("pages 3"));
  Connect();
  for (int t = 0; t < 3; ++t) {
    Settings(t);
    const std::string file = std::string("book-") + TypeName(t) + ".tif";
    std::string n;
    ASSERT_EQ("0", Pages(file, TWFF_TIFFMULTI, &n));
    EXPECT_EQ("3", n);
    for (int i = 0; i < 3; ++i) Expect(file + "[" + std::to_string(i) + "]", TWFF_TIFFMULTI, t, i);
    ExpectPages(file, 3);
  }
  // PNG is the extension's; XBM is the source's, which has no file transfer.
  Settings(1);
  std::string n;
  EXPECT_EQ("0", Pages("nofile.png", TWFF_PNG, &n));
  EXPECT_EQ("3", n);
  EXPECT_EQ("10", Pages("nofile.xbm", TWFF_XBM, &n));  // the file mechanism is refused
  EXPECT_EQ("0", n);
}

// A jam at page 3 of 5 in a multi-page TIFF: the jam's code, the book holds the two pages
// before it and counts them, and nothing is left beside it.
TEST_F(ScanPagesCodecsTest, AJamInAMultiPageTiffKeepsThePagesBefore) {
  ASSERT_EQ(0, Scanner("pages 5"));
  ASSERT_EQ(0, Scanner("jam-at 3"));
  Connect();
  Settings(1);
  std::string n;
  EXPECT_EQ("3020", Pages("jam.tif", TWFF_TIFFMULTI, &n));
  EXPECT_EQ("2", n);
  for (int i = 0; i < 2; ++i) Expect("jam.tif[" + std::to_string(i) + "]", TWFF_TIFFMULTI, 1, i);
  ExpectPages("jam.tif", 2);
  for (const auto& entry : fs::directory_iterator(kFolder))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
}

// A page that cannot be encoded answers 2 with the pages before it kept; in a multi-page TIFF
// the file keeps them.
TEST_F(ScanPagesCodecsTest, APageThatCannotBeEncodedEndsTheBatchWithThePagesBefore) {
  ASSERT_EQ(0, Scanner("pages 3"));
  Connect();
  for (int code : {TWFF_PNG, TWFF_TIFFMULTI}) {
    ASSERT_EQ(0, Scanner("native-page"));
    ASSERT_EQ(0, Scanner("native-size 300"));  // page 2: a cut image
    Settings(2);
    const std::string leaf = std::string("cut-") + std::to_string(code) + (code == TWFF_PNG ? ".png" : ".tif");
    std::string n;
    EXPECT_EQ("2", Pages(leaf, code, &n)) << code;
    EXPECT_EQ("1", n) << code;
    if (code == TWFF_PNG) {
      Expect(std::string("cut-7-0001.png"), code, 2, 0);
      EXPECT_FALSE(fs::exists(Local("cut-7-0002.png")));
    } else {
      Expect(leaf + "[0]", code, 2, 0);
      ExpectPages(leaf, 1);
    }
  }
}

#if !KV_WINDOWS_BUILD
// ImageIO fails to write page 2 (a full disk): 8, that page's file removed, page 1 kept; a
// multi-page TIFF keeps page 1.
TEST_F(ScanPagesCodecsTest, AWriteThatFailsRemovesItsFileAndKeepsThePagesBefore) {
  ASSERT_EQ(0, Scanner("pages 3"));
  Connect();
  for (int code : {TWFF_JFIF, TWFF_TIFFMULTI}) {
    Settings(1);
    ImageIOStandin_FailNthFinalize(2);
    const std::string leaf =
        std::string("full-") + std::to_string(code) + (code == TWFF_JFIF ? ".jpg" : ".tif");
    std::string n;
    EXPECT_EQ("8", Pages(leaf, code, &n)) << code;
    EXPECT_EQ("1", n) << code;
    if (code == TWFF_JFIF) {
      EXPECT_TRUE(fs::exists(Local("full-4-0001.jpg")));
      EXPECT_FALSE(fs::exists(Local("full-4-0002.jpg")));
    } else {
      ExpectPages(leaf, 1);
    }
  }
  ImageIOStandin_FailNthFinalize(0);
}

// Many volumes cannot exchange two files' data (FAT and exFAT media, APFS, many server
// volumes: FSpExchangeFiles answers paramErr there). On such a volume every writer still
// gives every page, by native and by memory transfer: numbered files in each format, a
// multi-page TIFF and a PDF document.
TEST_F(ScanPagesCodecsTest, OnAVolumeThatCannotExchangeFilesEveryWriterGivesEveryPage) {
  struct ExchangeOff {
    ExchangeOff() { CarbonStandin_SetExchangeSupported(false); }
    ~ExchangeOff() { CarbonStandin_SetExchangeSupported(true); }
  } off;
  ASSERT_EQ(0, Scanner("pages 3"));
  Connect();
  const struct {
    int code;
    const char* ext;
  } codes[] = {{TWFF_PNG, "png"}, {TWFF_TIFF, "tif"}, {TWFF_JFIF, "jpg"}, {TWFF_PICT, "pict"}};
  for (const char* transfer : {"NATIVE", "MEMORY"}) {
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"TRANSFER\", \"") + transfer + "\")"));
    for (int t = 0; t < 3; ++t) {
      const std::string stem = std::string("fat-") + transfer + "-" + TypeName(t);
      std::string n;
      for (const auto& c : codes) {
        Settings(t);  // each batch opens the source afresh
        ASSERT_EQ("0", Pages(stem + "." + c.ext, c.code, &n)) << stem << " " << c.code;
        EXPECT_EQ("3", n) << stem << " " << c.code;
        for (int page = 1; page <= 3; ++page) {
          const std::string file = stem + "-000" + std::to_string(page) + "." + c.ext;
          EXPECT_TRUE(fs::exists(Local(file))) << file;
          Expect(file, c.code, t, page - 1);
        }
      }
      Settings(t);
      ASSERT_EQ("0", Pages(stem + ".tif", TWFF_TIFFMULTI, &n)) << stem;
      EXPECT_EQ("3", n) << stem;
      for (int i = 0; i < 3; ++i) Expect(stem + ".tif[" + std::to_string(i) + "]", TWFF_TIFFMULTI, t, i);
      ExpectPages(stem + ".tif", 3);
      Settings(t);
      ASSERT_EQ("0", Pages(stem + ".pdf", TWFF_PDF, &n)) << stem;
      EXPECT_EQ("3", n) << stem;
      EXPECT_TRUE(fs::exists(Local(stem + ".pdf"))) << stem;
    }
  }
}
#endif

}  // namespace
}  // namespace kvtest
