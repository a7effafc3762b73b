#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from its seeds and prints its speed.
#   run_fuzz.sh FUZZER SEEDS-FOLDER CORPUS-FOLDER SECONDS
# With FUZZ_RUNS set, the run also ends after that many inputs (whichever comes first).
# The seeds are the target's folder in SEEDS-FOLDER (worldgen's samples, fuzz-seed-writer's cases)
# and fuzz/regressions/<target>, the inputs of past findings, which every run replays first.
# Any input that crashes, trips a sanitizer or fails a target's check, or runs longer than 1 s,
# fails the run; libFuzzer leaves it beside the corpus as crash-*, timeout-* or oom-* for
# replaying (FUZZER FILE).
set -euo pipefail
fuzzer=$1 seeds=$2 corpus=$3 seconds=$4
name=$(basename "$fuzzer")
# The seed folder, and for the newer targets the longest input (the address-space targets take a
# laid-out heap; the game-file parsers take libFuzzer's guess from their seeds).
max_len=
case "$name" in
  fuzz_archive_index) kind=index ;;
  fuzz_road_tile) kind=tile ;;
  fuzz_field_default) kind=fielddefault ;;
  fuzz_settings) kind=settings max_len=1024 ;;
  fuzz_keys) kind=keys max_len=256 ;;
  fuzz_prologue) kind=prologue max_len=128 ;;
  fuzz_upscaler) kind=upscaler max_len=4096 ;;
  fuzz_readers) kind=readers max_len=20000 ;;
  fuzz_finder) kind=finder max_len=20000 ;;
  *) echo "run_fuzz: unknown target $name" >&2; exit 2 ;;
esac
regressions="$(cd "$(dirname "$0")" && pwd)/regressions/${kind}"
flags=() folders=("$corpus" "$seeds/$kind")  # new inputs go into the first folder
[ -n "$max_len" ] && flags+=(-max_len="$max_len")
[ -d "$regressions" ] && folders+=("$regressions")
[ -n "${FUZZ_RUNS:-}" ] && flags+=(-runs="$FUZZ_RUNS")
mkdir -p "$corpus" "$corpus.findings"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
started=$(date +%s)
# -close_fd_mask=1: the game-file loader's log lines would otherwise flood standard output.
"$fuzzer" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=1 \
  -artifact_prefix="$corpus.findings/" "${flags[@]}" "${folders[@]}" >"$log" 2>&1 || status=$?
elapsed=$(( $(date +%s) - started ))
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
if [ "$status" != 0 ]; then
  tail -n 60 "$log"
  echo "$name: FAILED (status $status); findings in $corpus.findings/"
  exit 1
fi
echo "$name: ${speed:-?} executions per second, ${runs:-?} inputs in ${elapsed} s, corpus of $(ls "$corpus" | wc -l) inputs"
