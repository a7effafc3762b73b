#!/usr/bin/env bash
# The flakiness check: runs the demo and the whole Wine suite N times, optionally beside a busy loop
# on every core, and prints how many runs passed. A run passes when the demo and every Wine test
# pass; the Wine tests run side by side as in ./run test. Each failed run's output is kept in
# out/soak/run-K.txt. Expects both builds (./run soak builds them first).
#
#   scripts/soak.sh [N] [--load]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
load=${2:-}
out="$top/out/soak"
rm -rf "$out"
mkdir -p "$out"

busy=()
stop_load() { for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null; done; }
trap stop_load EXIT
if [ "$load" = --load ]; then
  for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    busy+=("$!")
  done
  echo "soak: a busy loop on each of $(nproc) cores"
fi

passed=0
start=$(date +%s)
for k in $(seq "$runs"); do
  log="$out/run-$k.txt"
  t0=$(date +%s)
  ok=1
  "$top/scripts/demo.sh" >"$log" 2>&1 || ok=0
  (cd "$top/build/linux" && ctest -L wine --output-on-failure --timeout 900 -j "$(nproc)") >>"$log" 2>&1 || ok=0
  if [ "$ok" = 1 ]; then
    passed=$((passed + 1))
    rm -f "$log"
    echo "soak: run $k passed ($(($(date +%s) - t0)) s)"
  else
    echo "soak: run $k FAILED ($(($(date +%s) - t0)) s); see $log:"
    grep -E 'FAILED|Failed|expected|timed out' "$log" | head -n 8 | sed 's/^/    /'
  fi
done
echo "soak: $passed of $runs runs passed${load:+ under load} in $(($(date +%s) - start)) s"
[ "$passed" = "$runs" ]
