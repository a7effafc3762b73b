#!/usr/bin/env bash
# Makes the release package, unpacks it into the bin64 folder of a fresh synthetic game folder
# beside the simulated game (run with --no-library, so only the loader can bring Pathlight in),
# and runs the game under the DLL override a player sets. Passes when the zip holds exactly the
# four files, the DLLs carry no debug sections, and the log shows the loader loading the library
# from bin64, the shipped Pathlight.ini read as the defaults with nothing misread, and the roads.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
worldgen=$1 folder=$2
fail() { echo "install_test: $*" >&2; exit 1; }

"$top/scripts/package.sh" "$folder/out"
zip=$(ls "$folder"/out/Pathlight-*.zip)
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "Pathlight.dll Pathlight.ini README-player.txt version.dll " ] || fail "the zip holds: $listed"

game="$folder/game"
"$worldgen" --force --out "$game" --seed 3 --nodes 2000 --dlc 0 >/dev/null
mkdir -p "$game/bin64"
cp "$top/build/windows/game/bin64/CrimsonDesert.exe" "$game/bin64/"
unzip -q "$zip" -d "$game/bin64"
for dll in Pathlight.dll version.dll; do
  if x86_64-w64-mingw32-objdump -h "$game/bin64/$dll" | grep -q '\.debug_'; then fail "$dll has debug sections"; fi
done

winpath() { echo "Z:$1" | tr / '\\'; }
cat >"$game/scenario.txt" <<'SCENARIO'
0 wait 60000 ^Overlay: loaded .*; in bin64: version\.dll$
+0 wait 60000 ^Roads: [0-9]+ archives, [1-9][0-9]* tiles
+0 quit
SCENARIO
WINEDLLOVERRIDES='mscoree,mshtml=;version=n,b' "$top/scripts/winrun.sh" --timeout 300 "$game/bin64/CrimsonDesert.exe" \
  --no-library --scenario "$(winpath "$game/scenario.txt")" || fail "the game's run failed (status $?)"

log="$game/bin64/Pathlight.log"
[ -f "$log" ] || fail "no Pathlight.log"
messages=$(sed -E 's/^\[[0-9:.]+\] //; s/\r$//' "$log")
version=$(sed -nE 's/^project\(Pathlight VERSION ([0-9.]+) .*/\1/p' "$top/CMakeLists.txt")
first=$(head -n1 <<<"$messages")
[ "$first" = "Pathlight $version loaded" ] || fail "first line: $first"
config=$(grep '^Config: ' <<<"$messages" || true)
expected="Config: world route on (mounted only), toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle key vk=0xDB mods=0
Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 m offroad=2.50"
[ "$config" = "$expected" ] || fail "the Config: lines are
$config"
echo "install_test: $(basename "$zip") installed and ran: $(grep -c '' <<<"$messages") log lines"
