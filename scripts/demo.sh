#!/usr/bin/env bash
# The demo: the simulated game with Pathlight under Wine, in a synthetic world, through the story
# scenario of the end-to-end tests (which checks the log line by line as it runs), then once more
# with the route drawn over the game window by the fallback renderer, then once more with the
# in-frame renderer drawing into the game's own frames. Leaves in out/demo/ index.html, the page
# that tells the story (scripts/demo-page.sh), and beside it what it shows: the three runs' logs,
# scenarios and Pathlight.ini files, the route map of the whole world with the route and the
# player's walk (route-map.png, from pathlight-route), the route as GeoJSON, a screenshot, the two
# pictures of the overlay window (minimap.png, worldmap.png) and the seven of the in-frame
# renderer (in-frame-*.png). Expects both builds (./run demo builds them first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/out/demo"
e2e="$top/build/linux/e2e"
rm -rf "$out"
mkdir -p "$out"
status=0
began=$(date +%s.%N)
{
  echo "started $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
  # The end-to-end tests' world (tests/e2e: kWorldSeed, kWorldNodes).
  echo "world worldgen --seed 3 --nodes 2000 --dlc 0: three by three towns with their roads"
} >"$out/run.txt"

# run TEST FOLDER LOG INI: one end-to-end test; its folder's log and Pathlight.ini copied to the
# names given (INI - when the run has none) and its verdict and time written to run.txt.
run() {
  local test=$1 folder=$e2e/$2 log=$3 ini=$4 scenario=scenario${3#Pathlight}
  scenario=${scenario%.log}.txt
  local t0 verdict=passed
  t0=$(date +%s.%N)
  "$top/build/linux/tests/e2e/pathlight-e2e" --gtest_filter="$test" --gtest_brief=1 || { verdict=failed; status=1; }
  cp "$folder/bin64/Pathlight.log" "$out/$log" 2>/dev/null || true
  cp "$folder/scenario.txt" "$out/$scenario" 2>/dev/null || true
  if [ "$ini" != - ]; then cp "$folder/bin64/Pathlight.ini" "$out/$ini" 2>/dev/null || ini=-; fi
  echo "run $log wine.$test $verdict $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }') $scenario $ini" >>"$out/run.txt"
}

run GameStateE2E.WaypointRoutesStrayingMountsAndTheReadersLines story Pathlight.log -
story="$e2e/story"
cp "$story/route.json" "$out/route.geojson" 2>/dev/null || true
cp "$story/screenshot.png" "$out/screenshot.png" 2>/dev/null || true
# The route drawn over the game: the game's own frame with the overlay window's pixels laid on it.
run FallbackE2E.OverlayWindowDrawsMinimapAndWorldMap fallback Pathlight.drawn.log Pathlight.drawn.ini
cp "$e2e/fallback/minimap.png" "$e2e/fallback/worldmap.png" "$out/" 2>/dev/null || true
# The in-frame renderer: the frames the game presented, with the route drawn into them.
run 'InFrameStoryE2E.*' in-frame-story Pathlight.in-frame.log Pathlight.in-frame.ini
pictures=(minimap:in-frame-minimap worldmap:in-frame-worldmap ribbon:in-frame-ribbon-road-ahead
  wall:in-frame-ribbon-behind-wall night:in-frame-ribbon-at-night resized:in-frame-after-resize toggled:in-frame-toggled)
for picture in "${pictures[@]}"; do
  cp "$e2e/in-frame-story/${picture%%:*}.png" "$out/${picture#*:}.png" 2>/dev/null || status=1
done

# The whole world's route map: the story's route from the player's start to the waypoint (moved
# 2 m), and the player's walk through the scenario's "place" and "walk" points over it.
awk '$2 == "place" { print $3 "," $4 } $2 == "walk" { for (i = 4; i <= NF && $i != "#"; ++i) print $i }' \
  "$out/scenario.txt" >"$out/walk.txt" 2>/dev/null || true
from=$(awk '$2 == "place" { print $3 "," $4; exit }' "$out/scenario.txt" 2>/dev/null || true)
to=$(awk '$2 == "waypoint" && ++n == 3 { print $3 "," $4; exit }' "$out/scenario.txt" 2>/dev/null || true)
if [ -n "$from" ] && [ -n "$to" ]; then
  "$top/build/linux/tools/pathlight-route/pathlight-route" --game "$story" --from "$from" --to "$to" --whole-world \
    --walk "$out/walk.txt" --png "$out/route-map.png" >/dev/null || status=1
fi
echo "seconds $(awk -v a="$began" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')" >>"$out/run.txt"

# The page is written whatever failed; it marks the failed checks.
"$top/scripts/demo-page.sh" "$out" || status=1
if [ "$status" != 0 ] || [ ! -f "$out/Pathlight.log" ] || [ ! -f "$out/screenshot.png" ] || [ ! -f "$out/minimap.png" ] ||
   [ ! -f "$out/worldmap.png" ]; then
  echo "demo: the run failed (status $status); see $out/index.html" >&2
  exit 1
fi
echo "demo: the story on one page: out/demo/index.html (open it in a browser); beside it the logs"
echo "      (Pathlight.log, Pathlight.drawn.log, Pathlight.in-frame.log), scenarios, pictures and route-map.png;"
echo "      the story, line by line:"
sed 's/^\[[^]]*\] //' "$out/Pathlight.log" | grep -E '^(GameInit: image|Renderer|Finder: (waypoint|no waypoint|full scan|2 minimap)|Roads: [0-9]|Route: \(|Player|Clock|Minimap)' | sed 's/^/        /'
