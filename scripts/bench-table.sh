#!/usr/bin/env bash
# The benchmark's one table: the "bench-row:" lines the benchmark programs printed into LOG (each a
# figure and its baseline measured in the same run), joined by id with their goals (bench/goals.json),
# written as OUT/bench.json and OUT/bench.md and printed. A goal whose row is missing (its program
# failed) is a row without figures, not met.
#
#   scripts/bench-table.sh LOG GOALS.json OUT
set -euo pipefail
log=$1
goals=$2
out=$3
mkdir -p "$out"
sed -n 's/^bench-row: //p' "$log" | tr -d '\r' | jq -s --slurpfile goals "$goals" '
  ($goals[0].goals) as $g
  | (map(.id)) as $measured
  | (map(. as $r
      | ($g[$r.id] // null) as $goal
      | (if $r.baseline != 0 then $r.figure / $r.baseline else null end) as $ratio
      | ($goal | if . == null then null elif .of == "ratio" then $ratio else $r.figure end) as $bounded
      | $r + {ratio: $ratio,
              goal: ($goal.goal // null), goal_of: ($goal.of // null), goal_sense: ($goal.sense // null), goal_why: ($goal.why // null),
              met: (if $goal == null or $bounded == null then null
                    elif $goal.sense == "<=" then $bounded <= $goal.goal else $bounded >= $goal.goal end)}))
    + [$g | to_entries[] | select(.key as $k | $measured | index($k) | not)
       | {id: .key, path: .key, figure: null, baseline: null, unit: null, baseline_is: "not measured: its program failed",
          ratio: null, goal: .value.goal, goal_of: .value.of, goal_sense: .value.sense, goal_why: .value.why, met: false}]
' >"$out/bench.json"

jq -r '
  def num: if . == null then "-" elif (. | fabs) >= 100 then (. | round | tostring)
           elif (. | fabs) >= 10 then ((. * 10 | round) / 10 | tostring) else ((. * 100 | round) / 100 | tostring) end;
  def sense: if . == "<=" then "≤" else "≥" end;
  "| path | figure | baseline (same run) | ratio | goal | met |",
  "|---|---|---|---|---|---|",
  def with($unit): if . == null then "-" else "\(num) \($unit // "")" end;
  (.[] | .unit as $u | "| \(.path) | \(.figure | with($u)) | \(.baseline | with($u)): \(.baseline_is) | "
         + (if .ratio == null then "-" else "\(.ratio | num)×" end) + " | "
         + (if .goal == null then "-" elif .goal_of == "ratio" then "\(.goal_sense | sense) \(.goal | num)×" else "\(.goal_sense | sense) \(.goal | num) \(.unit // "")" end)
         + " | " + (if .met == null then "-" elif .met then "yes" else "**no**" end) + " |"),
  "",
  "\(map(select(.met == true)) | length) of \(map(select(.goal != null)) | length) goals met (goals: bench/goals.json)."
' "$out/bench.json" >"$out/bench.md"
echo
cat "$out/bench.md"
