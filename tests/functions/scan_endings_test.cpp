// Every way a source or a host ends a scan, on both builds: a source that runs modally
// whatever it was asked, one that answers its notices through the event, a failed event
// request, a cancelled transfer and a refused end of transfer; and hosts that construct,
// destroy, choose a source or call from another window while a scan waits.
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "tests/support/fixture.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
#else
#include <CarbonStandin.h>
#include <TWAIN/TWAINFrameworkStandin.h>
#include <dlfcn.h>
#endif

namespace kvtest {
namespace {

const char* const kPage = kWindowsBuild ? "ending.bmp" : "ending.pict";
const char* const kSecond = kWindowsBuild ? "ending2.bmp" : "ending2.pict";

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

std::string ScanFile(const char* name, int showUI) {
  return std::string("Twain.ScanToFile(\"") + name + "\", " + std::to_string(showUI) + ")";
}

// ------------------------------------------------------------------ host code run inside a scan
//
// Runs `action` once from inside the wait of the next scan, as host code that the scan's
// event loop dispatches. Mac: a keyboard event whose handler runs the action, with the
// interface shown and a user who presses Scan once the host's event was handled. Windows: a
// message posted to the host window, whose own procedure (under the scan's routing) runs it.
class DuringScan {
 public:
  DuringScan(velmar::Host* host, std::function<void()> action) : action_(std::move(action)) {
#if KV_WINDOWS_BUILD
    window_ = static_cast<HWND>(host->Window());
    message_ = RegisterWindowMessageA("Kardivelle test: run inside the scan");
    current_ = this;
    hostProc_ =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    PostMessageA(window_, message_, 0, 0);
#else
    (void)host;
    CarbonStandin_SetDispatcherHandler(&Handler, this);
    CarbonStandin_ScheduleEvent(CarbonStandin_Now(), kEventClassKeyboard, 1);
    Scanner("user none");
    CarbonStandin_SetIdleHook(&PressScanAfterTheAction, this);
#endif
  }
  ~DuringScan() {
#if KV_WINDOWS_BUILD
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hostProc_));
    current_ = nullptr;
#else
    CarbonStandin_SetDispatcherHandler(nullptr, nullptr);
    CarbonStandin_SetIdleHook(nullptr, nullptr);
#endif
  }
  bool Ran() const { return ran_; }
  // The interface flag the scan is made with: the Mac's user acts through it.
  static int ShowUI() { return kWindowsBuild ? 0 : 1; }

 private:
  void Run() {
    if (ran_) return;
    ran_ = true;
    action_();
  }
#if KV_WINDOWS_BUILD
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (current_ && msg == current_->message_) {
      current_->Run();
      return 0;
    }
    return CallWindowProcA(current_ ? current_->hostProc_ : DefWindowProcA, w, msg, wp, lp);
  }
  static DuringScan* current_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  WNDPROC hostProc_ = nullptr;
#else
  static OSStatus Handler(EventRef, void* ctx) {
    static_cast<DuringScan*>(ctx)->Run();
    return noErr;
  }
  static void PressScanAfterTheAction(void* ctx) {
    DuringScan* self = static_cast<DuringScan*>(ctx);
    if (self->ran_ && !self->pressed_) self->pressed_ = Scanner("press scan") == 0;
  }
  bool pressed_ = false;
#endif
  std::function<void()> action_;
  bool ran_ = false;
};
#if KV_WINDOWS_BUILD
DuringScan* DuringScan::current_ = nullptr;
#endif

class ScanEndingTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
#if !KV_WINDOWS_BUILD
    CarbonStandin_UseVirtualClock(true);
#endif
    std::remove(kPage);
    std::remove(kSecond);
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  void TearDown() override {
    std::remove(kPage);
    std::remove(kSecond);
    ExtensionTest::TearDown();
  }
  // The source is closed again and the record says so.
  void ExpectClosed(const std::string& what) {
    EXPECT_EQ("3", ScannerQuery("state")) << what;
    if (TwainGlobals* g = Record()) {
      EXPECT_EQ(0, g->dsEnabled) << what;
      EXPECT_EQ(0, g->dsOpen) << what;
    }
  }
  // The next Disconnect, Connect and scan work as on a fresh instance.
  void ExpectUsable(const std::string& what) {
    Scanner("reset");
    EXPECT_EQ("0", Call("Twain.Disconnect()")) << what;
    EXPECT_EQ("0", Call("Twain.Connect()")) << what;
    std::remove(kSecond);
    EXPECT_EQ("0", Call(ScanFile(kSecond, 0))) << what;
    EXPECT_TRUE(Exists(kSecond)) << what;
    ExpectClosed(what + ", next scan");
  }
};

