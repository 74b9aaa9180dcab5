// The figures of a fault matrix: how many injected calls ran and how many of them passed
// every check, printed once at the end of the run.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "tests/support/fixture.h"
#include "twain/dsm_platform.h"

namespace kvtest {

struct MatrixFigures {
  long injected = 0;
  long passed = 0;
};

inline MatrixFigures& MatrixTotals() {
  static MatrixFigures figures;
  return figures;
}

class MatrixReport : public ::testing::Environment {
 public:
  void TearDown() override {
    if (MatrixTotals().injected == 0) return;
    std::printf("[ fault matrix ] %s build: %ld calls injected, %ld passed\n",
                kWindowsBuild ? "Windows" : "Mac", MatrixTotals().injected, MatrixTotals().passed);
  }
};

// One report for the program, however many matrices it runs.
inline ::testing::Environment* const kMatrixReport = ::testing::AddGlobalTestEnvironment(new MatrixReport);

// Failures recorded so far in the running test: a case passed when this did not grow.
inline int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Counts one injected call, passed when no check failed since `failuresBefore`.
inline void CountInjectedCall(int failuresBefore) {
  ++MatrixTotals().injected;
  if (FailureCount() == failuresBefore) ++MatrixTotals().passed;
}

// The harness's own clean-up, past the extension: a source that a case left inside a
// transfer (states 6 and 7) is brought back to state 5, from where the DSM can close it.
inline void EndTransferLeftOpen(TwainGlobals* g) {
  if (!g || !platform::DsmEntryResolved() || !platform::DsmEntry()) return;
  for (int i = 0; i < 4; ++i) {
    std::string state = ScannerQuery("state");
    TW_PENDINGXFERS pending{};
    if (state == "7") {
      platform::DsmEntry()(&g->appIdentity, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER,
                           &pending);
    } else if (state == "6") {
      platform::DsmEntry()(&g->appIdentity, &g->sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET,
                           &pending);
    } else {
      return;
    }
  }
}

}  // namespace kvtest
