// What a scan does with an image the source hands over: nothing usable answers 2, writes no
// file and leaves the field as it was, and the next scan works; Windows takes a device bitmap
// as it is, and a DIB at the very end of its memory converts without reading past it.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"
#if KV_WINDOWS_BUILD
#include <windows.h>

#include "tests/platform/windows/dib-corpus/dib_kinds.h"
#endif

namespace kvtest {
namespace {

const std::string kFile = kWindowsBuild ? "handover.bmp" : "handover.pict";

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class ImageHandoverTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    std::remove(kFile.c_str());
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  std::string ScanToFile() { return Call("Twain.ScanToFile(\"" + kFile + "\")"); }
  // Puts a page into $p, so that a failed scan can be seen to leave it.
  void FillField() {
    ASSERT_EQ("0", Call("Twain.ScanToField($p:picture)"));
    ASSERT_EQ("picture 850x1100", host->Variable("p").Display());
  }
  // The image refused: 2, no file, the field as it was, and the next scan works.
  void ExpectRefused(const std::string& order, const std::string& what) {
    FillField();
    ASSERT_EQ(0, Scanner(order)) << what;
    EXPECT_EQ("2", ScanToFile()) << what;
    EXPECT_FALSE(Exists(kFile)) << what;
    ASSERT_EQ(0, Scanner(order)) << what;
    EXPECT_EQ("2", Call("Twain.ScanToField($p:picture)")) << what;
    EXPECT_EQ("picture 850x1100", host->Variable("p").Display()) << what;
    EXPECT_EQ("0", ScanToFile()) << what << ": the next scan";
    EXPECT_TRUE(Exists(kFile)) << what;
    std::remove(kFile.c_str());
  }
};

TEST_F(ImageHandoverTest, ASuccessWithoutAnImageIsNoSuccess) {
  ExpectRefused("native-null", "null handle");
  ExpectRefused("native-size 0", "empty block");
  ExpectRefused("native-size 9", "nine bytes");
}

#if !KV_WINDOWS_BUILD
// Ten bytes are a picture's header: the Mac writes what it got, as always.
TEST_F(ImageHandoverTest, MacATenBytePictureIsWritten) {
  ASSERT_EQ(0, Scanner("native-size 10"));
  EXPECT_EQ("0", ScanToFile());
  std::ifstream in(kFile, std::ios::binary | std::ios::ate);
  EXPECT_EQ(522, int(in.tellg()));
}
#endif

#if KV_WINDOWS_BUILD
// A camera hands over a device bitmap: it is the page, in the file and in the field, and it
// is deleted afterwards.
TEST_F(ImageHandoverTest, WindowsADeviceBitmapIsThePage) {
  // The first use of the screen's device context, by the extension and by the scanner that
  // makes the bitmap, costs GDI objects of their own that stay for the process.
  ASSERT_EQ(0, Scanner("native-bitmap"));
  ASSERT_EQ("0", ScanToFile());
  std::remove(kFile.c_str());
  const long gdi = GdiObjects();
  ASSERT_EQ(0, Scanner("native-bitmap"));
  EXPECT_EQ("0", ScanToFile());
  EXPECT_EQ(gdi, GdiObjects()) << "the source's bitmap is deleted";
  ASSERT_EQ(0, Scanner("native-bitmap"));
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
  host->Fields().Set(host->Fields().FindVariable("p"), velmar::Value());  // the host's copy goes
  EXPECT_EQ(gdi, GdiObjects());
  ASSERT_TRUE(Exists(kFile));
  if (ReaderAvailable()) {
    EXPECT_EQ("255,0,0", PixelAt(kFile, 5 * 106 + 53, 275)) << "the red bar";
  }
}

// A failed scan after a device bitmap was handed over deletes it too.
TEST_F(ImageHandoverTest, WindowsAFailedScanDeletesTheSourcesBitmap) {
  ASSERT_EQ(0, Scanner("native-bitmap"));
  ASSERT_EQ("0", ScanToFile());
  const long gdi = GdiObjects();
  ASSERT_EQ(0, Scanner("native-bitmap"));
  ASSERT_EQ(0, Scanner("fail 1 5 1793 1 5"));  // MSG_ENDXFER: operation error
  EXPECT_EQ("13", ScanToFile());
  EXPECT_EQ(gdi, GdiObjects());
}

// The lying DIBs at the end of a guarded block: refused, and nothing past the block is read
// (a read would fault and end the test program).
TEST_F(ImageHandoverTest, WindowsLyingDibsAtTheEndOfGuardedMemory) {
  ASSERT_EQ(0, Scanner("native-guard"));
  int guarded = 0;
  long nearest = 4096, farthest = -1;
  for (const dibkinds::Case& c : dibkinds::Corpus(true)) {
    const std::string path = "handover-" + c.name + ".dib";
    {
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
    }
    ASSERT_EQ(0, Scanner("native-file " + path));
    EXPECT_EQ(c.valid ? "0" : "2", Call("Twain.ScanToField($p:picture)")) << c.name;
    long distance = std::stol(ScannerQuery("guard-distance"));
    if (distance >= 0) {
      ++guarded;
      nearest = std::min(nearest, distance);
      farthest = std::max(farthest, distance);
    }
    std::remove(path.c_str());
  }
  EXPECT_GT(guarded, 40) << "the large corpus lies in blocks a guard can follow";
  std::printf("guarded %d blocks; readable bytes after their ends: %ld to %ld\n", guarded, nearest, farthest);
}
#endif

}  // namespace
}  // namespace kvtest