// ------------------------------------------------------------------ what the source says

// A source that runs modally whatever it was asked delivers its page without the interface;
// nothing the scan leaves behind changes the next scan, with the interface or without.
TEST_F(ScanEndingTest, AModalSourceWithoutItsInterfaceDeliversItsPage) {
  ASSERT_EQ(0, Scanner("modal set"));
  EXPECT_EQ("0", Call(ScanFile(kPage, 0)));
  EXPECT_TRUE(Exists(kPage)) << "no page from a modal source";
  ExpectClosed("modal scan");
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture, 0)"));
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
  ASSERT_EQ(0, Scanner("modal clear"));
  EXPECT_EQ("0", Call(ScanFile(kSecond, 1)));
  EXPECT_TRUE(Exists(kSecond)) << "the scan after a modal one lost its page";
  ExpectClosed("scan after the modal one");
}

// The source hands its notice out as the answer to an event instead of sending it: the page
// is collected, whatever the mode and the interface.
TEST_F(ScanEndingTest, ANoticeAnsweredThroughTheEventIsCollected) {
  ASSERT_EQ(0, Scanner("notices message"));
  for (const char* modal : {"clear", "set"}) {
    for (int showUI : {0, 1}) {
      std::string what = std::string("modal ") + modal + ", interface " + std::to_string(showUI);
      ASSERT_EQ(0, Scanner(std::string("modal ") + modal));
      std::remove(kPage);
      EXPECT_EQ("0", Call(ScanFile(kPage, showUI))) << what;
      EXPECT_TRUE(Exists(kPage)) << what;
      ExpectClosed(what);
    }
  }
}

// One failed event request ends the scan with its translated code and the source closed,
// in every wait: modeless and modal.
TEST_F(ScanEndingTest, AFailedEventRequestEndsTheScanWithItsCode) {
  for (const char* modal : {"clear", "set"}) {
    std::string what = std::string("modal ") + modal;
    ASSERT_EQ(0, Scanner(std::string("modal ") + modal));
    ASSERT_EQ(0, Scanner("fail 1 2 0x601 1 5"));  // MSG_PROCESSEVENT: operation error
    std::remove(kPage);
    EXPECT_EQ("13", Call(ScanFile(kPage, 0))) << what;
    EXPECT_FALSE(Exists(kPage)) << what;
    ExpectClosed(what);
    Scanner("reset");
    EXPECT_EQ("0", Call(ScanFile(kPage, 0))) << what << ": the next scan";
    EXPECT_TRUE(Exists(kPage)) << what;
  }
}

// ------------------------------------------------------------------ how a transfer ends

// A transfer the source cancels leaves it inside the transfer: it is ended, the scan answers
// 5 and the source is closed; Disconnect, Connect and the next scan work.
TEST_F(ScanEndingTest, ACancelledTransferIsEndedAndAnswers5) {
  struct Case {
    std::string call;
    const char* file;
  };
  for (const Case& c :
       {Case{ScanFile(kPage, 0), kPage}, Case{"Twain.ScanToFile(\"ending.png\", 0, 7)", nullptr},
        Case{"Twain.ScanToField($p:picture, 1)", nullptr}}) {
    ASSERT_EQ(0, Scanner("cancel-transfer"));
    EXPECT_EQ("5", Call(c.call)) << c.call;
    if (c.file) {
      EXPECT_FALSE(Exists(c.file)) << c.call;
    }
    ExpectClosed(c.call);
    ExpectUsable(c.call);
  }
  std::remove("ending.png");
}

// A refused MSG_ENDXFER is the scan's answer; the transfer is still ended and the source
// closed like on every other way out.
TEST_F(ScanEndingTest, ARefusedEndOfTransferStillClosesTheSource) {
  ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));  // MSG_ENDXFER: general failure
  EXPECT_EQ("3001", Call(ScanFile(kPage, 0)));
  EXPECT_FALSE(Exists(kPage));
  ExpectClosed("refused end of transfer");
  ExpectUsable("refused end of transfer");
}

