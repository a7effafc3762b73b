#!/usr/bin/env bash
# What the in-frame renderer adds to the game's frame: the simulated game presents up to 300
# frames of warm-up, then FRAMES frames back to back with a long route drawn on the minimap and as
# the ribbon 50 m ahead, then, with both routes toggled off by their keys, FRAMES frames in which
# nothing is drawn (the present hook still runs, reads the game and decides). Prints both of the
# game's timing lines and the difference of the medians.
#
#   bench/present_frame_bench.sh WINDOWS_BUILD WORLDGEN FOLDER [FRAMES]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
windows=$1
worldgen=$2
folder=$3
frames=${4:-3000}
warmup=$((frames < 300 ? frames : 300))

rm -rf "$folder"
# A world of six by six towns, the player in one of them and the waypoint three towns away: 332 route points.
"$worldgen" --out "$folder" --seed 3 --nodes 8000 --dlc 0 >/dev/null
mkdir -p "$folder/bin64"
cp "$windows/game/bin64/CrimsonDesert.exe" "$windows/game/bin64/Pathlight.dll" "$folder/bin64/"
printf '[World]\r\nMountedOnly=0\r\nDistance=50\r\n' >"$folder/bin64/Pathlight.ini"
winpath() { echo "Z:$1" | tr / '\\'; }
cat >"$folder/scenario.txt" <<EOF
0 place -1980 -1990
0 waypoint -1000 1000
0 wait 60000 ^Keys: 
+0 wait 120000 ^Route: \(
+0 wait 30000 ^Overlay: ready on
+0 mark
+0 wait 30000 ^Diag: .* mm=1 wm=0 world=1
+0 present-timing $warmup warm-up
+0 present-timing $frames drawn
+0 postkey 0xDB press
+0 wait 30000 ^Minimap route off
+0 postkey 0xDD press
+0 wait 30000 ^World route off
+0 mark
+0 wait 30000 ^Diag: .* mm=0 wm=0 world=0
+0 present-timing $frames nothing
+0 quit
EOF
out="$folder/game.out"
status=0
"$top/scripts/winrun.sh" --timeout 600 "$folder/bin64/CrimsonDesert.exe" --scenario "$(winpath "$folder/scenario.txt")" \
  >"$out" 2>&1 || status=$?
route=$(grep -ao 'Route: ([^)]*) -> ([^)]*): [0-9]* points' "$folder/bin64/Pathlight.log" | head -n1 || true)
drawn=$(grep -a '^simhost: timing drawn:' "$out" || true)
nothing=$(grep -a '^simhost: timing nothing:' "$out" || true)
if [ "$status" != 0 ] || [ -z "$drawn" ] || [ -z "$nothing" ]; then
  echo "present_frame: the run failed (status $status); the game's output:" >&2
  tail -n 30 "$out" >&2
  exit 1
fi
echo "${route:-Route: ?}"
echo "$drawn"
echo "$nothing"
median() { sed -E 's/.*present median ([0-9.]+) .*/\1/' <<<"$1"; }
cpu() { sed -E 's/.*thread CPU ([0-9.]+) us.*/\1/' <<<"$1"; }
awk -v a="$(median "$drawn")" -v b="$(median "$nothing")" -v c="$(cpu "$drawn")" -v d="$(cpu "$nothing")" \
  'BEGIN { printf "added by the overlay: median %.1f us (drawn %.1f us, nothing drawn %.1f us); thread CPU %.1f us a frame\n", a - b, a, b, c - d }'
