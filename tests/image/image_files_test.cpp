// The page writers (image/image_platform.h) on the native images the virtual scanner hands
// over: every format and pixel type, multi-page TIFF, and the failure paths. What can only be
// judged by an independent reader (pixels, depth, resolution, compression, page counts) is
// written to image-files/manifest.txt and checked afterwards with ImageMagick and tiffinfo
// (tests/image/check_image_files.sh): the Windows suite runs under Wine, where they cannot.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_platform.h"
#include "standins/virtual-scanner/image/page.h"
#include "tests/support/failing_new.h"
#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"
#include "tests/support/test_pages.h"
#include "twain/result_codes.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
// After windows.h.
#include <wincodec.h>

#include "platform/windows/checked_stream.h"
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

using kvtest::FactsOf;
using kvtest::FreeImage;
using kvtest::NativeImage;

// The host's form of a name in the folder: "image-files\x.png" or ":image-files:x.png".
std::vector<uint8_t> HostPath(const std::string& leaf) {
  return kvtest::HostName(kWindowsBuild ? std::string(kFolder) + "\\" + leaf
                                        : ":" + std::string(kFolder) + ":" + leaf);
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

using kvtest::ProcessBytes;

#if KV_WINDOWS_BUILD
// Pixels of page `index` of the file that WIC's own decoder reads differently from r, as
// blue, green, red and alpha (-1: it cannot read the page, or its size differs).
long WicPixelsDiffering(const std::string& local, UINT index, const vscan::Raster& r) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  long differing = -1;
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  const std::wstring wide(local.begin(), local.end());
  UINT w = 0, h = 0;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                   WICDecodeMetadataCacheOnDemand, &decoder)) &&
      SUCCEEDED(decoder->GetFrame(index, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
      SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                      WICBitmapPaletteTypeCustom)) &&
      SUCCEEDED(converter->GetSize(&w, &h)) && w == static_cast<UINT>(r.width) &&
      h == static_cast<UINT>(r.height)) {
    std::vector<BYTE> bgra(static_cast<size_t>(w) * h * 4);
    if (SUCCEEDED(converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(bgra.size()), bgra.data()))) {
      differing = 0;
      for (int y = 0; y < r.height; ++y) {
        const uint8_t* row = r.rows.data() + static_cast<size_t>(y) * r.stride();
        for (int x = 0; x < r.width; ++x) {
          uint8_t rgb[3];
          if (r.bitsPerPixel == 1) {
            rgb[0] = rgb[1] = rgb[2] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
          } else if (r.bitsPerPixel == 8) {
            rgb[0] = rgb[1] = rgb[2] = row[x];
          } else {
            std::memcpy(rgb, row + 3 * x, 3);
          }
          const BYTE* got = bgra.data() + (static_cast<size_t>(y) * w + x) * 4;
          if (got[0] != rgb[2] || got[1] != rgb[1] || got[2] != rgb[0]) ++differing;
        }
      }
    }
  }
  if (converter) converter->Release();
  if (frame) frame->Release();
  if (decoder) decoder->Release();
  if (factory) factory->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return differing;
}
#endif

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
#if KV_WINDOWS_BUILD
      // The platform's own decoder reads the same pixels.
      if (f.format != TWFF_JFIF) {
        EXPECT_EQ(WicPixelsDiffering(Local(leaf), 0, r), 0) << leaf;
      }
