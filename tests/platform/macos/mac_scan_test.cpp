// What only the Mac build does: the event loop on the stand-in's virtual clock, the source
// callback, the PICT writer, and a host call that arrives while a scan waits.
#include "traits/build_traits.h"
#if !KV_WINDOWS_BUILD
#include <CarbonStandin.h>
#include <TWAIN/TWAINFrameworkStandin.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_platform.h"
#include "platform/macos/source_callback.h"
#include "tests/support/fixture.h"
#include "tests/support/image_reader.h"

namespace kvtest {
namespace {

bool Exists(const char* path) {
  std::ifstream in(path);
  return in.good();
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class MacScanTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    CarbonStandin_ResetEvents();
    CarbonStandin_UseVirtualClock(true);
    std::remove("mac.pict");
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  void TearDown() override {
    CarbonStandin_ResetEvents();
    ExtensionTest::TearDown();
  }
};

// A picture's rows hold at most 4095 pixels of 32 bits: a page 5100 pixels wide (a strip of a
// letter page at 600 dpi) is refused with 16 before its transfer, by every way that ends in a
// picture (the jam on the transfer would otherwise answer); a page 4800 pixels tall and 600
// wide is a picture like any other. A batch the extension writes from rows takes the wide
// pages by memory transfer by itself, switching for each page the source announces.
TEST_F(MacScanTest, APageWiderThanAPictureAnswers16BeforeItsTransfer) {
  const std::string wide =
      "Twain.SetSourceCapability(\"PIXELTYPE\", 1, \"XRESOLUTION\", 600, \"YRESOLUTION\", 600, \"FRAMES\", "
      "\"0,0,8.5,0.5\")";
  std::remove("tall.pict");
  std::remove("wide.png");
  ASSERT_EQ(0, Scanner("jam-at 1"));
  const char* const refused[] = {"Twain.ScanToFile(\"mac.pict\")", "Twain.ScanToField($f:picture)",
                                 "Twain.ScanPages(\"mac.pict\", $n, 0, 1)"};
  for (const char* call : refused) {
    ASSERT_EQ("0", Call(wide));
    EXPECT_EQ("16", Call(call)) << call;
    EXPECT_EQ("3", ScannerQuery("state")) << call;
  }
  EXPECT_FALSE(Exists("mac.pict"));
  EXPECT_EQ("0", host->Variable("n").Display());
  ASSERT_EQ(0, Scanner("jam-at none"));
  ASSERT_EQ("0", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 600, \"YRESOLUTION\", 600, \"FRAMES\", "
                      "\"0,0,1,8\")"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"tall.pict\")"));
  EXPECT_TRUE(Exists("tall.pict"));
  std::remove("tall.pict");

  ASSERT_EQ(0, Scanner("pages 3"));
  ASSERT_EQ("0", Call(wide));
  ASSERT_EQ("0", Call("Twain.ScanPages(\"wide.png\", $n, 0, 7)"));
  EXPECT_EQ("3", host->Variable("n").Display());
  const char* const pages[] = {"wide-0001.png", "wide-0002.png", "wide-0003.png"};
  for (const char* page : pages) {
    EXPECT_TRUE(Exists(page)) << page;
    if (ReaderAvailable()) {
      EXPECT_EQ(5100, Identify(page).width) << page;
      EXPECT_EQ(300, Identify(page).height) << page;
    }
    std::remove(page);
  }
}

// A host that keeps receiving events still gets its call back once the image is there, and
// the source is closed, so the next scan works too.
TEST_F(MacScanTest, TheWaitEndsWithTheImageWhileEventsKeepComing) {
  double start = CarbonStandin_Now();
  for (int i = 1; i <= 60; ++i) CarbonStandin_ScheduleEvent(start + i, kEventClassMouse, 1);
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  EXPECT_LT(CarbonStandin_Now() - start, 5.0);
  EXPECT_EQ(0, Record()->dsEnabled);
  EXPECT_EQ(0, Record()->dsOpen);
  std::remove("mac.pict");
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  EXPECT_EQ(1, Record()->scanComplete);
}

void PressScanOnce(void* ctx) {
  int* pressed = static_cast<int*>(ctx);
  if (!*pressed) *pressed = Scanner("press scan") == 0 ? 1 : -1;
}

// With the interface shown, the host's own events go on to the host while the user has not
// acted yet; the user's Scan then ends the wait.
TEST_F(MacScanTest, ForeignEventsReachTheHostDuringTheWait) {
  ASSERT_EQ(0, Scanner("user none"));
  int pressed = 0;
  CarbonStandin_SetIdleHook(&PressScanOnce, &pressed);
  CarbonStandin_ScheduleEvent(CarbonStandin_Now(), kEventClassKeyboard, 1);
  CarbonStandin_ScheduleEvent(CarbonStandin_Now(), kEventClassKeyboard, 2);
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\", 1)"));
  EXPECT_EQ(1, pressed);
  EXPECT_EQ(2, CarbonStandin_DispatchedEvents());
  EXPECT_GT(ReadBytes("mac.pict").size(), 512u);
}

