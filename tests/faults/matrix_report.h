// The figures of a fault matrix: how many injected calls ran and how many of them passed
// every check, printed once at the end of the run.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/platform.h"

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
    std::printf("[ fault matrix ] %s build: %ld calls injected, %ld passed\n", kWindowsBuild ? "Windows" : "Mac",
                MatrixTotals().injected, MatrixTotals().passed);
  }
};

// Failures recorded so far in the running test: a case passed when this did not grow.
inline int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Counts one injected call, passed when no check failed since `failuresBefore`.
inline void CountInjectedCall(int failuresBefore) {
  ++MatrixTotals().injected;
  if (FailureCount() == failuresBefore) ++MatrixTotals().passed;
}

}  // namespace kvtest
