// Wall-clock budgets in the suites are what the step takes on a machine that runs the i386
// programs natively. Where they run under an emulator, tools/run-tests.sh sets KV_TIME_FACTOR
// (how many times slower the emulator is, with room), and every budget stretches by it: what a
// budget is there to catch, a step many times slower than it should be, still shows.
#pragma once
#include <chrono>
#include <cstdlib>

inline double TimeFactor() {
  const char* text = std::getenv("KV_TIME_FACTOR");
  const double factor = text ? std::strtod(text, nullptr) : 1.0;
  return factor > 1.0 ? factor : 1.0;
}

// `budget` stretched by the factor.
inline std::chrono::duration<double> TimeBudget(std::chrono::duration<double> budget) {
  return budget * TimeFactor();
}
