// One machine-readable line per figure of the benchmark table, beside the lines a person reads:
//
//   bench-row: {"id":"roads.load.2M","path":"...","figure":1922.1,"baseline":36.4,"unit":"ms","baseline_is":"..."}
//
// The figure and its baseline are measured in the same run and in the same unit; the table
// (scripts/bench-table.sh) divides them and joins each row with its goal in bench/goals.json by id.
// Texts are the program's own, so they hold no character JSON must escape; a figure that is not
// finite (a run too short to time) is null, which JSON can hold and the table shows as missing.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace pathlight::bench {

inline std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

inline void PrintBenchRow(const char* id, const char* path, double figure, double baseline, const char* unit,
                          const char* baselineIs) {
  std::printf(
      "bench-row: "
      "{\"id\":\"%s\",\"path\":\"%s\",\"figure\":%s,\"baseline\":%s,\"unit\":\"%s\",\"baseline_is\":\"%s\"}\n",
      id, path, JsonNumber(figure).c_str(), JsonNumber(baseline).c_str(), unit, baselineIs);
  std::fflush(stdout);
}

// A world's size as the ids name it: "2M" for about two million nodes, "8k" for about eight thousand.
inline std::string WorldSizeLabel(double nodes) {
  if (nodes >= 1e6) return std::to_string(std::lround(nodes / 1e6)) + "M";
  return std::to_string(std::lround(nodes / 1e3)) + "k";
}

}  // namespace pathlight::bench
