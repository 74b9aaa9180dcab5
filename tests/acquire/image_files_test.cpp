// The page writers (acquire/image_files.h) on the native images the virtual scanner hands
// over: every format and pixel type, multi-page TIFF, and the failure paths. What can only be
// judged by an independent reader (pixels, depth, resolution, compression, page counts) is
// written to image-files/manifest.txt and checked afterwards with ImageMagick and tiffinfo
// (tests/acquire/check_image_files.sh): the Windows suite runs under Wine, where they cannot.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "acquire/image_files.h"
#include "standins/virtual-scanner/image/page.h"
#include "tests/support/fixture.h"
#include "twain/result_codes.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
#else
#include <Carbon/Carbon.h>

#include "CarbonStandin.h"
#include "ImageIOStandin.h"
#endif

namespace {

namespace fs = std::filesystem;

const char* const kFolder = "image-files";

// The three test pages: 1-bit, grey at different x and y resolutions, colour across the
// bars and the ramp. Odd widths, so that rows are padded.
vscan::Raster Render(int pixelType) {
  vscan::ScanSettings s;
  s.pixelType = pixelType;
  if (pixelType == 1) {
    s.xres = 150;
    s.yres = 75;
    s.left = 0.5;
    s.right = 3.03;
    s.top = 4;
    s.bottom = 8;
  } else {
    s.xres = s.yres = 100;
    s.left = 2;
    s.right = 6.25;
    s.top = 3;
    s.bottom = 8.5;
  }
  return vscan::RenderPage(s);
}

PageFacts FactsOf(const vscan::Raster& r) {
  PageFacts f;
  f.pixelType = r.bitsPerPixel == 1 ? TWPT_BW : (r.bitsPerPixel == 8 ? TWPT_GRAY : TWPT_RGB);
  f.width = r.width;
  f.height = r.height;
  f.xResolution = r.xres;
  f.yResolution = r.yres;
  return f;
}

// The image the build's native transfer hands over for r: a packed DIB in global memory, or
// a picture handle.
void* NativeImage(const std::vector<uint8_t>& bytes) {
#if KV_WINDOWS_BUILD
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
#else
  Handle h = NewHandle(static_cast<Size>(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  return h;
#endif
}
void* NativeImage(const vscan::Raster& r) {
  return NativeImage(kWindowsBuild ? vscan::EncodeDIB(r) : vscan::EncodePICT(r));
}
void FreeImage(void* image) {
#if KV_WINDOWS_BUILD
  GlobalFree(image);
#else
  DisposeHandle(static_cast<Handle>(image));
#endif
}

// The host's form of a name in the folder: "image-files\x.png" or ":image-files:x.png".
std::vector<uint8_t> HostPath(const std::string& leaf) {
  std::string name =
      kWindowsBuild ? std::string(kFolder) + "\\" + leaf : ":" + std::string(kFolder) + ":" + leaf;
  std::vector<uint8_t> path;
  if (!kWindowsBuild) path.push_back(static_cast<uint8_t>(name.size()));
  path.insert(path.end(), name.begin(), name.end());
  path.push_back(0);
  return path;
}
std::string Local(const std::string& leaf) { return std::string(kFolder) + "/" + leaf; }

long LiveObjects() {
#if KV_WINDOWS_BUILD
  return kvtest::GdiObjects();
#else
  return kvtest::LiveBlocks() + ImageIOStandin_LiveObjects();
#endif
}

const char* TypeName(int pixelType) { return pixelType == 0 ? "bw" : (pixelType == 1 ? "grey" : "colour"); }

// Bits a pixel each format keeps. JPEG holds grey (black and white pages too) or colour.
int ExpectedBits(TW_UINT16 format, int pixelType) {
  const int own = pixelType == 0 ? 1 : (pixelType == 1 ? 8 : 24);
  if (format == TWFF_JFIF) return pixelType == 2 ? 24 : 8;
  return own;
}

// TIFF compression as ImageMagick names it: Wine's WIC writes TIFF uncompressed.
std::string ExpectedCompression(int pixelType) {
  if (kWindowsBuild) return "None";
  return pixelType == 0 ? "Group4" : "LZW";
}

class ImageFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fs::remove_all(kFolder);
    fs::create_directories(kFolder);
    for (int t = 0; t < 3; ++t) {
      vscan::Raster r = Render(t);
      std::vector<uint8_t> bmp = vscan::EncodeBMP(r);
      std::ofstream(Local(std::string("ref-") + TypeName(t) + ".bmp"), std::ios::binary)
          .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    }
    // The codecs' first start loads what stays loaded for the life of the process: it
    // happens once here, before the tests count objects.
    vscan::Raster r = Render(2);
    void* image = NativeImage(r);
    WritePageFile(image, FactsOf(r), TWFF_PNG, HostPath("warm-up.png").data());
    FreeImage(image);
  }
  void SetUp() override { before_ = LiveObjects(); }
  void TearDown() override { EXPECT_EQ(LiveObjects(), before_) << "objects left behind"; }

  // One line of the manifest: the file (with [page] for a page of a TIFF), its reference,
  // how to compare, bits a pixel, resolution, TIFF compression (or -).
  static void Expect(const std::string& file, int pixelType, TW_UINT16 format, double xdpi, double ydpi) {
    const vscan::Raster r = Render(pixelType);
    std::ofstream m(Local("manifest.txt"), std::ios::app);
    const char* kind = format == TWFF_JFIF ? "jpeg" : (format == TWFF_PICT ? "pict" : "exact");
    const bool tiff = format == TWFF_TIFF || format == TWFF_TIFFMULTI;
    m << "file " << file << " ref-" << TypeName(pixelType) << ".bmp " << kind << " "
      << ExpectedBits(format, pixelType) << " " << xdpi << " " << ydpi << " "
      << (tiff ? ExpectedCompression(pixelType) : "-") << "\n";
    (void)r;
  }
  static void ExpectPages(const std::string& file, int pages) {
    std::ofstream(Local("manifest.txt"), std::ios::app) << "pages " << file << " " << pages << "\n";
  }

  int16_t Write(const vscan::Raster& r, TW_UINT16 format, const std::string& leaf,
                const PageFacts* facts = nullptr) {
    void* image = NativeImage(r);
    int16_t result = WritePageFile(image, facts ? *facts : FactsOf(r), format, HostPath(leaf).data());
    FreeImage(image);
    return result;
  }

  long before_ = 0;
};

constexpr TW_UINT16 kNativeFormat = kWindowsBuild ? TWFF_BMP : TWFF_PICT;

TEST_F(ImageFilesTest, EveryFormatAndPixelTypeKeepsPixelsDepthAndResolution) {
  const struct {
    TW_UINT16 format;
    const char* ext;
  } formats[] = {{TWFF_PNG, "png"},
                 {TWFF_TIFF, "tif"},
                 {TWFF_JFIF, "jpg"},
                 {kNativeFormat, kWindowsBuild ? "bmp" : "pict"}};
  for (const auto& f : formats) {
    for (int t = 0; t < 3; ++t) {
      const vscan::Raster r = Render(t);
      const std::string leaf = std::string(TypeName(t)) + "." + f.ext;
      ASSERT_EQ(Write(r, f.format, leaf), 0) << leaf;
      Expect(leaf, t, f.format, r.xres, r.yres);
    }
  }
}

TEST_F(ImageFilesTest, ResolutionComesFromTheImageOrElseFromTheFacts) {
  const vscan::Raster r = Render(2);
  PageFacts facts = FactsOf(r);
  if constexpr (kWindowsBuild) {
    // A DIB that states its resolution keeps it; one without takes the source's.
    facts.xResolution = 300;
    facts.yResolution = 200;
    ASSERT_EQ(Write(r, TWFF_PNG, "dib-resolution.png", &facts), 0);
    Expect("dib-resolution.png", 2, TWFF_PNG, r.xres, r.yres);
    std::vector<uint8_t> dib = vscan::EncodeDIB(r);
    std::memset(dib.data() + 24, 0, 8);  // biXPelsPerMeter, biYPelsPerMeter
    for (TW_UINT16 format : {TWFF_PNG, TWFF_BMP}) {
      void* image = NativeImage(dib);
      const std::string leaf = format == TWFF_PNG ? "facts-resolution.png" : "facts-resolution.bmp";
      EXPECT_EQ(WritePageFile(image, facts, format, HostPath(leaf).data()), 0);
      FreeImage(image);
      Expect(leaf, 2, format, 300, 200);
    }
  } else {
    // The source's facts count; without them the picture's own header.
    facts.xResolution = 300;
    facts.yResolution = 200;
    ASSERT_EQ(Write(r, TWFF_PNG, "facts-resolution.png", &facts), 0);
    Expect("facts-resolution.png", 2, TWFF_PNG, 300, 200);
    facts.xResolution = facts.yResolution = 0;
    facts.width = facts.height = 0;
    ASSERT_EQ(Write(r, TWFF_TIFF, "picture-resolution.tif", &facts), 0);
    Expect("picture-resolution.tif", 2, TWFF_TIFF, r.xres, r.yres);
  }
}

TEST_F(ImageFilesTest, MultiPageTiffTakesEachPageWithItsOwnDepth) {
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("batch.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  ASSERT_EQ(result, 0);
  const int order[] = {2, 0, 1, 0};
  for (int t : order) {
    void* image = NativeImage(Render(t));
    EXPECT_EQ(AddBookPage(book, image, FactsOf(Render(t))), 0);
    FreeImage(image);
  }
  EXPECT_EQ(PageBookCount(book), 4);
  EXPECT_EQ(ClosePageBook(book), 0);
  for (int i = 0; i < 4; ++i) {
    const vscan::Raster r = Render(order[i]);
    Expect("batch.tif[" + std::to_string(i) + "]", order[i], TWFF_TIFFMULTI, r.xres, r.yres);
  }
  ExpectPages("batch.tif", 4);
}

// A page that cannot be encoded: 2, nothing written; in a book, the page is left out and the
// book goes on.
TEST_F(ImageFilesTest, APageThatCannotBeEncodedAnswers2AndLeavesNoFile) {
  const vscan::Raster r = Render(1);
  std::vector<uint8_t> broken = kWindowsBuild ? vscan::EncodeDIB(r) : vscan::EncodePICT(r);
  if constexpr (kWindowsBuild) {
    broken.resize(broken.size() / 2);  // rows beyond the block
  } else {
    std::memset(broken.data() + 10, 0xEE, 8);  // no version 2 picture
  }
  // (A PICT file holds the picture as the source delivered it, as it always did.)
  for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_JFIF, kWindowsBuild ? TWFF_BMP : TWFF_PNG}) {
    void* image = NativeImage(broken);
    EXPECT_EQ(WritePageFile(image, FactsOf(r), format, HostPath("broken.img").data()), kResultNoMemory)
        << format;
    FreeImage(image);
    EXPECT_FALSE(fs::exists(Local("broken.img"))) << format;
  }
  EXPECT_EQ(WritePageFile(nullptr, FactsOf(r), TWFF_PNG, HostPath("none.png").data()), kResultNoMemory);
  EXPECT_EQ(WritePageFile(nullptr, FactsOf(r), TWFF_SPIFF, HostPath("none.spf").data()), kResultNoMemory);
  EXPECT_FALSE(fs::exists(Local("none.png")));

  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("gap.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  void* good = NativeImage(r);
  void* bad = NativeImage(broken);
  EXPECT_EQ(AddBookPage(book, good, FactsOf(r)), 0);
  EXPECT_EQ(AddBookPage(book, bad, FactsOf(r)), kResultNoMemory);
  EXPECT_EQ(AddBookPage(book, good, FactsOf(r)), 0);
  EXPECT_EQ(PageBookCount(book), 2);
  EXPECT_EQ(ClosePageBook(book), 0);
  ExpectPages("gap.tif", 2);

  // A book whose only page failed leaves no file.
  book = OpenPageBook(HostPath("empty.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  EXPECT_EQ(AddBookPage(book, bad, FactsOf(r)), kResultNoMemory);
  EXPECT_EQ(ClosePageBook(book), 0);
  EXPECT_FALSE(fs::exists(Local("empty.tif")));
  FreeImage(good);
  FreeImage(bad);
}

TEST_F(ImageFilesTest, AFileThatCannotBeCreatedAnswers8) {
  const vscan::Raster r = Render(0);
  for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_JFIF, kNativeFormat})
    EXPECT_EQ(Write(r, format, kWindowsBuild ? "missing\\x.img" : "missing:x.img"), kResultFileError) << format;
  int16_t result = 0;
  EXPECT_EQ(OpenPageBook(HostPath(kWindowsBuild ? "missing\\x.tif" : "missing:x.tif").data(), &result),
            nullptr);
  EXPECT_EQ(result, kResultFileError);
  EXPECT_FALSE(fs::exists(Local("missing")));
}

// Windows replaces a file, as its BMP writer always did; the Mac never does.
TEST_F(ImageFilesTest, AnExistingFileIsReplacedOnWindowsAndKeptOnTheMac) {
  const vscan::Raster r = Render(2);
  std::ofstream(Local("exists.png")) << "someone's file";
  std::ofstream(Local("exists.tif")) << "someone's file";
  const int16_t expected = kWindowsBuild ? 0 : kResultFileExists;
  EXPECT_EQ(Write(r, TWFF_PNG, "exists.png"), expected);
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("exists.tif").data(), &result);
  EXPECT_EQ(result, expected);
  if (book) {
    void* image = NativeImage(r);
    EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
    FreeImage(image);
    EXPECT_EQ(ClosePageBook(book), 0);
  }
  if constexpr (kWindowsBuild) {
    Expect("exists.png", 2, TWFF_PNG, r.xres, r.yres);
    ExpectPages("exists.tif", 1);
  } else {
    EXPECT_EQ(fs::file_size(Local("exists.png")), 14u);
    EXPECT_EQ(fs::file_size(Local("exists.tif")), 14u);
  }
}