#endif
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
  int pages = 0;
  EXPECT_EQ(ClosePageBook(book, &pages), 0);
  EXPECT_EQ(pages, 4);
  for (int i = 0; i < 4; ++i) {
    const vscan::Raster r = Render(order[i]);
    Expect("batch.tif[" + std::to_string(i) + "]", order[i], TWFF_TIFFMULTI, r.xres, r.yres);
#if KV_WINDOWS_BUILD
    EXPECT_EQ(WicPixelsDiffering(Local("batch.tif"), i, r), 0) << i;
#endif
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
    EXPECT_EQ(WritePageFile(image, FactsOf(r), format, HostPath("broken.img").data()), kResultUnusablePage)
        << format;
    FreeImage(image);
    EXPECT_FALSE(fs::exists(Local("broken.img"))) << format;
  }
  EXPECT_EQ(WritePageFile(nullptr, FactsOf(r), TWFF_PNG, HostPath("none.png").data()), kResultUnusablePage);
  EXPECT_EQ(WritePageFile(nullptr, FactsOf(r), TWFF_SPIFF, HostPath("none.spf").data()), kResultUnusablePage);
  EXPECT_FALSE(fs::exists(Local("none.png")));

  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("gap.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  void* good = NativeImage(r);
  void* bad = NativeImage(broken);
  EXPECT_EQ(AddBookPage(book, good, FactsOf(r)), 0);
  EXPECT_EQ(AddBookPage(book, bad, FactsOf(r)), kResultUnusablePage);
  EXPECT_EQ(AddBookPage(book, good, FactsOf(r)), 0);
  EXPECT_EQ(PageBookCount(book), 2);
  EXPECT_EQ(ClosePageBook(book), 0);
  ExpectPages("gap.tif", 2);

  // A book whose only page failed leaves no file.
  book = OpenPageBook(HostPath("empty.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  EXPECT_EQ(AddBookPage(book, bad, FactsOf(r)), kResultUnusablePage);
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

// A page 150 dpi wide and high, letter sized: big enough that a page kept per page shows.
vscan::Raster LetterPage(int pixelType) {
  vscan::ScanSettings s;
  s.pixelType = pixelType;
  s.xres = s.yres = 150;
  return vscan::RenderPage(s);
}

// The most memory a batch of `pages` pages holds between its pages, in one format.
long long BatchPeak(const vscan::Raster& r, TW_UINT16 format, int pages, const std::string& leaf) {
  const std::vector<uint8_t> path = HostPath(leaf);
  fs::remove(Local(leaf));  // the Mac never replaces a file
  void* image = NativeImage(r);
  long long peak = 0;
  int16_t result = 0;
  PageBook* book = format == TWFF_TIFFMULTI ? OpenPageBook(path.data(), &result) : nullptr;
  for (int i = 0; i < pages; ++i) {
    if (!book) fs::remove(Local(leaf));
    EXPECT_EQ(
        book ? AddBookPage(book, image, FactsOf(r)) : WritePageFile(image, FactsOf(r), format, path.data()), 0)
        << leaf << " format " << format;
    peak = std::max(peak, ProcessBytes());
  }
  if (book) {
    EXPECT_EQ(ClosePageBook(book), 0);
  }
  FreeImage(image);
  return peak;
}

// Memory holds the page being written, however long the batch: a batch of 4N pages peaks
// within a page and a half of one of N, in every format and pixel type.
TEST_F(ImageFilesTest, MemoryDoesNotGrowWithTheBatch) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
  const TW_UINT16 formats[] = {TWFF_PNG, TWFF_TIFF, TWFF_JFIF, kNativeFormat, TWFF_TIFFMULTI};
  constexpr int kN = 2;
  for (int t = 0; t < 3; ++t) {
    const vscan::Raster r = LetterPage(t);
    const long long page = static_cast<long long>(r.stride()) * r.height;
    for (TW_UINT16 format : formats) {
      const std::string leaf =
          std::string("memory-") + TypeName(t) + (format == TWFF_TIFFMULTI ? ".tif" : ".img");
      const long long small = BatchPeak(r, format, kN, leaf);
      const long long large = BatchPeak(r, format, 4 * kN, leaf);
      EXPECT_LE(large - small, page * 3 / 2) << TypeName(t) << " format " << format << ": " << small << " then "
                                             << large << " bytes, a page " << page;
      fs::remove(Local(leaf));
    }
  }
}

#if KV_WINDOWS_BUILD
// The first `rows` rows of r.
vscan::Raster Top(vscan::Raster r, int rows) {
  r.height = rows;
  r.rows.resize(static_cast<size_t>(r.stride()) * rows);
  return r;
}

// Row y of r into a page's row as a memory transfer places it (blue first).
void PlaceRasterRow(const vscan::Raster& r, int y, uint8_t* to) {
  const uint8_t* from = r.rows.data() + static_cast<size_t>(y) * r.stride();
  const size_t bytes = (static_cast<size_t>(r.width) * r.bitsPerPixel + 7) / 8;
  std::memcpy(to, from, bytes);
  if (r.bitsPerPixel == 24)
    for (size_t x = 0; x < bytes; x += 3) std::swap(to[x], to[x + 2]);
}

// Where the temporary folder is (TMP and TEMP), or nowhere (a missing folder).
void SetTemporaryFolder(const char* folder) {
  SetEnvironmentVariableA("TMP", folder);
  SetEnvironmentVariableA("TEMP", folder);
}

// A page that comes in rows is written from them whatever their order: taller than the rows
// memory holds of it at once, its rows first made wrong and 40 too many, then made again from
// the top, are written as the page's first rows in every format, in a book, and cut short;
// also where no spool file can be made for its rows (the page is held in memory then).
TEST_F(ImageFilesTest, APageOfRowsIsWrittenFromTheRowsAsTheyWereLastPlaced) {
  char folder[MAX_PATH + 1] = {};
  ASSERT_GT(GetEnvironmentVariableA("TMP", folder, sizeof folder), 0u);
  for (int run = 0; run < 6; ++run) {
    const int t = run % 3;
    if (run == 3) {
      SetTemporaryFolder("C:\\no-such-folder");
      char temporary[MAX_PATH + 1], name[MAX_PATH + 1];
      ASSERT_GT(GetTempPathA(sizeof temporary, temporary), 0u);
      ASSERT_EQ(GetTempFileNameA(temporary, "kvr", 0, name), 0u) << "a temporary file can still be made";
    }
    const vscan::Raster r = LetterPage(t);
    const uint16_t bits = static_cast<uint16_t>(r.bitsPerPixel);
    RowPage* page = NewRowPage(static_cast<uint32_t>(r.width), bits, 0);
    ASSERT_NE(page, nullptr);
    for (int y = 0; y < r.height + 40; ++y) {
      uint8_t* row = RowPageRow(page, static_cast<uint32_t>(y));
      ASSERT_NE(row, nullptr) << y;
      std::memset(row, 0x5A, (static_cast<size_t>(r.width) * bits + 7) / 8);
    }
    EXPECT_EQ(RowPageRow(page, static_cast<uint32_t>(r.height + 42)), nullptr) << "a row skipped";
    for (int y = 0; y < r.height; ++y) PlaceRasterRow(r, y, RowPageRow(page, static_cast<uint32_t>(y)));
    const uint32_t rows = static_cast<uint32_t>(r.height);
    for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_BMP, TWFF_JFIF}) {
      const std::string leaf = std::string("rows-") + TypeName(t) + "." + std::to_string(format);
      ASSERT_EQ(WriteRowPageFile(page, rows, FactsOf(r), format, HostPath(leaf).data()), 0) << leaf;
      const long differing = WicPixelsDiffering(Local(leaf), 0, r);
      if (format == TWFF_JFIF) {
        EXPECT_GE(differing, 0) << leaf << ": the page's size";
      } else {
        EXPECT_EQ(differing, 0) << leaf;
      }
    }
    const std::string shortLeaf = std::string("rows-short-") + TypeName(t) + ".png";
    ASSERT_EQ(WriteRowPageFile(page, rows / 3, FactsOf(r), TWFF_PNG, HostPath(shortLeaf).data()), 0);
    EXPECT_EQ(WicPixelsDiffering(Local(shortLeaf), 0, Top(r, r.height / 3)), 0) << shortLeaf;
    int16_t result = -1;
    const std::string bookLeaf = std::string("rows-") + TypeName(t) + ".tif";
    PageBook* book = OpenPageBook(HostPath(bookLeaf).data(), &result);
    ASSERT_NE(book, nullptr);
    EXPECT_EQ(AddBookRowPage(book, page, rows, FactsOf(r)), 0);
    EXPECT_EQ(AddBookRowPage(book, page, rows / 3, FactsOf(r)), 0);
    EXPECT_EQ(ClosePageBook(book), 0);
    EXPECT_EQ(WicPixelsDiffering(Local(bookLeaf), 0, r), 0) << bookLeaf;
    EXPECT_EQ(WicPixelsDiffering(Local(bookLeaf), 1, Top(r, r.height / 3)), 0) << bookLeaf;
    FreeRowPage(page);
  }
  SetTemporaryFolder(folder);
}
#endif

