#!/usr/bin/env bash
# The demo: a game folder with the simulated game and Pathlight, run under Wine through a short
# scenario; the library's log and a screenshot of the game window are left in out/demo/.
# Expects both builds (./run demo builds them first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/out/demo"
game="$out/game"
rm -rf "$out"
mkdir -p "$game/bin64"
cp "$top/build/windows/game/bin64/CrimsonDesert.exe" "$top/build/windows/game/bin64/Pathlight.dll" "$game/bin64/"
cat > "$out/scenario.txt" <<'SCENARIO'
# The demo's scenario: the game runs for a few seconds and a screenshot is taken at the end.
4000  screenshot  screenshot.png
4500  quit
SCENARIO
status=0
(cd "$out" && "$top/scripts/winrun.sh" --timeout 120 "$game/bin64/CrimsonDesert.exe" --scenario "$out/scenario.txt") || status=$?
cp "$game/bin64/Pathlight.log" "$out/Pathlight.log" 2>/dev/null || true
if [ "$status" != 0 ] || [ ! -f "$out/Pathlight.log" ] || [ ! -f "$out/screenshot.png" ]; then
  echo "demo: the run failed (status $status); see $out" >&2
  exit 1
fi
echo "demo: log in out/demo/Pathlight.log ($(wc -l <"$out/Pathlight.log") lines), screenshot in out/demo/screenshot.png"