// A source refuses MSG_ENDXFER twice: the first end of the transfer and the scan's close.
// The source is left inside its transfer, and every later close ends it once more: after the
// faults stop, Disconnect, Connect and a scan work. Reset with a source it cannot close
// leaves the manager open behind it.
TEST_F(ScanEndingTest, ATransferLeftOpenIsEndedByEveryLaterClose) {
  for (int i = 0; i < 2; ++i) ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));
  EXPECT_EQ("3001", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("3", ScannerQuery("state"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
  ExpectClosed("after the refused ends");

  // Three refusals: the scan's two, and Reset's close.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, Scanner("fail 1 5 0x701 1 1"));
  EXPECT_EQ("3001", Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("(nothing)", Call("Twain.Reset()"));
  EXPECT_EQ(1, Record()->dsmOpen) << "Reset closed the manager behind a source it could not close";
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("3", ScannerQuery("state"));
  ExpectUsable("Reset with a source inside its transfer");
}

// TWRC_CHECKSTATUS from MSG_ENABLEDS: the source could not honour the interface flag and is
// enabled all the same. The scan goes on and ends like any other.
TEST_F(ScanEndingTest, CheckStatusFromTheEnableMeansEnabled) {
  for (int showUI : {0, 1}) {
    std::string what = "interface " + std::to_string(showUI);
    ASSERT_EQ(0, Scanner("answer 1 9 0x502 2"));
    std::remove(kPage);
    EXPECT_EQ("0", Call(ScanFile(kPage, showUI))) << what;
    EXPECT_TRUE(Exists(kPage)) << what;
    ExpectClosed(what);
    ExpectUsable(what);
  }
}

// No 0 without a page: a scan that ends without one answers 5, whatever ended it.
TEST_F(ScanEndingTest, AScanEndingWithoutAPageAnswers5) {
  struct Case {
    const char* scanner;
    int showUI;
  };
  std::vector<Case> cases = {{"user cancel", 1}, {"closereq-instead", 0}};
  // The Mac's wait without the interface ends after five quiet seconds.
  if (!kWindowsBuild) cases.push_back({"notice-delay 6000", 0});
  for (const Case& c : cases) {
    ASSERT_EQ(0, Scanner(c.scanner));
    std::remove(kPage);
    EXPECT_EQ("5", Call(ScanFile(kPage, c.showUI))) << c.scanner;
    EXPECT_FALSE(Exists(kPage)) << c.scanner;
#if !KV_WINDOWS_BUILD
    // The wake-up that the delayed page had asked for is dropped with the rest of the queue.
    CarbonStandin_ResetEvents();
    CarbonStandin_UseVirtualClock(true);
#endif
    ASSERT_EQ(0, Scanner(c.scanner));
    if (kWindowsBuild) {
      ASSERT_EQ("0", Call("Twain.Connect()"));  // the close request took the manager too
    }
    EXPECT_EQ("5", Call("Twain.ScanToField($p:picture, " + std::to_string(c.showUI) + ")")) << c.scanner;
    EXPECT_EQ("picture (none)", host->Variable("p").Display()) << c.scanner;
    ExpectUsable(c.scanner);
  }
}

// A page announced some time after the enable, within the Mac's five seconds, is collected.
TEST_F(ScanEndingTest, APageAnnouncedLaterIsCollected) {
  ASSERT_EQ(0, Scanner(kWindowsBuild ? "notice-delay 300" : "notice-delay 4000"));
  EXPECT_EQ("0", Call(ScanFile(kPage, 0)));
  EXPECT_TRUE(Exists(kPage));
  ExpectClosed("a late page");
}

// READYWAIT sets the Mac's wait for a silent source: a lamp that warms up for six seconds
// delivers its page within a wait of seven, and a wait of one second ends before a page that
// comes after one and a half (5). Windows waits for the source however long it takes.
TEST_F(ScanEndingTest, ReadyWaitIsHowLongASilentSourceIsWaitedFor) {
  ASSERT_EQ("0", Call("Twain.SetOption(\"READYWAIT\", 7)"));
  ASSERT_EQ(0, Scanner(kWindowsBuild ? "notice-delay 300" : "notice-delay 6000"));
  EXPECT_EQ("0", Call(ScanFile(kPage, 0)));
  EXPECT_TRUE(Exists(kPage));
  ExpectClosed("a page after six seconds");
  std::remove(kPage);
  ASSERT_EQ("0", Call("Twain.SetOption(\"READYWAIT\", 1)"));
  ASSERT_EQ(0, Scanner("notice-delay 1500"));
  EXPECT_EQ(kWindowsBuild ? "0" : "5", Call(ScanFile(kPage, 0)));
  EXPECT_EQ(kWindowsBuild, Exists(kPage));
  ExpectClosed("a wait of one second");
#if !KV_WINDOWS_BUILD
  CarbonStandin_ResetEvents();  // the late page's wake-up
  CarbonStandin_UseVirtualClock(true);
#endif
  ASSERT_EQ(0, Scanner("notice-delay 0"));
  ExpectUsable("after the wait");
}

// A failure is never answered with 0, and every answer is positive: a failure whose
// condition code is TWCC_SUCCESS answers 2001, a source's own condition code 3999, its own
// return code 2999; nothing was done, and the next calls work.
TEST_F(ScanEndingTest, FailuresAnswerPositiveDistinctCodes) {
  struct Case {
    const char* fault;
    std::string call;
    const char* answer;
    bool closes = true;  // the call ends with the source closed (a refused enable leaves it open)
  };
  const Case cases[] = {
      {"fail 2 0x101 1 1 0", ScanFile(kPage, 0), "2001"},                        // DAT_IMAGEINFO
      {"fail 1 9 0x502 1 0", ScanFile(kPage, 0), "2001", false},                 // MSG_ENABLEDS
      {"fail 2 0x105 1 1 0", "Twain.ScanToFile(\"ending.png\", 0, 7)", "2001"},  // DAT_IMAGEFILEXFER
      {"fail 2 0x104 1 1 0", "Twain.ScanToField($p:picture)", "2001"},           // DAT_IMAGENATIVEXFER
      {"fail 2 0x101 1 1 0x8001", ScanFile(kPage, 0), "3999"},
      {"fail 2 0x101 1 0x8000 0", ScanFile(kPage, 0), "2999"},
      {"fail 1 1 6 1 0", "Twain.SetSourceCapability(\"XRESOLUTION\", 150)", "2001", false},  // MSG_SET
  };
  for (const Case& c : cases) {
    ASSERT_EQ(0, Scanner(c.fault));
    std::remove(kPage);
    std::remove("ending.png");
    EXPECT_EQ(c.answer, Call(c.call)) << c.fault;
    EXPECT_FALSE(Exists(kPage)) << c.fault;
    EXPECT_FALSE(Exists("ending.png")) << c.fault;
    if (c.call.find("$p") != std::string::npos) {
      EXPECT_EQ("picture (none)", host->Variable("p").Display()) << c.fault;
    }
    if (c.closes) ExpectClosed(c.fault);
    ExpectUsable(c.fault);
    EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)")) << c.fault;
    EXPECT_EQ("100", host->Variable("r").Display()) << c.fault << ": the value was set";
  }
}

// ------------------------------------------------------------------ the host, while a scan waits

// Message 0 with an empty slot gets a record of its own; message 0 for the scanning slot
// changes nothing. The scan delivers its page and TWAIN stays usable.
TEST_F(ScanEndingTest, ConstructionDuringAScanLeavesTheScanningRecordAlone) {
  TwainGlobals* scanning = Record();
  int other = host->AddInstance();
  TwainGlobals* otherRecord = nullptr;
  DuringScan during(host.get(), [&] {
    host->Construct();  // the scanning slot again
    host->UseInstance(other);
    host->Construct();
    otherRecord = Record();
    host->UseInstance(0);
  });
  // (The call makes a record: host->Call, not the block-counting Call.)
  EXPECT_EQ("0", host->Call(ScanFile(kPage, DuringScan::ShowUI())).result.Display());
  ASSERT_TRUE(during.Ran());
  EXPECT_TRUE(Exists(kPage)) << "the scan lost its page";
  EXPECT_EQ(scanning, Record());
  ASSERT_NE(nullptr, otherRecord);
  EXPECT_NE(scanning, otherRecord);
  ExpectClosed("construction during the scan");
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
  ExpectUsable("construction during the scan");
  host->UseInstance(other);
  host->Destruct();
  EXPECT_EQ(nullptr, host->Slot());
  host->UseInstance(0);
  EXPECT_NE(nullptr, Record()) << "destroying the other record took the scanning one";
}

// Message 2 for the scanning instance: the host's slot is emptied at once, the record is
// closed and freed when its scan returns.
TEST_F(ScanEndingTest, DestructionDuringItsOwnScanIsDoneWhenTheScanReturns) {
  TwainGlobals* scanning = Record();
  DuringScan during(host.get(), [&] {
    host->Destruct();
    EXPECT_EQ(nullptr, host->Slot());
  });
  velmar::CallResult r = host->Call(ScanFile(kPage, DuringScan::ShowUI()));
  ASSERT_TRUE(during.Ran());
  EXPECT_EQ("0", r.result.Display());
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ(nullptr, LiveRecord(scanning)) << "the record outlived its scan";
  EXPECT_EQ("3", ScannerQuery("state"));
#if !KV_WINDOWS_BUILD
  EXPECT_EQ(0, TWAINFramework_OpenApplications()) << "the DSM stayed open";
  EXPECT_EQ(nullptr, host->Atom(kAtomName));
#endif
  host->Construct();
  ASSERT_NE(nullptr, Record());
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call(ScanFile(kSecond, 0)));
}

// A call from another host window during the scan is turned away and changes nothing: when
// that window is gone before the scan ends, the page still reaches its field.
TEST_F(ScanEndingTest, ANestedCallFromAnotherWindowLeavesTheScansWindow) {
  auto other = std::make_unique<velmar::Host>(Entry(), CatalogueStrings());
  other->Construct();
  std::string nested;
  DuringScan during(host.get(), [&] {
    nested = other->Call("Twain.Connect()").result.Display();
    other->Destruct();
    other.reset();  // its window goes with it
  });
  // (The call frees the other record: host->Call, not the block-counting Call.)
  EXPECT_EQ("0", host->Call("Twain.ScanToField($p:picture, " + std::to_string(DuringScan::ShowUI()) + ")")
                     .result.Display());
  ASSERT_TRUE(during.Ran());
  EXPECT_EQ("14", nested);
  EXPECT_EQ("picture 850x1100", host->Variable("p").Display());
}

// ------------------------------------------------------------------ the connection

// Choosing a source while one is open: the open one stays addressed, Disconnect closes it,
// and the choice applies the next time a source is opened.
TEST_F(ScanEndingTest, ChoosingASourceWhileOneIsOpenAppliesToTheNextOpen) {
  ASSERT_EQ("4", ScannerQuery("state"));
  std::string error;
  ASSERT_TRUE(velmar::ArrangeSelection(*host, VirtualScannerChoice(), &error)) << error;
  EXPECT_EQ("0", Call("Twain.SelectDataSource()"));
  velmar::EndSelection();
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("3", ScannerQuery("state"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("4", ScannerQuery("state"));
  EXPECT_TRUE(Record()->sourceSelected);
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
  EXPECT_EQ("0", Call(ScanFile(kPage, 0)));
  EXPECT_TRUE(Exists(kPage));
}

#if !KV_WINDOWS_BUILD
// The Mac DSM lists the same scanner twice (registered first, then from its folder): the
// choice of the second while the first is open names another source than the open one.
TEST_F(ScanEndingTest, ChoosingAnotherSourceWhileOneIsOpenKeepsTheOpenOneAddressed) {
  ASSERT_EQ("0", Call("Twain.Disconnect()"));  // the next first MSG_OPENDSM loads the list again
  void* module = dlopen(KV_OUT_DIR "/lib/TWAIN Data Sources/VirtualScanner.ds", RTLD_NOW);
  ASSERT_NE(nullptr, module);
  TWAINFramework_RegisterSource(reinterpret_cast<DSENTRYPROC>(dlsym(module, "DS_Entry")));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  TW_UINT32 open = Record()->sourceIdentity.Id;
  TWAINFramework_SetSelectionUser(1);
  EXPECT_EQ("0", Call("Twain.SelectDataSource()"));
  EXPECT_EQ(open, Record()->sourceIdentity.Id) << "the open source is no longer addressed";
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ(0, TWAINFramework_OpenSources());
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_NE(open, Record()->sourceIdentity.Id) << "the choice did not apply at the next open";
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  dlclose(module);
}
#endif

// A source that refuses to be disabled and closed keeps the DSM holding it: the record keeps
// saying so, a second Disconnect closes it, and the next Connect works.
TEST_F(ScanEndingTest, ARefusedCloseLeavesTheFlagsTrue) {
  // Left enabled by a scan whose close it refused twice.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(0, Scanner("fail 1 9 0x501 1 1"));  // MSG_DISABLEDS
  EXPECT_EQ("0", Call(ScanFile(kPage, 0)));
  EXPECT_NE("0", Call("Twain.Disconnect()"));
  std::string state = ScannerQuery("state");
  TwainGlobals* g = Record();
  EXPECT_EQ(state != "3", g->dsOpen != 0) << "source state " << state;
  EXPECT_EQ(state >= "5", g->dsEnabled != 0) << "source state " << state;
  EXPECT_EQ(1, g->dsmOpen) << "the DSM still holds the source";
  Scanner("reset");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("3", ScannerQuery("state"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $r)"));
}

// A source refuses its close once, at the end of a batch (under Wine the DSM lets it go all
// the same): the next scan, a Disconnect or a Reset closes it again, and TWAIN works after.
TEST_F(ScanEndingTest, ARefusedCloseIsTriedAgainByTheNextCalls) {
  struct Case {
    std::vector<std::string> calls;  // after the batch
    std::vector<std::string> answers;
  };
  const Case cases[] = {
      {{"Twain.ScanPages(\"next.png\", $n, 0, 7)"}, {"0"}},
      {{"Twain.Disconnect()", "Twain.Connect()"}, {"0", "0"}},
      {{"Twain.Disconnect()", "Twain.Disconnect()", "Twain.Connect()"}, {"0", "0", "0"}},
      {{"Twain.Reset()"}, {"(nothing)"}},
  };
  for (const Case& c : cases) {
    const std::string what = c.calls.front();
    ASSERT_EQ(0, Scanner("pages 2"));
    ASSERT_EQ(0, Scanner("fail 1 3 0x402 1 1"));  // MSG_CLOSEDS: general failure
    EXPECT_EQ("0", Call("Twain.ScanPages(\"batch.png\", $n, 0, 7)")) << what;
    for (size_t i = 0; i < c.calls.size(); ++i) EXPECT_EQ(c.answers[i], Call(c.calls[i])) << what;
    EXPECT_EQ("0", Call(ScanFile(kSecond, 0))) << what << ": the scan after";
    EXPECT_TRUE(Exists(kSecond)) << what;
    ExpectClosed(what);
    for (const char* name : {"batch-0001.png", "batch-0002.png", "next-0001.png", "next-0002.png", kSecond})
      std::remove(name);
    Scanner("reset");
  }
}

#if !KV_WINDOWS_BUILD
// A notice sent after message 2 freed the record (the source refused to be disabled, so the
// DSM kept its callback): nothing reads the freed record and nothing changes.
TEST_F(ScanEndingTest, ANoticeForADestroyedRecordChangesNothing) {
  for (int i = 0; i < 2; ++i) ASSERT_EQ(0, Scanner("fail 1 9 0x501 1 1"));  // MSG_DISABLEDS
  EXPECT_EQ("0", Call(ScanFile(kPage, 1)));
  ASSERT_EQ("5", ScannerQuery("state")) << "the source took its disable";
  host->Destruct();
  ASSERT_EQ(nullptr, host->Slot());
  long callbacks = TWAINFramework_CallbacksDelivered();
  long requests = TWAINFramework_CallCount();
  ASSERT_EQ(0, Scanner("press cancel"));
  EXPECT_EQ(callbacks + 1, TWAINFramework_CallbacksDelivered());
  EXPECT_EQ(requests, TWAINFramework_CallCount()) << "a freed record made requests";
  EXPECT_EQ("5", ScannerQuery("state"));
  // The harness closes what the freed record left behind.
  TWAINFramework_Reset();
  host->Construct();
}
#endif

}  // namespace
}  // namespace kvtest