// The n-th allocation of the suite's operator new fails: the extension's C++, and on the Mac
// the stand-ins' own C++ behind ImageIO and Carbon too, whose C calls answer their failure
// (null, false, memFullErr) as the real ones do.
void FailAllocationsFrom(long n) { kvtest::FailNthNew(n); }
// Allocations work again; whether one failed since FailAllocationsFrom.
bool AllocationsWorkAgain() {
  const bool failed = kvtest::NewFailed();
  kvtest::FailNthNew(0);
  return failed;
}

// The answer of a call whose allocation failed: 2; on the Mac also 8 where it failed inside
// ImageIO, which answers a failed write (false, no image) without saying why.
bool FailedForMemory(int16_t result) {
  return result == kResultUnusablePage || (!kWindowsBuild && result == kResultFileError);
}

// An allocation that fails anywhere in a writer: 2, nothing left behind, and the next call
// works. Allocations fail from each one the call makes in turn, until the call makes no more.
TEST_F(ImageFilesTest, AnAllocationThatFailsAnswers2AndTheNextCallWorks) {
  const vscan::Raster r = Render(2);
  const PageFacts facts = FactsOf(r);
  for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_JFIF, kNativeFormat}) {
    const std::vector<uint8_t> path = HostPath("no-memory.img");
    void* image = NativeImage(r);
    const long baseline = LiveObjects();
    bool finished = false;
    for (long n = 1; n < 1000 && !finished; ++n) {
      FailAllocationsFrom(n);
      const int16_t result = WritePageFile(image, facts, format, path.data());
      finished = !AllocationsWorkAgain();
      EXPECT_EQ(LiveObjects(), baseline) << format << " allocation " << n;
      // A call that got over the failure wrote the page; one that did not answers 2.
      if (finished || result == 0) {
        EXPECT_EQ(result, 0) << format << " allocation " << n;
        EXPECT_TRUE(fs::exists(Local("no-memory.img"))) << format << " allocation " << n;
      } else {
        EXPECT_TRUE(FailedForMemory(result)) << format << " allocation " << n << ": " << result;
        EXPECT_FALSE(fs::exists(Local("no-memory.img"))) << format << " allocation " << n;
      }
      fs::remove(Local("no-memory.img"));
    }
    EXPECT_TRUE(finished) << format;
    EXPECT_EQ(WritePageFile(image, facts, format, path.data()), 0) << format;
    FreeImage(image);
    fs::remove(Local("no-memory.img"));
  }
  // A book: whichever call meets the failure answers 2; the book still ends, and its file
  // holds the pages it counts (fewer than it took when the failure kept a page's end out).
  const std::vector<uint8_t> path = HostPath("no-memory.tif");
  void* image = NativeImage(r);
  const long baseline = LiveObjects();
  bool finished = false;
  for (long n = 1; n < 1000 && !finished; ++n) {
    int16_t opened = 0, failure = 0;
    int added = 0, pages = -1;
    FailAllocationsFrom(n);
    PageBook* book = OpenPageBook(path.data(), &opened);
    if (book) {
      for (int i = 0; i < 2; ++i) {
        const int16_t result = AddBookPage(book, image, facts);
        added += result == 0;
        if (failure == 0) failure = result;
      }
      const int16_t closed = ClosePageBook(book, &pages);
      if (failure == 0) failure = closed;
    }
    finished = !AllocationsWorkAgain();
    EXPECT_EQ(LiveObjects(), baseline) << "book, allocation " << n;
    if (!book) {
      EXPECT_EQ(opened, kResultUnusablePage) << n;
    } else {
      if (failure == 0) {
        EXPECT_EQ(pages, 2) << n;
      } else {
        EXPECT_TRUE(FailedForMemory(failure)) << n << ": " << failure;
      }
      EXPECT_LE(pages, added) << n;
      EXPECT_EQ(fs::exists(Local("no-memory.tif")), pages > 0) << n;
#if KV_WINDOWS_BUILD
      if (pages > 0) {
        EXPECT_EQ(WicPixelsDiffering(Local("no-memory.tif"), static_cast<UINT>(pages - 1), r), 0) << n;
      }
#endif
    }
    fs::remove(Local("no-memory.tif"));
  }
  EXPECT_TRUE(finished);
  FreeImage(image);
}