TEST_F(MacScanTest, ThePictFileHasItsHeaderTypeAndCreator) {
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  std::vector<unsigned char> b = ReadBytes("mac.pict");
  ASSERT_GT(b.size(), 512u + 10);
  for (size_t i = 0; i < 512; ++i) ASSERT_EQ(0, b[i]) << "header byte " << i;
  OSType type = 0, creator = 0;
  ASSERT_EQ(0, CarbonStandin_ReadFinderInfo("mac.pict", &type, &creator));
  EXPECT_EQ(OSType('PICT'), type);
  EXPECT_EQ(OSType('ttxt'), creator);
}

// Besides the one set of the native mechanism that every native scan makes.
TEST_F(MacScanTest, ResettingTheFlavourTakesOneSet) {
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"PIXELFLAVOR\", 1)"));
  int sets = TWAINFramework_CountCalls(DG_CONTROL, DAT_CAPABILITY, MSG_SET);
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  EXPECT_EQ(2, TWAINFramework_CountCalls(DG_CONTROL, DAT_CAPABILITY, MSG_SET) - sets);
  sets = TWAINFramework_CountCalls(DG_CONTROL, DAT_CAPABILITY, MSG_SET);
  std::remove("mac.pict");
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  EXPECT_EQ(1, TWAINFramework_CountCalls(DG_CONTROL, DAT_CAPABILITY, MSG_SET) - sets) << "already the default";
}

// A registration that fails with a status that cannot be read fails the scan before
// anything is enabled.
TEST_F(MacScanTest, AFailedRegistrationStartsNoScan) {
  std::remove("mac.pict");
  TWAINFramework_FailNext(DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, TWRC_FAILURE, TWCC_OPERATIONERROR);
  TWAINFramework_FailStatus(true);
  int enables = TWAINFramework_CountCalls(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS);
  std::string r = Call("Twain.ScanToFile(\"mac.pict\")");
  TWAINFramework_FailStatus(false);
  EXPECT_EQ("1", r);
  EXPECT_EQ(enables, TWAINFramework_CountCalls(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS));
  EXPECT_EQ(0, Record()->dsEnabled);
  EXPECT_EQ(1, Record()->scanComplete);
}

TEST_F(MacScanTest, AModalSourceThatSaysNothingIsCollectedAnyway) {
  ASSERT_EQ(0, Scanner("modal keep"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\")"));
  EXPECT_GT(ReadBytes("mac.pict").size(), 512u);
  EXPECT_EQ(0, Record()->dsOpen);
}

// A call dispatched by the host from the scan's own event loop is answered without
// touching the scan: About with its text, everything else with 14.
struct Nested {
  velmar::Host* host;
  std::vector<std::string> answers;
  TwainGlobals* g;
  TW_HANDLE imageSeen = nullptr;
};

OSStatus CallDuringScan(EventRef, void* ctx) {
  Nested* n = static_cast<Nested*>(ctx);
  if (n->answers.size() >= 3) return eventNotHandledErr;
  HostContext before = n->g->hostParams;
  for (const char* c : {"Twain.Disconnect()", "Twain.ScanToFile(\"nested.pict\")", "Twain.About()"}) {
    n->answers.push_back(n->host->Call(c).result.Display());
  }
  EXPECT_EQ(before, n->g->hostParams) << "a nested call replaced the scan's call context";
  return noErr;
}

TEST_F(MacScanTest, AHostCallDuringTheScanLeavesTheScanAlone) {
  std::remove("nested.pict");
  Nested n{host.get(), {}, Record()};
  CarbonStandin_SetDispatcherHandler(&CallDuringScan, &n);
  CarbonStandin_ScheduleEvent(CarbonStandin_Now(), kEventClassKeyboard, 1);
  ASSERT_EQ(0, Scanner("user none"));
  int pressed = 0;
  CarbonStandin_SetIdleHook(&PressScanOnce, &pressed);
  // With the interface shown and a user who has not acted yet, the host's event comes first.
  velmar::CallResult r = host->Call("Twain.ScanToFile(\"mac.pict\", 1)");
  EXPECT_EQ("0", r.result.Display());
  EXPECT_GT(ReadBytes("mac.pict").size(), 512u) << "the scan went on with its own image";
  ASSERT_EQ(3u, n.answers.size());
  EXPECT_EQ("14", n.answers[0]);
  EXPECT_EQ("14", n.answers[1]);
  EXPECT_EQ("\"1.2\"", n.answers[2]);
  EXPECT_EQ(1, Record()->dsmOpen) << "the nested Disconnect closed the manager";
  EXPECT_FALSE(std::ifstream("nested.pict").good());
}

