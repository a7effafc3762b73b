// Seconds from the performance counter, the thread's processor time, the best of several timed
// passes and the median and 99th percentile of many, for the Windows-side benchmarks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

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
template <class Pass> double BestOf(int passes, Pass&& pass) {
  double fastest = 1e9;
  for (int i = 0; i < passes; ++i) {
    const double begin = Now();
    pass();
    const double took = Now() - begin;
    if (took < fastest) fastest = took;
  }
  return fastest;
}

// The calling thread's processor time (kernel and user), in seconds. Wine counts it in steps of
// about 10 ms, so it is read around whole loops, never around one call.
inline double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}

struct Figures {
  double median = 0, p99 = 0, cpuPerCall = 0;  // microseconds
};

// The median and 99th percentile of `micros` (sorted in place), with the processor time of the
// whole loop shared out over its calls.
inline Figures Summarise(std::vector<double>& micros, double cpuSeconds) {
  Figures f;
  if (micros.empty()) return f;
  std::sort(micros.begin(), micros.end());
  f.median = micros[micros.size() / 2];
  f.p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  f.cpuPerCall = cpuSeconds / static_cast<double>(micros.size()) * 1e6;
  return f;
}

// `calls` timed calls of `call`.
template <class Call> Figures Measure(int calls, Call&& call) {
  std::vector<double> took(static_cast<std::size_t>(std::max(calls, 1)));
  const double cpuStart = ThreadCpuSeconds();
  for (double& t : took) {
    const double begin = Now();
    call();
    t = (Now() - begin) * 1e6;
  }
  return Summarise(took, ThreadCpuSeconds() - cpuStart);
}

}  // namespace pathlight::bench
