// Every DSM request of every host function, made to fail once with every return code: the
// call's result is the translated failure, nothing leaks, no image is left behind, the
// record's flags agree with what the DSM and the source hold, and a clean Connect and scan
// in the same instance work afterwards.
//
// The k-th request of the call (k = 1..n, n counted in a clean run) fails, DSM-level requests
// included: on the Mac build in the TWAIN framework stand-in, on Windows in the
// fault-injecting TWAIN_32.DLL in front of Wine's DSM (the suite's copy beside it runs these
// tests; elsewhere they are skipped). On Windows the event requests of the scan's message
// loop are not counted: fault_matrix_windows_test.cpp fails those at the source.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/faults/injecting_dsm.h"
#include "tests/faults/matrix_common.h"
#include "tests/faults/matrix_report.h"
#include "tests/support/fixture.h"
#include "traits/build_traits.h"
#include "twain/connection.h"
#include "twain/dsm_platform.h"
#include "twain/result_codes.h"

#if !KV_WINDOWS_BUILD
#include <CarbonStandin.h>
#endif

namespace kvtest {
namespace {

// ------------------------------------------------------------------ what is injected

// The cases every matrix injects, then TWRC_FAILURE with every other condition code the
// translation names and one more it does not (TWCC_MAXCONNECTIONS), and a failure whose
// status cannot be read.
std::vector<Fault> Faults() {
  std::vector<Fault> f = CommonFaults();
  for (TW_UINT16 cc : {TWCC_NODS, TWCC_MAXCONNECTIONS, TWCC_OPERATIONERROR, TWCC_BADCAP, TWCC_BADDEST,
                       TWCC_CAPUNSUPPORTED, TWCC_CAPBADOPERATION, TWCC_CAPSEQERROR}) {
    f.push_back({TWRC_FAILURE, cc});
  }
  Fault statusFails{TWRC_FAILURE, TWCC_OPERATIONERROR};
  statusFails.statusFails = true;
  f.push_back(statusFails);
  return f;
}

// ------------------------------------------------------------------ the functions

struct Step {
  const char* name;
  Kind kind;
  bool connectFirst;  // the call is made with the DSM and the source open
  std::string call;
  const char* file;  // what a successful scan writes, removed before each run
  bool showUI;
  const char* scanner = nullptr;  // how the source behaves (a control command), if not as by default
};

const char* const kNative = kWindowsBuild ? "fm.bmp" : "fm.pict";

std::vector<Step> Steps() {
  std::string native = std::string("\"") + kNative + "\"";
  return {
      {"Connect", Kind::Connect, false, "Twain.Connect()", nullptr, false},
      {"SelectDataSource", Kind::Select, false, "Twain.SelectDataSource()", nullptr, false},
      {"GetSourceNames", Kind::Names, false, "Twain.GetSourceNames($v, $w)", nullptr, false},
      {"SelectSource", Kind::Names, false, "Twain.SelectSource(\"Virtual Scanner\")", nullptr, false},
      {"SelectSource connected", Kind::Names, true, "Twain.SelectSource(\"Virtual Scanner\")", nullptr, false},
      {"GetSourceCapability", Kind::Capability, true, "Twain.GetSourceCapability(\"XRESOLUTION\", $v)", nullptr,
       false},
      {"GetSourceCapRange", Kind::Capability, true, "Twain.GetSourceCapRange(\"PIXELTYPE\", $v)", nullptr,
       false},
      {"SetSourceCapability", Kind::Capability, true, "Twain.SetSourceCapability(\"XRESOLUTION\", 150)",
       nullptr, false},
      {"ScanToFile native", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 0)", kNative, false},
      {"ScanToFile native UI", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 1)", kNative, true},
      {"ScanToFile PNG", Kind::ScanFile, true, "Twain.ScanToFile(\"fm.png\", 0, 7)", "fm.png", false},
      {"ScanToFile PNG UI", Kind::ScanFile, true, "Twain.ScanToFile(\"fm.png\", 1, 7)", "fm.png", true},
      {"ScanToField", Kind::ScanField, true, "Twain.ScanToField($p:picture, 0)", nullptr, false},
      {"ScanToField UI", Kind::ScanField, true, "Twain.ScanToField($p:picture, 1)", nullptr, true},
      // A source that runs modally whatever it was asked: the null-event polls.
      {"ScanToFile native modal", Kind::ScanNative, true, "Twain.ScanToFile(" + native + ", 0)", kNative, false,
       "modal set"},
      {"ScanToField modal", Kind::ScanField, true, "Twain.ScanToField($p:picture, 0)", nullptr, false,
       "modal set"},
      {"Reset", Kind::Reset, true, "Twain.Reset()", nullptr, false},
      {"Disconnect", Kind::Disconnect, true, "Twain.Disconnect()", nullptr, false},
  };
}

// The result the failed request gives the call: the translated failure where the path passes
// it up unchanged, and these exceptions where the documented behaviour decides otherwise.
// `imageTaken`: the image was already transferred and ended when the request failed.
// `negotiation`: 1-based position of a capability request among those with which a scan
// settles its transfer mechanism and file format before enabling the source, else 0.
int Expected(const Step& step, const Request& r, const Fault& f, bool imageTaken, int negotiation,
             bool* noResult) {
  *noResult = false;
  int t = Translated(f);
  // Reset writes no result, whatever its steps gave.
  if (step.kind == Kind::Reset) {
    *noResult = true;
    return 0;
  }
  if (IsScan(step.kind)) {
    // Once the image is taken, closing the source again cannot spoil the scan (nor can the
    // status request after the tolerated sequence error of MSG_RESET).
    if (imageTaken &&
        (Is(r, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET) || Is(r, DG_CONTROL, DAT_STATUS, MSG_GET) ||
         Is(r, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS) || Is(r, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS) ||
         Is(r, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT) || Is(r, DG_CONTROL, DAT_CAPABILITY, MSG_GET) ||
         Is(r, DG_CONTROL, DAT_CAPABILITY, MSG_SET)))
      return 0;
    if (negotiation > 0) {
      // A native scan goes on whatever became of asking for native.
      if (step.kind != Kind::ScanFile) return 0;
      return t;
    }
  }
  // A failed status request passes on its own return code.
  if (Is(r, DG_CONTROL, DAT_STATUS, MSG_GET)) return f.rc;
  // TWAIN 2: a refused DAT_CALLBACK2 leaves the notices to DAT_CALLBACK (or DAT_EVENT): the
  // call goes on as if nothing happened.
  if (Is(r, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK) ||
      Is(r, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK))
    return kWindowsBuild ? 0 : t;
  // A manager that answers the first source with "no source" lists none: the names are an
  // empty list, and whole, and no name is among them.
  if (Is(r, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST) && f.rc == TWRC_FAILURE && f.cc == TWCC_NODS &&
      step.kind == Kind::Names)
    return step.call.find("GetSourceNames") != std::string::npos ? 0 : kResultNoSource;
  if (IsScan(step.kind)) {
    // MSG_ENDXFER: only TWRC_FAILURE counts.
    if (Is(r, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER) && f.rc != TWRC_FAILURE) return 0;
    // A file transfer's failed operation is the file's write.
    if (Is(r, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET) && t == 13) return 8;
  }
  return t;
}

// ------------------------------------------------------------------ the run

class FaultMatrix : public MatrixTest {
 protected:
  void SetUp() override {
    std::string why;
    if (!injecting_dsm::Available(&why)) GTEST_SKIP() << why;
    ExtensionTest::SetUp();
    Fresh();
  }
  void TearDown() override {
    if (!host) return;
    ClearFaults();
#if !KV_WINDOWS_BUILD
    CarbonStandin_ResetEvents();
#endif
    ExtensionTest::TearDown();
  }

