// Wall-clock budgets in the suites are what the step takes on a machine that runs the i386
// programs natively. Where they run under an emulator, tools/run-tests.sh sets KV_TIME_FACTOR
// (how many times slower the emulator is, with room), and every budget stretches by it: what a
// budget is there to catch, a step many times slower than it should be, still shows.
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

inline double TimeFactor() {
  const char* text = std::getenv("KV_TIME_FACTOR");
  const double factor = text ? std::strtod(text, nullptr) : 1.0;
  return factor > 1.0 ? factor : 1.0;
}

// `budget` stretched by the factor.
inline std::chrono::duration<double> TimeBudget(std::chrono::duration<double> budget) {
  return budget * TimeFactor();
}

// Whether the i386 programs (the 64-bit build's 32-bit worker among them) run under the
// emulator here. Wine's structured exceptions do not work there ("Got unexpected trap -1"), so
// a 32-bit process that faults on purpose proves nothing, and its log would read as a crash of
// ours. A test of such a fault calls this first: where it answers true, it has said so on a
// "skipped:" line (once for each `what`; tools/run-tests.sh reports them), and the test returns
// through GTEST_SKIP.
inline bool SkipWhereI386IsEmulated(const std::string& what) {
  if (TimeFactor() <= 1.0) return false;
  static std::set<std::string> said;
  if (said.insert(what).second)
    std::printf("\nskipped: %s: i386 programs run emulated on this machine\n", what.c_str());
  return true;
}