#if KV_WINDOWS_BUILD
// A disk that fills while a page is written (the streams' test hook): 8 and no file, at every
// point of the writing; with room again the same page is written.
TEST_F(ImageFilesTest, AFullDiskAnswers8AndLeavesNoFile) {
  for (TW_UINT16 format : {TWFF_PNG, TWFF_TIFF, TWFF_JFIF}) {
    for (int t = 0; t < 3; ++t) {
      const vscan::Raster r = Render(t);
      ASSERT_EQ(Write(r, format, "fits.img"), 0);
      const long long size = static_cast<long long>(fs::file_size(Local("fits.img")));
      for (long long room : {0LL, size / 3, size - 1}) {
        SetStreamRoomForTests(room);
        EXPECT_EQ(Write(r, format, "full.img"), kResultFileError) << format << " " << t << " room " << room;
        SetStreamRoomForTests(-1);
        EXPECT_FALSE(fs::exists(Local("full.img"))) << format << " " << t << " room " << room;
      }
    }
  }
  fs::remove(Local("fits.img"));
}

// A book on a disk that fills at any point of its writing: the failure answers 8, and the
// file holds exactly the pages the book counts (the manifest has them read back), or there
// is no file. After each, the next book starts afresh.
TEST_F(ImageFilesTest, ABookOnAFullDiskHoldsExactlyThePagesItCounts) {
  const int order[] = {2, 0, 1};
  auto write = [&](const std::string& leaf, int* taken, int* pages) {
    int16_t result = 0, failure = 0;
    PageBook* book = OpenPageBook(HostPath(leaf).data(), &result);
    EXPECT_NE(book, nullptr);
    if (!book) return failure;
    *taken = 0;
    for (int t : order) {
      void* image = NativeImage(Render(t));
      const int16_t added = AddBookPage(book, image, FactsOf(Render(t)));
      FreeImage(image);
      if (added == 0 && failure == 0) ++*taken;
      if (added != 0 && failure == 0) failure = added;
      if (failure != 0) {
        EXPECT_EQ(added, kResultFileError) << leaf;
      }
    }
    const int16_t closed = ClosePageBook(book, pages);
    return failure != 0 ? failure : closed;
  };
  int taken = 0, pages = 0;
  ASSERT_EQ(write("whole.tif", &taken, &pages), 0);
  ASSERT_EQ(pages, 3);
  const long long size = static_cast<long long>(fs::file_size(Local("whole.tif")));
  std::vector<long long> rooms;
  for (int k = 0; k < 24; ++k) rooms.push_back(size * k / 24);
  for (long long shortBy : {1LL, 8LL, 200LL, 400LL}) rooms.push_back(size - shortBy);
  for (size_t i = 0; i < rooms.size(); ++i) {
    const std::string leaf = "full-" + std::to_string(i) + ".tif";
    SetStreamRoomForTests(rooms[i]);
    const int16_t result = write(leaf, &taken, &pages);
    SetStreamRoomForTests(-1);
    EXPECT_EQ(result, kResultFileError) << leaf << " room " << rooms[i];
    EXPECT_LE(pages, taken) << leaf;
    if (pages == 0) {
      EXPECT_FALSE(fs::exists(Local(leaf))) << leaf;
      continue;
    }
    ExpectPages(leaf, pages);
    for (int p = 0; p < pages; ++p) {
      const vscan::Raster r = Render(order[p]);
      Expect(leaf + "[" + std::to_string(p) + "]", order[p], TWFF_TIFFMULTI, r.xres, r.yres);
      EXPECT_EQ(WicPixelsDiffering(Local(leaf), p, r), 0) << leaf << " page " << p;
    }
  }
  ASSERT_EQ(write("after.tif", &taken, &pages), 0);
  EXPECT_EQ(pages, 3);
  ExpectPages("after.tif", 3);
}
#endif

