#!/usr/bin/env bash
# The road loader under Wine, where paths are wide Windows strings, must load a worldgen folder to
# the same counts as the native pathlight-route.
#   roads_wine.sh WORLDGEN PATHLIGHT-ROUTE PATHLIGHT-WINTESTS.EXE WORLD-FOLDER
set -euo pipefail
worldgen=$1 route=$2 wintests=$3 world=$4
top=$(cd "$(dirname "$0")/../.." && pwd)
"$worldgen" --out "$world" --seed 5 --nodes 5000 --dlc 2 --faults >/dev/null
summary=$("$route" --game "$world" | grep ' Roads: [0-9]* archives')
echo "native: $summary"
counts=$(sed -E 's/.*Roads: ([0-9]+) archives, ([0-9]+) tiles \(([0-9]+) skipped\), ([0-9]+) nodes, ([0-9]+) segments.*/\1 \2 \3 \4 \5/' <<<"$summary")
# Wine's drive Z: is the root of the file system.
export PATHLIGHT_ROADS_WORLD="Z:$(tr / '\\' <<<"$world")"
export PATHLIGHT_ROADS_EXPECT="$counts"
exec "$top/scripts/winrun.sh" "$wintests" --gtest_filter='RoadsWin.*'
