#!/usr/bin/env bash
# The demo: the simulated game with Pathlight under Wine, in a synthetic world, through the story
# scenario of the end-to-end tests (which checks the log line by line as it runs), then once more
# with the route drawn over the game window by the fallback renderer, then once more with the
# in-frame renderer drawing into the game's own frames. Leaves in out/demo/ the library's log, the
# scenario the game played, the route it walked, a screenshot, the two pictures of the overlay
# window (minimap.png, worldmap.png) and the six of the in-frame renderer (in-frame-*.png). Expects
# both builds (./run demo builds them first).
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
# The route drawn over the game: the game's own frame with the overlay window's pixels laid on it.
drawn="$top/build/linux/e2e/fallback"
"$top/build/linux/tests/e2e/pathlight-e2e" --gtest_filter='FallbackE2E.OverlayWindowDrawsMinimapAndWorldMap' \
  --gtest_brief=1 || status=$?
cp "$drawn/minimap.png" "$drawn/worldmap.png" "$out/" 2>/dev/null || true
cp "$drawn/bin64/Pathlight.log" "$out/Pathlight.drawn.log" 2>/dev/null || true
# The in-frame renderer: the frames the game presented, with the route drawn into them.
inframe="$top/build/linux/e2e/in-frame-story"
"$top/build/linux/tests/e2e/pathlight-e2e" --gtest_filter='InFrameStoryE2E.*' --gtest_brief=1 || status=$?
pictures=(minimap:in-frame-minimap worldmap:in-frame-worldmap ribbon:in-frame-ribbon-road-ahead
  wall:in-frame-ribbon-behind-wall night:in-frame-ribbon-at-night resized:in-frame-after-resize)
for picture in "${pictures[@]}"; do
  cp "$inframe/${picture%%:*}.png" "$out/${picture#*:}.png" 2>/dev/null || status=1
done
cp "$inframe/bin64/Pathlight.log" "$out/Pathlight.in-frame.log" 2>/dev/null || true
if [ "$status" != 0 ] || [ ! -f "$out/Pathlight.log" ] || [ ! -f "$out/screenshot.png" ] || [ ! -f "$out/minimap.png" ] ||
   [ ! -f "$out/worldmap.png" ]; then
  echo "demo: the run failed (status $status); see $out" >&2
  exit 1
fi
echo "demo: log in out/demo/Pathlight.log ($(wc -l <"$out/Pathlight.log") lines), scenario in out/demo/scenario.txt,"
echo "      screenshot in out/demo/screenshot.png, the route drawn over the game in out/demo/minimap.png and"
echo "      out/demo/worldmap.png (log: out/demo/Pathlight.drawn.log), the in-frame renderer's pictures in"
echo "      out/demo/in-frame-*.png (log: out/demo/Pathlight.in-frame.log); the story, line by line:"
sed 's/^\[[^]]*\] //' "$out/Pathlight.log" | grep -E '^(GameInit: image|Renderer|Finder: (waypoint|no waypoint|full scan|2 minimap)|Roads: [0-9]|Route: \(|Player|Clock|Minimap)' | sed 's/^/        /'