  // A new instance over a DSM that holds nothing open.
  void Fresh() {
    ClearFaults();
    DropInstance();
    injecting_dsm::Reset();
#if !KV_WINDOWS_BUILD
    CarbonStandin_ResetEvents();
    CarbonStandin_UseVirtualClock(true);
#endif
    NewInstance();
  }

  void ClearFaults() {
    injecting_dsm::FailCall(0, 0, 0);
    injecting_dsm::AnswerCall(0, 0);
    injecting_dsm::FailStatus(false);
  }

  void Arrange(const Step& step) {
    if (step.connectFirst) {
      ASSERT_EQ("0", Call("Twain.Connect()"));
    }
    if (step.kind == Kind::Select) injecting_dsm::ArrangeSelection(*host);
    if (step.file) std::remove(step.file);
    if (step.scanner) {
      ASSERT_EQ(0, Scanner(step.scanner));
    }
  }

  // The record's flags against what the DSM and the source hold.
  void ExpectFlagsTrue(const std::string& what) {
    TwainGlobals* g = Record();
    ASSERT_NE(nullptr, g) << what;
    // Disconnect let the library go. Where nothing else holds it, Wine's DSM and whatever it
    // held open go with it; this program holds it for its log, so it does the unload's work.
    if (kWindowsBuild && !g->dsmBound) injecting_dsm::Reset();
    std::string state = ScannerQuery("state");
    EXPECT_EQ(injecting_dsm::OpenApplications() > 0, g->dsmOpen != 0) << what << ": dsmOpen";
    EXPECT_EQ(injecting_dsm::OpenSources() > 0, g->dsOpen != 0) << what << ": dsOpen";
    EXPECT_EQ(state != "3", g->dsOpen != 0) << what << ": dsOpen (source state " << state << ")";
    EXPECT_EQ(state >= "5", g->dsEnabled != 0) << what << ": dsEnabled (source state " << state << ")";
    EXPECT_EQ(nullptr, g->imageHandle) << what;
  }

