// Twain.ScanPages by buffered memory transfer (SetOption TRANSFER MEMORY or AUTO) against the
// virtual scanner's strips: how a batch ends when the source cancels or fails in the middle of
// a page, and the sources that strain the strip reader (padded rows, pages shorter than
// announced or of unknown length, buffers the source leaves open or limits, a pixel type that
// changes within the batch). The pages are PNG files; where the independent reader runs, each
// is compared with the same page taken by native transfer.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"

namespace kvtest {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string PageFile(const std::string& stem, int number, const char* ext = ".png") {
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%04d", number);
  return stem + digits + ext;
}

// The file's bytes hold the comment the virtual scanner puts in every JPEG stream it sends.
bool HasScannerComment(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes.find("Virtual Scanner") != std::string::npos;
}

// The most memory the process holds while it lives, looked at every millisecond.
class PeakSampler {
 public:
  PeakSampler()
      : peak_(ProcessBytes()), thread_([this] {
          while (!stop_) {
            const long long now = ProcessBytes();
            if (now > peak_) peak_ = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~PeakSampler() { Stop(); }
  long long Peak() {
    Stop();
    return peak_;
  }

 private:
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::atomic<bool> stop_{false};
  std::atomic<long long> peak_;
  std::thread thread_;
};

class ScanPagesMemoryTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    Remove("mem");
    Remove("nat");
  }
  void TearDown() override {
    Remove("mem");
    Remove("nat");
    ExtensionTest::TearDown();
  }
  int pixelType_ = 0;
  static void Remove(const std::string& stem) {
    for (int i = 1; i <= 6; ++i) {
      std::remove(PageFile(stem, i).c_str());
      std::remove(PageFile(stem, i, ".jpg").c_str());
    }
  }
  void Connect(int pages, int pixelType) {
    ASSERT_EQ(0, Scanner("pages " + std::to_string(pages)));
    ASSERT_EQ("0", Call("Twain.Connect()"));
    pixelType_ = pixelType;
  }
  void Transfer(const std::string& how) {
    ASSERT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"" + how + "\")"));
  }
  // A batch into stem-000n.ext (code: the file format) in the pixel type of Connect (the scanner starts every
  // session from its defaults): the answer, and the page count in *count.
  std::string Batch(const std::string& stem, std::string* count, int code = 7) {
    EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"PIXELTYPE\", " + std::to_string(pixelType_) + ")"));
    const std::string ext = code == 7 ? ".png" : ".jpg";
    velmar::CallResult r =
        CallFull("Twain.ScanPages(\"" + stem + ext + "\", $n, 0, " + std::to_string(code) + ")");
    *count = host->Variable("n").Display();
    return r.result.Display();
  }
  void ExpectPages(const std::string& stem, int n) {
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(Exists(PageFile(stem, i))) << PageFile(stem, i);
    EXPECT_FALSE(Exists(PageFile(stem, n + 1))) << PageFile(stem, n + 1);
  }
  void ExpectSourceClosed(const std::string& what) {
    EXPECT_EQ(0, Record()->dsEnabled) << what;
    EXPECT_EQ(0, Record()->dsOpen) << what;
    EXPECT_EQ("3", ScannerQuery("state")) << what;
  }
  // The same batch by native transfer into nat-000n.png, to compare the memory pages with.
  void NativeBatch(int pages) {
    Transfer("NATIVE");
    std::string count;
    ASSERT_EQ("0", Batch("nat", &count));
    ASSERT_EQ(std::to_string(pages), count);
    Transfer("MEMORY");
  }
  // Page n of mem and of nat: the same size and the same pixels at points spread over it.
  void ExpectSamePage(int n, int height) {
    if (!ReaderAvailable()) return;
    const std::string mem = PageFile("mem", n), nat = PageFile("nat", n);
    ImageFacts f = Identify(mem);
    ASSERT_TRUE(f.read) << mem;
    EXPECT_EQ(Identify(nat).width, f.width) << mem;
    EXPECT_EQ(height, f.height) << mem;
    for (int i = 0; i < 5; ++i) {
      const int x = (f.width - 1) * i / 4, y = (height - 1) * (4 - i) / 4;
      EXPECT_EQ(PixelAt(nat, x, y), PixelAt(mem, x, y)) << mem << " at " << x << "," << y;
    }
  }
};

