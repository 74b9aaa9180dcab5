// The Windows build's fault matrix: every request of every host function that reaches the
// virtual scanner is made to fail once there (the scanner's "fail" command), with the cases
// every matrix injects (matrix_common.h), under the suite's manager (Wine's TWAIN_32.DLL or
// the TWAIN 2 manager). The manager answers MSG_OPENDSM, MSG_CLOSEDSM and MSG_USERSELECT
// itself and is not told to fail here (the manager-level matrices do that). For each case:
// the call's result is the translated failure (exceptions listed in Expected), no image is
// left behind, the record's flags agree with the scanner's state, no GDI object is left
// behind, and a clean Connect and native scan in the same instance work afterwards.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>

#include "tests/faults/matrix_common.h"
#include "tests/faults/matrix_report.h"
#include "tests/support/fixture.h"
#include "twain/dsm_platform.h"

namespace kvtest {
namespace {

struct Step {
  const char* name;
  Kind kind;
  bool connectFirst;
  std::string call;
  const char* file;
  std::vector<Request> requests;  // the source requests the call sends, each failed once
  const char* scanner = nullptr;  // how the source behaves (a control command), if not as by default
};

// Names of this process's own (other runs of the program may share the directory).
std::string Unique(const char* base, const char* ext) {
  return std::string(base) + std::to_string(GetCurrentProcessId()) + ext;
}
const std::string kNativeName = Unique("fmw", ".bmp");
const std::string kPngName = Unique("fmw", ".png");
const char* const kNative = kNativeName.c_str();

// The source requests of a scan with the source open. A capability request matches its first
// occurrence: the pixel flavour read that every scan starts with, and for MSG_SET setting the
// transfer mechanism (native, or file in a file scan).
std::vector<Request> ScanRequests(bool file) {
  std::vector<Request> r = {{DG_CONTROL, DAT_CAPABILITY, MSG_GET},
                            {DG_CONTROL, DAT_CAPABILITY, MSG_SET},
                            {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
                            {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT},
                            {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
                            {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET}};
  if (file) {
    r.push_back({DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET});
    r.push_back({DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET});
  } else {
    r.push_back({DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET});
  }
  r.insert(r.end(), {{DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER},
                     {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET},
                     {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS},
                     {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS}});
  return r;
}
std::vector<Request> NativeScanRequests() { return ScanRequests(false); }
std::vector<Request> FileScanRequests() { return ScanRequests(true); }

std::vector<Step> Steps() {
  std::string native = std::string("\"") + kNative + "\"";
  return {
      {"Connect", Kind::Connect, false, "Twain.Connect()", nullptr, {{DG_CONTROL, DAT_IDENTITY, MSG_OPENDS}}},
      {"GetSourceCapability",
       Kind::Capability,
       true,
       "Twain.GetSourceCapability(\"XRESOLUTION\", $v)",
       nullptr,
       {{DG_CONTROL, DAT_CAPABILITY, MSG_GET}}},
      {"GetSourceCapRange",
       Kind::Capability,
       true,
       "Twain.GetSourceCapRange(\"PIXELTYPE\", $v)",
       nullptr,
       {{DG_CONTROL, DAT_CAPABILITY, MSG_GET}}},
      {"SetSourceCapability",
       Kind::Capability,
       true,
       "Twain.SetSourceCapability(\"XRESOLUTION\", 150)",
       nullptr,
       {{DG_CONTROL, DAT_CAPABILITY, MSG_GET}, {DG_CONTROL, DAT_CAPABILITY, MSG_SET}}},
      {"ScanToFile native", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 0)", kNative,
       NativeScanRequests()},
      {"ScanToFile PNG", Kind::ScanFile, true, "Twain.ScanToFile(\"" + kPngName + "\", 0, 7)", kPngName.c_str(),
       FileScanRequests()},
      {"ScanToField", Kind::ScanField, true, "Twain.ScanToField($p:picture, 0)", nullptr, NativeScanRequests()},
      // A source that runs modally whatever it was asked, with and without its interface.
      {"ScanToFile native modal", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 0)", kNative,
       NativeScanRequests(), "modal set"},
      {"ScanToFile native modal UI", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 1)", kNative,
       NativeScanRequests(), "modal set"},
      {"ScanToField modal", Kind::ScanField, true, "Twain.ScanToField($p:picture, 0)", nullptr,
       NativeScanRequests(), "modal set"},
      {"Disconnect",
       Kind::Disconnect,
       true,
       "Twain.Disconnect()",
       nullptr,
       {{DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS}}},
  };
}

int Expected(const Step& step, const Request& r, const Fault& f) {
  int t = Translated(f);
  // The TWAIN 2 manager passes a refused MSG_OPENDS on with the source's own condition, and
  // keeps a source that refused its close open, where it still answers why.
  const bool keeps = UnderTwain2Manager();
  if (keeps && Is(r, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS)) return t;
  // Wine's DSM answers a source's refused MSG_OPENDS as its own failure, whatever the source
  // gave, with TWCC_OPERATIONERROR (13); the source's own condition, asked of the source
  // itself, is the answer when it has one (not for another return code, whose condition is
  // TWCC_SUCCESS).
  if (Is(r, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS))
    return f.rc == TWRC_FAILURE && f.cc != TWCC_SUCCESS && f.cc != TWCC_OPERATIONERROR ? t : 13;
  // A refused close: Wine's DSM has already let the source go, and the status request that
  // would say why fails (its own return code is the result).
  // A refused close without a reason of the source's own: the manager's (operation error).
  if (keeps && step.kind == Kind::Disconnect && Is(r, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS) &&
      f.rc == TWRC_FAILURE && f.cc == TWCC_SUCCESS && !f.statusFails)
    return 13;
  if (!keeps && step.kind == Kind::Disconnect && Is(r, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS) &&
      f.rc == TWRC_FAILURE)
    return 1;
  if (IsScan(step.kind)) {
    // Once the image is taken and ended, closing the source again does not spoil the scan.
    if (Is(r, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET) || Is(r, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS) ||
        Is(r, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS))
      return 0;
    // MSG_ENDXFER: only TWRC_FAILURE counts.
    if (Is(r, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER) && f.rc != TWRC_FAILURE) return 0;
    // Asking for the native mechanism: a refusal is no reason to stop.
    if (step.kind != Kind::ScanFile && Is(r, DG_CONTROL, DAT_CAPABILITY, MSG_SET)) return 0;
    // A file transfer's failed operation is the file's write.
    if (Is(r, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET) && t == 13) return 8;
  }
  return t;
}

class WindowsFaultMatrix : public MatrixTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    if (const char* manager = Manager()) {
      ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"DSM\", \"") + manager + "\")"));
    }
    // One warm-up scan: what the first scan of a process creates once stays.
    ASSERT_EQ("0", Call("Twain.Connect()"));
    std::remove(kNative);
    ASSERT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNative + "\", 0)"));
    std::remove(kNative);
    Fresh();
  }
  void TearDown() override {
    Scanner("reset");
    EndTransferLeftOpen(host ? Record() : nullptr);
    ExtensionTest::TearDown();
  }

  void Fresh() {
    Scanner("reset");
    DropInstance();
    NewInstance();
  }

  // Wine's DSM forgets a source whose close it passed on, even when the source refused it,
  // and unloads it; this test program holds the scanner loaded itself (its control
  // interface), so the harness ends by hand what no DSM can reach any more.
  void CloseSourceTheDsmForgot() {
    TwainGlobals* g = Record();
    if (!g || ScannerQuery("state") == "3") return;
    TW_STATUS probe{};
    if (platform::DsmEntryResolved() && platform::DsmEntry() &&
        platform::DsmEntry()(&g->appIdentity, &g->sourceIdentity, DG_CONTROL, DAT_STATUS, MSG_GET, &probe) ==
            TWRC_SUCCESS)
      return;
    using DsEntry = TW_UINT16(WINAPI*)(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
    auto entry = reinterpret_cast<DsEntry>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("sane.ds"), "DS_Entry")));
    ASSERT_NE(nullptr, entry);
    for (int i = 0; i < 6 && ScannerQuery("state") != "3"; ++i) {
      std::string state = ScannerQuery("state");
      TW_PENDINGXFERS pending{};
      TW_USERINTERFACE ui{};
      if (state == "7") {
        entry(&g->appIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
      } else if (state == "6") {
        entry(&g->appIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
      } else if (state == "5") {
        entry(&g->appIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      } else {
        entry(&g->appIdentity, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &g->sourceIdentity);
      }
    }
  }

  void ExpectFlagsTrue(const std::string& what) {
    TwainGlobals* g = Record();
    ASSERT_NE(nullptr, g) << what;
    std::string state = ScannerQuery("state");
    EXPECT_EQ(state != "3", g->dsOpen != 0) << what << ": dsOpen (source state " << state << ")";
    EXPECT_EQ(state >= "5", g->dsEnabled != 0) << what << ": dsEnabled (source state " << state << ")";
    EXPECT_EQ(nullptr, g->imageHandle) << what;
  }

  // A request that did its work and answered otherwise: the call answers a positive code, or
  // 0 with its effect there.
  void ExpectNoZeroWithoutEffect(const Step& step, const std::string& got, const std::string& what) {
    if (got != "0") {
      EXPECT_GT(std::atoi(got.c_str()), 0) << what << ": " << got;
      return;
    }
    if (ExpectEffectOfZero(step.kind, step.call, step.file, *host, what)) return;
    if (step.kind == Kind::Connect) {
      EXPECT_TRUE(Record()->dsOpen) << what << ": 0 without an open source";
    } else if (step.kind == Kind::Disconnect) {
      EXPECT_EQ("3", ScannerQuery("state")) << what << ": 0 with the source open";
    }
  }

  void ExpectRecovery(const std::string& what) {
    Scanner("reset");
    std::remove(kNative);
    if (std::getenv("KV_MATRIX_LIST") && platform::DsmEntryResolved() && platform::DsmEntry()) {
      TwainGlobals* g = Record();
      TW_STATUS st{};
      TW_UINT16 src =
          platform::DsmEntry()(&g->appIdentity, &g->sourceIdentity, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
      TW_STATUS st2{};
      TW_UINT16 dsm = platform::DsmEntry()(&g->appIdentity, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &st2);
      std::fprintf(stderr,
                   "  recovery: state %s dsOpen %d dsEnabled %d dsmOpen %d; status via DSM to source rc %d cc "
                   "%d; DSM rc %d cc %d\n",
                   ScannerQuery("state").c_str(), g->dsOpen, g->dsEnabled, g->dsmOpen, src, st.ConditionCode,
                   dsm, st2.ConditionCode);
    }
    EXPECT_EQ("0", Call("Twain.Connect()")) << what << ": Connect afterwards";
    EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNative + "\", 0)"))
        << what << ": scan afterwards";
    std::remove(kNative);
  }

  void RunStep(const Step& step) {
    bool list = std::getenv("KV_MATRIX_LIST") != nullptr;
    for (const Request& r : step.requests) {
      for (const Fault& f : CommonFaults()) {
        // Both managers take a source's MSG_OPENDS only with TWRC_SUCCESS: with any other
        // answer they report a failure and forget the source it opened, which nothing can reach
        // any more.
        if (f.afterWork && Is(r, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS)) continue;
        std::string what = std::string(step.name) + ", " + Name(r) + " fails with " + Describe(f);
        if (list) std::fprintf(stderr, "case: %s\n", what.c_str());
        int before = FailureCount();
        Fresh();
        if (step.connectFirst) {
          ASSERT_EQ("0", Call("Twain.Connect()")) << what;
        }
        if (step.file) std::remove(step.file);
        if (step.scanner) {
          ASSERT_EQ(0, Scanner(step.scanner)) << what;
        }
        long gdi = GdiObjects();
        std::ostringstream cmd;
        if (f.afterWork) {
          cmd << "answer " << r.dg << " " << r.dat << " " << r.msg << " " << f.rc;
        } else {
          cmd << "fail " << r.dg << " " << r.dat << " " << r.msg << " " << f.rc << " " << f.cc;
        }
        ASSERT_EQ(0, Scanner(cmd.str())) << what;
        std::string got = Call(step.call);
        if (list) std::fprintf(stderr, "  -> %s state %s\n", got.c_str(), ScannerQuery("state").c_str());
        if (f.afterWork) {
          ExpectNoZeroWithoutEffect(step, got, what);
        } else {
          EXPECT_EQ(std::to_string(Expected(step, r, f)), got) << what;
        }
        Scanner("reset");
        if (Is(r, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS)) {
          // The record lets the source go with the DSM: Wine's forgets it whatever the source
          // answered, the TWAIN 2 manager keeps one that did not close.
          const bool kept = UnderTwain2Manager() && !f.afterWork;
          EXPECT_EQ(kept ? 1 : 0, Record()->dsOpen) << what << ": dsOpen as the DSM holds the source";
          if (list) std::fprintf(stderr, "  closing what the DSM forgot\n");
          CloseSourceTheDsmForgot();
          if (list) std::fprintf(stderr, "  closed: state %s\n", ScannerQuery("state").c_str());
        }
        ExpectFlagsTrue(what);
        // A picture the scan stored is the host's copy, not the extension's: it goes first.
        if (int field = host->Fields().FindVariable("p")) host->Fields().Set(field, velmar::Value());
        EXPECT_EQ(gdi, GdiObjects()) << what << ": GDI objects left behind";
        if (step.file) std::remove(step.file);
        ExpectRecovery(what);
        CountInjectedCall(before);
      }
    }
  }
};

TEST_P(WindowsFaultMatrix, EverySourceRequestFailsOnce) {
  const Step step = Steps()[GetParam()];
  SCOPED_TRACE(step.name);
  // A clean run first: the call works as listed.
  {
    if (step.connectFirst) {
      ASSERT_EQ("0", Call("Twain.Connect()"));
    }
    if (step.file) std::remove(step.file);
    if (step.scanner) {
      ASSERT_EQ(0, Scanner(step.scanner));
    }
    ASSERT_EQ("0", Call(step.call)) << step.name << " in a clean run";
    if (step.file) std::remove(step.file);
  }
  RunStep(step);
}

INSTANTIATE_TEST_SUITE_P(Functions, WindowsFaultMatrix, ::testing::Range(0, static_cast<int>(Steps().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return ParamName(Steps()[info.param].name);
                         });

}  // namespace
}  // namespace kvtest
#endif
