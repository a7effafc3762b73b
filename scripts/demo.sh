#!/usr/bin/env bash
# The demo: the simulated game with Pathlight under Wine, in a synthetic world, through the story
# scenario of the end-to-end tests (which checks the log line by line as it runs). Leaves in
# out/demo/ the library's log, the scenario the game played, the route it walked and a screenshot.
# Expects both builds (./run demo builds them first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/out/demo"
story="$top/build/linux/e2e/story"
rm -rf "$out"
mkdir -p "$out"
status=0
"$top/build/linux/tests/e2e/pathlight-e2e" --gtest_filter='GameStateE2E.WaypointRoutesStrayingMountsAndTheReadersLines' \
  --gtest_brief=1 || status=$?
cp "$story/bin64/Pathlight.log" "$out/Pathlight.log" 2>/dev/null || true
cp "$story/scenario.txt" "$out/scenario.txt" 2>/dev/null || true
cp "$story/route.json" "$out/route.geojson" 2>/dev/null || true
cp "$story/screenshot.png" "$out/screenshot.png" 2>/dev/null || true
if [ "$status" != 0 ] || [ ! -f "$out/Pathlight.log" ] || [ ! -f "$out/screenshot.png" ]; then
  echo "demo: the run failed (status $status); see $out" >&2
  exit 1
fi
echo "demo: log in out/demo/Pathlight.log ($(wc -l <"$out/Pathlight.log") lines), scenario in out/demo/scenario.txt,"
echo "      screenshot in out/demo/screenshot.png; the story, line by line:"
sed 's/^\[[^]]*\] //' "$out/Pathlight.log" | grep -E '^(GameInit: image|Renderer|Finder: (waypoint|no waypoint|full scan|2 minimap)|Roads: [0-9]|Route: \(|Player|Clock|Minimap)' | sed 's/^/        /'