// Black-and-white pages come in two strips, the colour page (pixel-type-at 2) in dozens: a
// fault at the fifth strip strikes page 2 only, in the middle of its transfer.
TEST_F(ScanPagesMemoryTest, ACancelInTheStripsDropsThePageAndKeepsThoseBefore) {
  Connect(3, 0);
  Transfer("MEMORY");
  ASSERT_EQ(0, Scanner("pixel-type-at 2 2"));
  ASSERT_EQ(0, Scanner("memory-fail-at 5 3 0"));
  std::string count;
  EXPECT_EQ("5", Batch("mem", &count));
  EXPECT_EQ("1", count);
  ExpectPages("mem", 1);
  ExpectSourceClosed("cancelled in the strips");
  ASSERT_EQ(0, Scanner("memory-fail-at none"));
  Remove("mem");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("3", count);
  ExpectPages("mem", 3);
}

// A failure answers 3000 + the condition code, on the first strip (state 6) as on a later one
// (state 7); the source is brought back so that the next call works.
TEST_F(ScanPagesMemoryTest, AFailedStripAnswersItsCodeAndTheNextCallWorks) {
  Connect(3, 0);
  Transfer("MEMORY");
  ASSERT_EQ(0, Scanner("pixel-type-at 2 2"));
  std::string count;
  // First strip of every page: nothing is written.
  ASSERT_EQ(0, Scanner("memory-fail-at 1 1 20"));
  EXPECT_EQ("3020", Batch("mem", &count));
  EXPECT_EQ("0", count);
  EXPECT_FALSE(Exists(PageFile("mem", 1)));
  ExpectSourceClosed("first strip failed");
  // The fifth strip: only the colour page 2 has one.
  ASSERT_EQ(0, Scanner("memory-fail-at 5 1 4"));
  EXPECT_EQ("3004", Batch("mem", &count));
  EXPECT_EQ("1", count);
  ExpectPages("mem", 1);
  ExpectSourceClosed("later strip failed");
  ASSERT_EQ(0, Scanner("memory-fail-at none"));
  Remove("mem");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("3", count);
  ExpectPages("mem", 3);
}

// Padded rows, a page of unknown length and buffers of every kind the source may announce:
// each batch equals the native one.
TEST_F(ScanPagesMemoryTest, StripsAreReadByWhatTheySayWhateverTheSourceAnnounces) {
  Connect(2, 2);
  NativeBatch(2);
  const char* const scripts[][2] = {
      {"memory-padding 3", "memory-padding 0"},
      {"memory-length-unknown on", "memory-length-unknown off"},
      {"memory-buffers dontcare dontcare dontcare", "reset"},
      {"memory-buffers 2550 -1 dontcare", "reset"},
      {"memory-buffers 3000 9000 100000", "reset"},  // preferred beyond the maximum
  };
  for (const auto& s : scripts) {
    ASSERT_EQ(0, Scanner(s[0])) << s[0];
    std::string count;
    EXPECT_EQ("0", Batch("mem", &count)) << s[0];
    EXPECT_EQ("2", count) << s[0];
    for (int page = 1; page <= 2; ++page) ExpectSamePage(page, 1100);
    Remove("mem");
    ASSERT_EQ(0, Scanner(s[1]));
    ASSERT_EQ(0, Scanner("pages 2"));
  }
}

// A source that takes one size of buffer, one row of an odd length (150 dpi colour letter:
// 1275 pixels, 3825 bytes), is given exactly that: the page comes a row a strip.
TEST_F(ScanPagesMemoryTest, ABufferOfOneOddRowIsTheSizeTheSourceTakes) {
  Connect(1, 2);
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 150, \"YRESOLUTION\", 150)"));
  ASSERT_EQ(0, Scanner("settings keep"));
  NativeBatch(1);
  ASSERT_EQ(0, Scanner("memory-buffers 3825 3825 3825"));
  std::string count;
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("1", count);
  ExpectSamePage(1, 1650);
}