  // A request that did its work and answered otherwise: the call answers a positive code, or
  // 0 with its effect there.
  void ExpectNoZeroWithoutEffect(const Step& step, const std::string& got, const std::string& what) {
    if (step.kind == Kind::Reset) {
      EXPECT_EQ("(nothing)", got) << what;
      return;
    }
    if (got != "0") {
      EXPECT_GT(std::atoi(got.c_str()), 0) << what << ": " << got;
      return;
    }
    if (ExpectEffectOfZero(step.kind, step.call, step.file, *host, what)) return;
    TwainGlobals* g = Record();
    switch (step.kind) {
      case Kind::Connect:
        EXPECT_TRUE(g->dsOpen) << what << ": 0 without an open source";
        break;
      case Kind::Select:
        EXPECT_NE(nullptr, NextSourceChoice(g)) << what << ": 0 without a choice";
        break;
      case Kind::Names:
        if (step.call.find("GetSourceNames") != std::string::npos) {
          EXPECT_NE("", host->Variable("v").Display()) << what << ": 0 without the names";
        } else {
          EXPECT_NE(nullptr, NextSourceChoice(g)) << what << ": 0 without a choice";
        }
        break;
      case Kind::Disconnect:
        EXPECT_FALSE(g->dsmOpen) << what << ": 0 with the manager open";
        break;
      default:
        break;
    }
  }

  // After the failure, in the same instance: a clean Connect and a scan work.
  void ExpectRecovery(const std::string& what) {
    ClearFaults();
    std::remove(kNative);
    EXPECT_EQ("0", Call("Twain.Connect()")) << what << ": Connect afterwards";
    EXPECT_EQ("0", Call(std::string("Twain.ScanToFile(\"") + kNative + "\")")) << what << ": scan afterwards";
    std::remove(kNative);
  }

  // The call made by `step` in a clean run: its requests and its result.
  std::vector<Request> Baseline(const Step& step, std::string* result);

  void Inject(const std::vector<Request>& requests, int k, const Fault& f);

  void RunStep(const Step& step);

