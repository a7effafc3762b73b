#!/usr/bin/env bash
# The benchmark's table from a log of bench-row lines and a goals file made here: each row says
# which goal it meets, the JSON holds numbers as numbers, and the table's rows say the same.
#
#   tests/report/bench_table_test.sh WORK
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work"
cat >"$work/goals.json" <<'JSON'
{"goals": {
  "ratio.under":  {"of": "ratio",  "sense": "<=", "goal": 10,  "why": "a"},
  "ratio.over":   {"of": "ratio",  "sense": "<=", "goal": 10,  "why": "b"},
  "speed":        {"of": "ratio",  "sense": ">=", "goal": 0.8, "why": "c"},
  "figure.edge":  {"of": "figure", "sense": "<=", "goal": 15,  "why": "d"},
  "not.measured": {"of": "figure", "sense": "<=", "goal": 1,   "why": "e"}
}}
JSON
# A log as ./run bench leaves it: other lines between, a CR from a Windows program.
cat >"$work/bench.log" <<'LOG'
world nodes ...
bench-row: {"id":"ratio.under","path":"loading","figure":300,"baseline":40,"unit":"ms","baseline_is":"reading"}
bench-row: {"id":"ratio.over","path":"loading big","figure":1922,"baseline":36.4,"unit":"ms","baseline_is":"reading"}
bench-row: {"id":"speed","path":"scan","figure":10600,"baseline":19800,"unit":"MB/s","baseline_is":"summing"}
bench-row: {"id":"figure.edge","path":"own work","figure":15,"baseline":8.1,"unit":"us","baseline_is":"empty list"}
bench-row: {"id":"no.goal","path":"extra","figure":2,"baseline":1,"unit":"ns","baseline_is":"direct"}
LOG
"$top/scripts/bench-table.sh" "$work/bench.log" "$work/goals.json" "$work" >"$work/printed.md"
failures=0
# id | ratio (rounded to 2 places) | met
expected=(
  "ratio.under|7.5|true"
  "ratio.over|52.8|false"
  "speed|0.54|false"
  "figure.edge|1.85|true"
  "no.goal|2|null"
  "not.measured|null|false"
)
for entry in "${expected[@]}"; do
  IFS='|' read -r id ratio met <<<"$entry"
  got=$(jq -r --arg id "$id" '.[] | select(.id == $id) | "\(if .ratio == null then "null" else (.ratio * 100 | round / 100) end)|\(.met)"' "$work/bench.json")
  [ "$got" = "$ratio|$met" ] || { echo "FAIL $id: ratio|met $got, not $ratio|$met"; failures=$((failures + 1)); }
done
# Numbers as numbers in every measured row; one row of the table for each row of the JSON.
bad=$(jq '[.[] | select(.figure != null) | select((.figure, .baseline, .ratio) | type != "number")] | length' "$work/bench.json")
[ "$bad" = 0 ] || { echo "FAIL: $bad rows with a figure, baseline or ratio that is not a number"; failures=$((failures + 1)); }
[ "$(jq '[.[] | select(.goal != null) | .goal | type] | unique' -c "$work/bench.json")" = '["number"]' ] ||
  { echo "FAIL: a goal that is not a number"; failures=$((failures + 1)); }
rows=$(grep -c '^| [^p-]' "$work/bench.md" || true)
[ "$rows" = "$(jq length "$work/bench.json")" ] || { echo "FAIL: $rows table rows for $(jq length "$work/bench.json") JSON rows"; failures=$((failures + 1)); }
grep -qF '| loading big | 1922 ms | 36.4 ms: reading | 52.8× | ≤ 10× | **no** |' "$work/bench.md" || { echo "FAIL: the row of ratio.over"; failures=$((failures + 1)); }
grep -qF '| own work | 15 us | 8.1 us: empty list | 1.85× | ≤ 15 us | yes |' "$work/bench.md" || { echo "FAIL: the row of figure.edge"; failures=$((failures + 1)); }
grep -qF '2 of 5 goals met' "$work/bench.md" || { echo "FAIL: the count of goals met"; failures=$((failures + 1)); }
cmp -s <(tail -n +2 "$work/printed.md") "$work/bench.md" || { echo "FAIL: the printed table differs from bench.md"; failures=$((failures + 1)); }
[ "$failures" = 0 ] && echo "bench table: ${#expected[@]} rows as expected"
[ "$failures" = 0 ]