// A page that ends before the length it announced comes out with the rows that came.
TEST_F(ScanPagesMemoryTest, APageShorterThanAnnouncedKeepsTheRowsThatCame) {
  Connect(2, 1);
  NativeBatch(2);
  ASSERT_EQ(0, Scanner("memory-rows-short 10"));
  std::string count;
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("2", count);
  for (int page = 1; page <= 2; ++page) ExpectSamePage(page, 1090);
}

// Automatic colour detection: page 2 is colour in a black-and-white batch and keeps its depth.
TEST_F(ScanPagesMemoryTest, APageOfAnotherPixelTypeHasItsOwnDepth) {
  Connect(3, 0);
  ASSERT_EQ(0, Scanner("pixel-type-at 2 2"));
  NativeBatch(3);
  std::string count;
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("3", count);
  for (int page = 1; page <= 3; ++page) ExpectSamePage(page, 1100);
}

// A scanner without memory transfers: MEMORY refuses the batch before anything is scanned,
// AUTO takes it by native transfer.
TEST_F(ScanPagesMemoryTest, WithoutMemoryTransfersMemoryAnswers10AndAutoTakesNative) {
  ASSERT_EQ(0, Scanner("memory off"));
  Connect(2, 1);
  Transfer("MEMORY");
  std::string count;
  EXPECT_EQ("10", Batch("mem", &count));
  EXPECT_EQ("0", count);
  EXPECT_FALSE(Exists(PageFile("mem", 1)));
  ExpectSourceClosed("memory refused");
  Transfer("AUTO");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("2", count);
  ExpectPages("mem", 2);
}

// A source that answers XFERMECH with its current mechanism alone (as Wine's camera source
// does) offers memory while memory is current: the batch asks before it settles native. The
// scanner keeps its settings, so the mechanism a batch left is the next one's current.
TEST_F(ScanPagesMemoryTest, ASourceThatListsItsCurrentMechanismAloneIsAskedFirst) {
  ASSERT_EQ(0, Scanner("lists current"));
  ASSERT_EQ(0, Scanner("settings keep"));
  Connect(2, 1);
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"XFERMECH\", 2)"));
  std::string count;
  for (const char* how : {"MEMORY", "AUTO"}) {
    Transfer(how);
    EXPECT_EQ("0", Batch("mem", &count)) << how;
    EXPECT_EQ("2", count) << how;
    ExpectPages("mem", 2);
    Remove("mem");
    EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XFERMECH\", $m)")) << how;
    EXPECT_EQ("2", host->Variable("m").Display()) << how;
  }
  Transfer("NATIVE");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("2", count);
  Remove("mem");
  // Native is now current, and all the source lists.
  Transfer("MEMORY");
  EXPECT_EQ("10", Batch("mem", &count));
  EXPECT_EQ("0", count);
  Transfer("AUTO");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XFERMECH\", $m)"));
  EXPECT_EQ("0", host->Variable("m").Display());
}

// A page that arrived whole (TWRC_XFERDONE) is written and counted when the source then
// refuses to end its transfer; the refusal is the answer, the source is closed, and the next
// batch works.
TEST_F(ScanPagesMemoryTest, APageThatArrivedWholeIsKeptWhenItsEndIsRefused) {
  Connect(3, 2);
  NativeBatch(3);
  ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));  // MSG_ENDXFER: general failure
  std::string count;
  EXPECT_EQ("3001", Batch("mem", &count));
  EXPECT_EQ("1", count);
  ExpectPages("mem", 1);
  ExpectSamePage(1, 1100);
  ExpectSourceClosed("refused end of a memory transfer");
  Remove("mem");
  EXPECT_EQ("0", Batch("mem", &count));
  EXPECT_EQ("3", count);
  ExpectPages("mem", 3);
}

