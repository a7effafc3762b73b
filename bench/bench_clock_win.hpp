// Seconds from the performance counter, and the best of several timed passes, for the
// Windows-side benchmarks.
#pragma once

#include <windows.h>

namespace pathlight::bench {

inline double Now() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The fastest of `passes` runs of `pass`, in seconds: the best run pays least for first touches and
// for other work on the machine.
template <class Pass>
double BestOf(int passes, Pass&& pass) {
  double fastest = 1e9;
  for (int i = 0; i < passes; ++i) {
    const double begin = Now();
    pass();
    const double took = Now() - begin;
    if (took < fastest) fastest = took;
  }
  return fastest;
}

}  // namespace pathlight::bench
