#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from worldgen's seeds and prints its speed.
#   run_fuzz.sh FUZZER SEEDS-FOLDER CORPUS-FOLDER SECONDS
# Any input that crashes, trips a sanitizer or runs longer than 1 s fails the run; libFuzzer
# leaves it beside the corpus as crash-*, timeout-* or oom-* for replaying (FUZZER FILE).
set -euo pipefail
fuzzer=$1 seeds=$2 corpus=$3 seconds=$4
name=$(basename "$fuzzer")
case "$name" in
  fuzz_archive_index) kind=index ;;
  fuzz_road_tile) kind=tile ;;
  fuzz_field_default) kind=fielddefault ;;
  *) echo "run_fuzz: unknown target $name" >&2; exit 2 ;;
esac
mkdir -p "$corpus" "$corpus.findings"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# -close_fd_mask=1: the loader's log lines would otherwise flood standard output.
"$fuzzer" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=1 \
  -artifact_prefix="$corpus.findings/" "$corpus" "$seeds/$kind" >"$log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
if [ "$status" != 0 ]; then
  tail -n 60 "$log"
  echo "$name: FAILED (status $status); findings in $corpus.findings/"
  exit 1
fi
echo "$name: ${speed:-?} executions per second, ${runs:-?} inputs in ${seconds} s, corpus of $(ls "$corpus" | wc -l) inputs"