// Memory holds a strip and the page being written, whatever the batch's length: a batch of
// 4 pages peaks within half a page of a batch of 1. On Windows no page stands whole in memory
// either: a colour letter page at 300 dpi (25 MB) raises the peak by less than half of itself.
TEST_F(ScanPagesMemoryTest, MemoryGrowsNeitherWithTheBatchNorToAWholePage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
  Connect(4, 2);
  Transfer("MEMORY");
  const long long page = 2550LL * 3300 * 3;
  // The first batch loads the codecs, which stay: it is not counted.
  const int sizes[] = {1, 1, 4};
  long long peaks[3] = {};
  for (int i = 0; i < 3; ++i) {
    const int pages = sizes[i];
    ASSERT_EQ("0",
              Call("Twain.SetSourceCapability(\"PIXELTYPE\", 2, \"XRESOLUTION\", 300, \"YRESOLUTION\", 300)"));
    const long long before = ProcessBytes();
    PeakSampler sampler;
    velmar::CallResult r = CallFull("Twain.ScanPages(\"mem.png\", $n, 0, 7, " + std::to_string(pages) + ")");
    peaks[i] = sampler.Peak() - before;
    EXPECT_EQ("0", r.result.Display()) << pages;
    EXPECT_EQ(std::to_string(pages), host->Variable("n").Display());
    if (pages == 1) {
      EXPECT_TRUE(Exists("mem.png"));  // a batch of one page takes the name as it stands
      std::remove("mem.png");
    } else {
      ExpectPages("mem", pages);
      Remove("mem");
    }
    std::printf("memory batch of %d: peak %lld bytes above the start\n", pages, peaks[i]);
    if constexpr (kWindowsBuild) {
      EXPECT_LT(peaks[i], page / 2) << pages << " pages";
    }
  }
  EXPECT_LE(peaks[2] - peaks[1], page / 2) << peaks[1] << " then " << peaks[2] << " bytes, a page " << page;
}

// COMPRESSION JPEG: grey and colour pages bound for JPEG files are the scanner's own streams,
// written as they came; black-and-white pages, and pages for other formats, come uncompressed
// and are encoded by the extension. A JPEG page cancelled or failed in its strips leaves no
// file (small buffers: the stream comes in several strips).
TEST_F(ScanPagesMemoryTest, JpegStripsAreWrittenAsTheyCameAndADroppedPageLeavesNoFile) {
  Connect(2, 2);
  ASSERT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY\", \"COMPRESSION\", \"JPEG\")"));
  for (int t : {0, 1, 2}) {
    pixelType_ = t;
    std::string count;
    ASSERT_EQ("0", Batch("mem", &count, 4)) << t;
    EXPECT_EQ("2", count) << t;
    for (int page = 1; page <= 2; ++page) {
      const std::string file = PageFile("mem", page, ".jpg");
      ASSERT_TRUE(Exists(file)) << file;
      EXPECT_EQ(t != 0, HasScannerComment(file)) << file;
      if (ReaderAvailable()) {
        EXPECT_EQ(1100, Identify(file).height) << file;
      }
    }
    Remove("mem");
  }
  std::string count;
  EXPECT_EQ("0", Batch("mem", &count));  // PNG: uncompressed, encoded by the extension
  EXPECT_EQ("2", count);
  EXPECT_FALSE(HasScannerComment(PageFile("mem", 1)));
  Remove("mem");

  ASSERT_EQ(0, Scanner("memory-buffers 4096 4096 4096"));
  const char* const faults[][2] = {{"memory-fail-at 3 3 0", "5"}, {"memory-fail-at 3 1 4", "3004"}};
  for (const auto& f : faults) {
    const std::string fault = f[0];
    ASSERT_EQ(0, Scanner(fault));
    EXPECT_EQ(f[1], Batch("mem", &count, 4)) << fault;
    EXPECT_EQ("0", count) << fault;
    EXPECT_FALSE(Exists(PageFile("mem", 1, ".jpg"))) << fault;
    ExpectSourceClosed(fault);
  }
  ASSERT_EQ(0, Scanner("memory-fail-at none"));
  EXPECT_EQ("0", Batch("mem", &count, 4));
  EXPECT_EQ("2", count);
  EXPECT_TRUE(HasScannerComment(PageFile("mem", 2, ".jpg")));
}

}  // namespace
}  // namespace kvtest