// ------------------------------------------------------------------ the callback itself

TEST_F(MacScanTest, ACallbackForAnUnreadyRecordChangesNothing) {
  TwainGlobals copy = *Record();
  copy.signature = kSignatureLoad;
  TW_CALLBACK cb{};
  cb.RefCon = &copy;
  EXPECT_EQ(TWRC_SUCCESS, TWAIN_callback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, &cb));
  EXPECT_EQ(0, copy.closeRequested);
  cb.RefCon = nullptr;
  EXPECT_EQ(TWRC_SUCCESS, TWAIN_callback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_XFERREADY, &cb));
  EXPECT_EQ(TWRC_SUCCESS, TWAIN_callback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr));
}

// A source whose close after the scan was refused stays enabled; when its user then asks to
// close it, the callback closes it at once (no scan waits to do it).
TEST_F(MacScanTest, ACloseRequestAfterTheScanClosesTheSourceAtOnce) {
  ASSERT_EQ(0, Scanner("fail 1 9 0x501 1 1"));  // MSG_DISABLEDS, once
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"mac.pict\", 1)"));
  ASSERT_EQ("5", ScannerQuery("state"));
  ASSERT_EQ(1, Record()->dsEnabled);
  ASSERT_EQ(0, Scanner("press cancel"));
  EXPECT_EQ("3", ScannerQuery("state"));
  EXPECT_EQ(0, Record()->dsEnabled);
  EXPECT_EQ(0, Record()->dsOpen);
}

// A ready notice with no scan of the record waiting has no scan to go to: nothing is
// transferred, nothing marked.
TEST_F(MacScanTest, AReadyNoticeOutsideAScanChangesNothing) {
  TwainGlobals* g = Record();
  TW_CALLBACK cb{};
  cb.RefCon = g;
  long requests = TWAINFramework_CallCount();
  EXPECT_EQ(TWRC_SUCCESS, TWAIN_callback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_XFERREADY, &cb));
  EXPECT_EQ(0, g->transferPending);
  EXPECT_EQ(nullptr, g->imageHandle);
  EXPECT_EQ(requests, TWAINFramework_CallCount());
}

// ------------------------------------------------------------------ the PICT writer

unsigned char* Pascal(const char* s, unsigned char* out) {
  out[0] = static_cast<unsigned char>(std::strlen(s));
  std::memcpy(out + 1, s, out[0]);
  return out;
}

TEST_F(MacScanTest, PictWriterResults) {
  unsigned char name[64];
  Handle empty = NewHandle(0);
  std::remove("w.pict");
  EXPECT_EQ(0, WritePICTfile(Pascal("w.pict", name), empty));
  std::vector<unsigned char> b = ReadBytes("w.pict");
  EXPECT_EQ(std::vector<unsigned char>(512, 0), b) << "a 0-byte picture gives 512 zeros";
  EXPECT_EQ(7, WritePICTfile(name, empty)) << "never replaced";

  Handle pic = NewHandle(1000);
  std::memset(*pic, 0xAB, 1000);
  std::remove("w.pict");
  // Every failure after the file was created answers 8 and leaves no file behind (a disk
  // that is full, a close that fails), so that the next try can create it again.
  struct Failure {
    int call;
    long n;
    OSErr err;
  };
  for (Failure f : {Failure{kCarbonStandinFSWrite, 3, dskFulErr}, Failure{kCarbonStandinFSWrite, 1, ioErr},
                    Failure{kCarbonStandinSetEOF, 1, dskFulErr}, Failure{kCarbonStandinFSClose, 1, dskFulErr},
                    Failure{kCarbonStandinHOpen, 1, fnOpnErr}}) {
    CarbonStandin_FailFileCall(f.call, f.n, f.err);
    EXPECT_EQ(8, WritePICTfile(name, pic)) << "call " << f.call;
    EXPECT_EQ(0, CarbonStandin_OpenFiles());
    EXPECT_FALSE(Exists("w.pict")) << "call " << f.call << " left a partial file";
    CarbonStandin_FailFileCall(f.call, 0, noErr);
  }
  EXPECT_EQ(0, WritePICTfile(name, pic));
  b = ReadBytes("w.pict");
  ASSERT_EQ(1512u, b.size());
  EXPECT_EQ(0xAB, b[512]);
  EXPECT_EQ(0xAB, b[1511]);
  EXPECT_EQ(0, HGetState(pic) & 0x80) << "the handle's lock state is put back";
  DisposeHandle(pic);
  DisposeHandle(empty);
  std::remove("w.pict");
}

}  // namespace
}  // namespace kvtest
#endif