  // The capability requests of a scan before MSG_ENABLEDS: two reading the pixel flavour
  // (a clean run sets nothing there), then the negotiation of the transfer: 1 and 2 the
  // mechanism, 3 and 4 the file format.
  static int Negotiation(const std::vector<Request>& rs, size_t k) {
    constexpr int kPixelFlavourRequests = 2;
    int n = 0;
    for (size_t i = 0; i < k; ++i) {
      if (Is(rs[i], DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS)) return 0;
      if (rs[i].dat == DAT_CAPABILITY) ++n;
    }
    return rs[k - 1].dat == DAT_CAPABILITY && n > kPixelFlavourRequests ? n - kPixelFlavourRequests : 0;
  }

  static bool EndedImage(const std::vector<Request>& rs, size_t k) {
    // An image is taken once a native transfer's MSG_ENDXFER or a file transfer's
    // DAT_IMAGEFILEXFER went before the failing request.
    for (size_t i = 0; i + 1 < k; ++i) {
      if (Is(rs[i], DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER)) return true;
    }
    return false;
  }
};

std::vector<Request> FaultMatrix::Baseline(const Step& step, std::string* result) {
  Fresh();
  Arrange(step);
  injecting_dsm::ClearLog();
  *result = Call(step.call);
  if (step.kind == Kind::Select) injecting_dsm::EndSelection();
  std::vector<Request> rs;
  for (const LoggedRequest& c : injecting_dsm::Log()) rs.push_back({c.dg, c.dat, c.msg});
  return rs;
}

void FaultMatrix::Inject(const std::vector<Request>&, int k, const Fault& f) {
  if (f.afterWork) {
    injecting_dsm::AnswerCall(k, f.rc);
    return;
  }
  injecting_dsm::FailCall(k, f.rc, f.cc);
  injecting_dsm::FailStatus(f.statusFails);
}

void FaultMatrix::RunStep(const Step& step) {
  std::string clean;
  std::vector<Request> rs = Baseline(step, &clean);
  ASSERT_EQ(step.kind == Kind::Reset ? "(nothing)" : "0", clean) << step.name << " in a clean run";
  ASSERT_FALSE(rs.empty()) << step.name;
  if (std::getenv("KV_MATRIX_LIST")) {
    for (size_t i = 0; i < rs.size(); ++i) std::printf("  %s %zu: %s\n", step.name, i + 1, Name(rs[i]).c_str());
  }
  for (size_t k = 1; k <= rs.size(); ++k) {
    for (const Fault& f : Faults()) {
      std::string what = std::string(step.name) + ", request " + std::to_string(k) + " (" + Name(rs[k - 1]) +
                         ") fails with " + Describe(f);
      if (std::getenv("KV_MATRIX_LIST")) std::fprintf(stderr, "case: %s\n", what.c_str());
      int before = FailureCount();
      Fresh();
      Arrange(step);
      long blocks = LiveBlocks();
      Inject(rs, static_cast<int>(k), f);
      std::string got = Call(step.call);
      if (step.kind == Kind::Select) injecting_dsm::EndSelection();
      bool noResult = false;
      int want = Expected(step, rs[k - 1], f, EndedImage(rs, k), IsScan(step.kind) ? Negotiation(rs, k) : 0,
                          &noResult);
      if (f.afterWork) {
        ExpectNoZeroWithoutEffect(step, got, what);
      } else if (noResult) {
        EXPECT_EQ("(nothing)", got) << what;
      } else {
        EXPECT_EQ(std::to_string(want), got) << what;
      }
      ClearFaults();
      EXPECT_EQ(blocks, LiveBlocks()) << what << ": blocks left behind";
      ExpectFlagsTrue(what);
      ExpectRecovery(what);
      CountInjectedCall(before);
    }
  }
}

class FaultMatrixByStep : public FaultMatrix, public ::testing::WithParamInterface<int> {};

TEST_P(FaultMatrixByStep, EveryRequestFailsOnceWithEveryCode) {
  const Step step = Steps()[GetParam()];
  SCOPED_TRACE(step.name);
  RunStep(step);
}

INSTANTIATE_TEST_SUITE_P(Functions, FaultMatrixByStep, ::testing::Range(0, static_cast<int>(Steps().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return ParamName(Steps()[info.param].name);
                         });

}  // namespace
}  // namespace kvtest