// Writing page after page keeps memory flat, for the life of the host: 200 pages each as a
// TIFF file, and 200 in one multi-page TIFF, end where the 20th left memory. The pages are
// 600 dpi colour, 3900 pixels wide and a few rows tall (Wine's TIFF encoder, given blue-first
// rows, kept a row of colour for every call that gave it rows).
TEST_F(ImageFilesTest, MemoryStaysFlatOverTwoHundredTiffPages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
  vscan::ScanSettings s;
  s.pixelType = 2;
  s.xres = s.yres = 600;
  s.right = 6.5;  // 3900 pixels
  s.top = 5;
  s.bottom = 5 + 16.0 / 600;
  const vscan::Raster r = vscan::RenderPage(s);
  void* image = NativeImage(r);
  const PageFacts facts = FactsOf(r);
  constexpr long long kFlat = 1 << 20;
  long long warm = 0;
  for (int i = 1; i <= 200; ++i) {
    fs::remove(Local("flat.tif"));  // the Mac never replaces a file
    ASSERT_EQ(WritePageFile(image, facts, TWFF_TIFF, HostPath("flat.tif").data()), 0) << i;
    if (i == 20) warm = ProcessBytes();
  }
  EXPECT_LT(ProcessBytes() - warm, kFlat) << "TIFF files: " << warm << " bytes after 20 pages";
  fs::remove(Local("flat.tif"));
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("flat-book.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  for (int i = 1; i <= 200; ++i) {
    ASSERT_EQ(AddBookPage(book, image, facts), 0) << i;
    if (i == 20) warm = ProcessBytes();
  }
  EXPECT_LT(ProcessBytes() - warm, kFlat) << "a book: " << warm << " bytes after 20 pages";
  int pages = 0;
  EXPECT_EQ(ClosePageBook(book, &pages), 0);
  EXPECT_EQ(pages, 200);
  ExpectPages("flat-book.tif", 200);  // read back by the independent readers after the suite
  FreeImage(image);
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

// The book is written once, when it closes, from its pages' own files, read one at a time:
// memory holds one decoded page however long the batch.
TEST_F(ImageFilesTest, ABookHoldsOnePageAtATime) {
  const vscan::Raster r = Render(2);
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("long.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  void* image = NativeImage(r);
  ImageIOStandin_ResetPeak();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  EXPECT_EQ(ClosePageBook(book), 0);
  EXPECT_LE(ImageIOStandin_PeakDecodedPixels(), static_cast<long>(r.width) * r.height);
  FreeImage(image);
  ExpectPages("long.tif", 6);
  Expect("long.tif[5]", 2, TWFF_TIFFMULTI, r.xres, r.yres);
}

// Seconds to write a book of `pages` grey pages, open to close.
double BookSeconds(const std::string& leaf, int pages) {
  const vscan::Raster r = Render(1);
  void* image = NativeImage(r);
  const auto start = std::chrono::steady_clock::now();
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath(leaf).data(), &result);
  EXPECT_NE(book, nullptr);
  for (int i = 0; book && i < pages; ++i) EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  int held = 0;
  if (book) {
    EXPECT_EQ(ClosePageBook(book, &held), 0);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  FreeImage(image);
  EXPECT_EQ(held, pages);
  fs::remove(Local(leaf));
  return seconds;
}

// Each page is written once, however many came before: four times the pages take about four
// times as long (a book written again for every page takes some fifteen times).
TEST_F(ImageFilesTest, ABookTakesTimeInProportionToItsPages) {
  double ten = 1e9, forty = 1e9;
  for (int run = 0; run < 2; ++run) {  // the quicker of two runs: less noise from the machine
    ten = std::min(ten, BookSeconds("ten.tif", 10));
    forty = std::min(forty, BookSeconds("forty.tif", 40));
  }
  EXPECT_LT(forty, 7 * ten) << "10 pages " << ten << " s, 40 pages " << forty << " s";
}

// Writing the book when it closes fails (the room it held was taken): the book is written
// with fewer pages, the answer is 8 and the count is what the file holds; nothing is left
// beside it.
TEST_F(ImageFilesTest, ABookThatCannotBeWrittenWholeKeepsFewerPagesAndSaysSo) {
  const vscan::Raster r = Render(0);
  void* image = NativeImage(r);
  int16_t result = -1;
  PageBook* book = OpenPageBook(HostPath("short.tif").data(), &result);
  ASSERT_NE(book, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(AddBookPage(book, image, FactsOf(r)), 0);
  ImageIOStandin_FailNthFinalize(1);
  int held = -1;
  EXPECT_EQ(ClosePageBook(book, &held), kResultFileError);
  EXPECT_EQ(held, 2);
  ExpectPages("short.tif", 2);
  FreeImage(image);
  ImageIOStandin_FailNthFinalize(0);
  for (const auto& entry : fs::directory_iterator(kFolder))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
}

// Page files left by a book that died (its process killed) are removed by the next book of
// that name, however many there are; a file of a page file's name that is someone's own is
// never touched (the book stops before that page). Two books whose long names start alike
// keep their pages apart.
TEST_F(ImageFilesTest, PageFilesLeftByADeadBookNeverBreakTheNext) {
  constexpr OSType kPageCreator = 0x4B567067, kTiff = 0x54494646;
  for (int n = 1; n <= 12; ++n) {
    char leaf[32];
    std::snprintf(leaf, sizeof leaf, "left.tif.part%04d", n);
    ASSERT_EQ(HCreate(0, 0, HostPath(leaf).data(), kPageCreator, kTiff), noErr) << leaf;
    std::ofstream(Local(leaf), std::ios::app) << "half a page";
  }
  ASSERT_EQ(HCreate(0, 0, HostPath("mine.tif.part0002").data(), 0x70727677, kTiff), noErr);
  std::ofstream(Local("mine.tif.part0002"), std::ios::app) << "someone's file";

  const vscan::Raster r = Render(1);
  void* image = NativeImage(r);
  int16_t result = -1;
  PageBook* left = OpenPageBook(HostPath("left.tif").data(), &result);
  PageBook* mine = OpenPageBook(HostPath("mine.tif").data(), &result);
  const std::string longName = "a-rather-long-name-of-a-book-";
  PageBook* first = OpenPageBook(HostPath(longName + "1").data(), &result);
  PageBook* second = OpenPageBook(HostPath(longName + "2").data(), &result);
  ASSERT_TRUE(left && mine && first && second);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(AddBookPage(left, image, FactsOf(r)), 0);
    EXPECT_EQ(AddBookPage(mine, image, FactsOf(r)), i == 0 ? 0 : kResultFileError) << i;
    EXPECT_EQ(AddBookPage(first, image, FactsOf(r)), 0);
    EXPECT_EQ(AddBookPage(second, image, FactsOf(r)), 0);
  }
  int held = 0;
  EXPECT_EQ(ClosePageBook(left, &held), 0);
  EXPECT_EQ(held, 3);
  EXPECT_EQ(ClosePageBook(mine, &held), 0);
  EXPECT_EQ(held, 1);
  EXPECT_EQ(ClosePageBook(first, &held), 0);
  EXPECT_EQ(held, 3);
  EXPECT_EQ(ClosePageBook(second, &held), 0);
  EXPECT_EQ(held, 3);
  FreeImage(image);
  ExpectPages("left.tif", 3);
  ExpectPages("mine.tif", 1);
  ExpectPages(longName + "1", 3);
  ExpectPages(longName + "2", 3);
  std::string beside;
  for (const auto& entry : fs::directory_iterator(kFolder))
    if (entry.path().filename().string().find(".part") != std::string::npos)
      beside += " " + entry.path().filename().string();
  EXPECT_EQ(beside, " mine.tif.part0002");
  std::ifstream kept(Local("mine.tif.part0002"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "someone's file");
  fs::remove(Local("mine.tif.part0002"));
}

// A source that gives no image size: the picture's own. QDPictGetBounds answers at 72 dpi, so a
// 300 by 150 dpi picture of two inches by one is 600 by 150 pixels, not 144 by 72.
TEST_F(ImageFilesTest, APictureWithoutASizeFromTheSourceKeepsItsPixelsAtHighResolution) {
  if (!kvtest::ReaderAvailable()) GTEST_SKIP() << "no independent reader";
  vscan::ScanSettings s;
  s.pixelType = 2;
  s.xres = 300;
  s.yres = 150;
  s.right = 2;
  s.bottom = 1;
  const vscan::Raster r = vscan::RenderPage(s);
  PageFacts facts = FactsOf(r);
  facts.width = facts.height = 0;
  facts.xResolution = facts.yResolution = 0;
  ASSERT_EQ(Write(r, TWFF_PNG, "no-size.png", &facts), 0);
  const kvtest::ImageFacts f = kvtest::Identify(Local("no-size.png"));
  ASSERT_TRUE(f.read);
  EXPECT_EQ(f.width, 600);
  EXPECT_EQ(f.height, 150);
}
#endif

}  // namespace

// A row buffer keeps its rows as it grows, and one that would pass 2 GB is refused with the
// buffer and its capacity as they were (a page of 3 MB rows stops short of 683 rows).
TEST(RowBuffer, GrowsKeepingItsRowsAndRefusesToPass2GB) {
  uint8_t* rows = nullptr;
  uint32_t capacity = 0;
  ASSERT_TRUE(GrowRowBuffer(&rows, &capacity, 5, 2));
  EXPECT_EQ(capacity, 2u);
  std::memcpy(rows, "abcdefghij", 10);
  ASSERT_TRUE(GrowRowBuffer(&rows, &capacity, 5, 64));
  EXPECT_EQ(capacity, 64u);
  EXPECT_EQ(std::memcmp(rows, "abcdefghij", 10), 0);
  const uint8_t* before = rows;
  const size_t wide = size_t(3) << 20;
  EXPECT_FALSE(GrowRowBuffer(&rows, &capacity, wide, 683));
  EXPECT_EQ(rows, before);
  EXPECT_EQ(capacity, 64u);
  std::free(rows);
}
