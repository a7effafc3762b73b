// One machine-readable line per figure of the benchmark table, beside the lines a person reads:
//
//   bench-row: {"id":"roads.load.nodes-2000000","path":"...","figure":1922.1,"baseline":36.4,"unit":"ms","baseline_is":"..."}
//
// The figure and its baseline are measured in the same run and in the same unit; the table
// (scripts/bench-table.sh) divides them and joins each row with its goal in bench/goals.json by id.
// Texts are the program's own, so they hold no character JSON must escape.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace pathlight::bench {

inline void PrintBenchRow(const char* id, const char* path, double figure, double baseline, const char* unit, const char* baselineIs) {
  std::printf("bench-row: {\"id\":\"%s\",\"path\":\"%s\",\"figure\":%.6g,\"baseline\":%.6g,\"unit\":\"%s\",\"baseline_is\":\"%s\"}\n", id, path,
              figure, baseline, unit, baselineIs);
  std::fflush(stdout);
}

// A world's size as the ids name it: "2M" for about two million nodes, "8k" for about eight thousand.
inline std::string WorldSizeLabel(double nodes) {
  if (nodes >= 1e6) return std::to_string(std::lround(nodes / 1e6)) + "M";
  return std::to_string(std::lround(nodes / 1e3)) + "k";
}

}  // namespace pathlight::bench
