#!/usr/bin/env bash
# Runs the simulated game with one image variant and checks Pathlight's "GameInit:" lines against
# the offsets the game says it planted (planted-image.txt), and what follows them.
#
#   tests/e2e/gameinit.sh VARIANT [CrimsonDesert.exe]
#
# The game runs until the library's start-up has decided (inactive after the scan, or the renderer
# chosen), however long the scan takes on this machine.
# Also prints the GameInit line with its milliseconds, for the record.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
variant=$1
exe=${2:-$top/build/windows/game/bin64/CrimsonDesert.exe}
dir=$(dirname "$exe")
rm -f "$dir/Pathlight.log" "$dir/planted-image.txt"
scenario="$dir/gameinit-$variant.scenario"
printf '%s\n' "0 wait 120000 ^(Init: game layout not recognised|Renderer: )" "+200 quit" >"$scenario"
"$top/scripts/winrun.sh" "$exe" --image "$variant" --scenario "Z:${scenario//\//\\}"

declare -A planted
while IFS='=' read -r key value; do planted[$key]=$value; done < <(tr -d '\r' < "$dir/planted-image.txt")
[ "${planted[variant]}" = "$variant" ] || { echo "planted-image.txt is for ${planted[variant]}"; exit 1; }
off() { printf '+0x%X' "${planted[$1]}"; }

sites=${planted[sessionSites]} runner=${planted[sessionRunnerUp]}
if [ "$sites" -ge 20 ] && [ "$sites" -ge $((2 * runner)) ]; then session=at; else session="not found, best"; fi
expected=("GameInit: session global $session $(off session) ($sites sites, runner-up $runner)")
if [ "$session" = at ]; then
  expected+=("GameInit: vehicle types found (actors $(off actors), characters $(off characters), vehicles $(off vehicles))")
  expected+=("GameInit: game clock found ($(off clockSeconds), $(off clockMilliseconds))")
fi
expected+=("GameInit: image ${planted[imageMegabytes]} MB, vtables minimap=$(off minimap) worldmap=$(off worldmap) icon=$(off icon) camera=$(off camera), N ms")

# The log without time stamps; the scan's own milliseconds vary.
log=$(tr -d '\r' < "$dir/Pathlight.log" | sed 's/^\[[^]]*\] //')
grep '^GameInit: image' <<<"$log" || true
actual=$(grep '^GameInit:' <<<"$log" | sed -E 's/, [0-9]+ ms$/, N ms/' || true)
want=$(printf '%s\n' "${expected[@]}")
if [ "$actual" != "$want" ]; then
  echo "GameInit lines differ from the planted image:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
# Without the user-interface classes the library stops after the scan, and only then.
inactive="Init: game layout not recognised, Pathlight stays inactive"
if [ "${planted[minimap]}" = 0x0 ]; then
  # The graphics hooks, installed before the scan, still report the game's swap chain afterwards.
  [ "$(grep -v '^Overlay: ' <<<"$log" | tail -n1)" = "$inactive" ] || { echo "the log does not end with: $inactive"; exit 1; }
elif grep -qF "$inactive" <<<"$log"; then
  echo "the library stayed inactive on a recognised image"
  exit 1
fi
# Pages the scan must not touch are as the game left them, guard bit included.
if [ "$variant" = guarded-pages ]; then
  [ "${planted[guardPageArmed]:-}" = 1 ] || { echo "the image's guard page lost its guard bit"; exit 1; }
  [ "${planted[noAccessPageKept]:-}" = 1 ] || { echo "the image's no-access page changed"; exit 1; }
fi
echo "GameInit lines match the planted image ($variant)"