#if !KV_WINDOWS_BUILD
// ImageIO fails to write (a full disk): the file is removed and the answer is 8; a book keeps
// the pages it had and takes no more.
TEST_F(ImageFilesTest, AFailedWriteRemovesTheFileOrKeepsTheBooksCompletePages) {
  const vscan::Raster r = Render(0);
  for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_JFIF}) {
    ImageIOStandin_FailNthFinalize(1);
    EXPECT_EQ(Write(r, format, "full.img"), kResultFileError) << format;
    EXPECT_FALSE(fs::exists(Local("full.img"))) << format;
  }
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("full.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  void* image = NativeImage(r);
  EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  ImageIOStandin_FailNthFinalize(1);
  EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), kResultFileError);
  EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), kResultFileError);
  EXPECT_EQ(PageBookCount(book), 2);
  EXPECT_EQ(ClosePageBook(book), 0);
  ExpectPages("full.tif", 2);
  for (const auto& entry : fs::directory_iterator(kFolder))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();

  // The first page's failure leaves nothing.
  book = OpenPageBook(HostPath("full-first.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  ImageIOStandin_FailNthFinalize(1);
  EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), kResultFileError);
  EXPECT_FALSE(fs::exists(Local("full-first.tif")));
  EXPECT_EQ(ClosePageBook(book), 0);
  FreeImage(image);
  ImageIOStandin_FailNthFinalize(0);
}

// Each page rewrites the book, reading the pages before from the file one at a time: memory
// holds one decoded page however long the batch.
TEST_F(ImageFilesTest, ABookHoldsOnePageAtATime) {
  const vscan::Raster r = Render(2);
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("long.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  void* image = NativeImage(r);
  ImageIOStandin_ResetPeak();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  EXPECT_LE(ImageIOStandin_PeakDecodedPixels(), static_cast<long>(r.width) * r.height);
  EXPECT_EQ(ClosePageBook(book), 0);
  FreeImage(image);
  ExpectPages("long.tif", 6);
  Expect("long.tif[5]", 2, TWFF_TIFFMULTI, r.xres, r.yres);
}
#endif

}  // namespace
