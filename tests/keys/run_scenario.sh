#!/usr/bin/env bash
# Runs one probe scenario: the simulated game under Wine with a probe DLL loaded by the scenario
# ("load-library keys-probe.dll"), then checks the probe's log. A probe is a test DLL that runs
# one part of the library on its own; it lies in the Windows build's folder of the same name as
# the scenario's folder (tests/keys -> build/windows/tests/keys), and logs to "Pathlight.log"
# there. Besides its actions, a scenario holds its own set-up and checks in comment lines, which
# the game skips:
#
#   #ini TEXT            one line of the Pathlight.ini written beside the probe (none: no file)
#   #expect TEXT         a log line containing TEXT; the #expect lines must match in this order
#   #count N TEXT        exactly N log lines contain TEXT (N-M: from N to M lines)
#   #game-count N TEXT   exactly N lines of the game's own output contain TEXT
#   #dll-expect TEXT     like #expect, in the log of the Pathlight.dll that the game loads itself
#
# An "xkey" event arrives some milliseconds after its time (xdotool starts for each one): wait for
# the line it causes ("+0 wait 30000 ^World route off") before the next step, and start with
# "watch-log Pathlight.log" so the waits read the probe's log.
#
#   run_scenario.sh WINDOWS_BUILD FILE.scenario
set -euo pipefail
win=$1
scenario=$2
top=$(cd "$(dirname "$0")/../.." && pwd)
probe="$win/tests/$(basename "$(dirname "$scenario")")"
ls "$probe"/*-probe.dll >/dev/null 2>&1 || { echo "no probe DLL in $probe: build the windows preset" >&2; exit 2; }

rm -f "$probe/Pathlight.log" "$probe/Pathlight.previous.log" "$probe/Pathlight.ini"
if grep -q '^#ini' "$scenario"; then
  sed -n 's/^#ini \{0,1\}//p' "$scenario" | sed 's/$/\r/' >"$probe/Pathlight.ini"
fi

status=0
# xkeys.sh types the scenario's "xkey" actions as real X11 key events.
# The game's image lacks the user-interface classes, so the library that the game loads itself
# stays inactive and its keys thread never competes with the probe's.
(cd "$probe" && "$top/scripts/winrun.sh" --timeout 60 --beside "$top/scripts/xkeys.sh" \
  "$win/game/bin64/CrimsonDesert.exe" --image no-ui-classes --scenario "$scenario") >"$probe/game.txt" 2>&1 || status=$?
# A log's messages without their time stamps (nothing when there is no log).
messages() { sed -e 's/\r$//' -e 's/^\[[0-9:.]*\] //' "$1" 2>/dev/null || true; }
log=$(messages "$probe/Pathlight.log")

failed=0
fail() { echo "FAILED: $*"; failed=1; }
# expect_in_order KEY WHERE TEXT: the scenario's "#KEY" lines must match lines of TEXT in their
# order; WHERE names the log in the failure.
expect_in_order() {
  local key=$1 where=$2 rest=$3 want after
  while IFS= read -r want; do
    # Everything after the first line that contains the text; the next line searches there.
    if ! after=$(printf '%s\n' "$rest" | awk -v w="$want" 'found { print; next } index($0, w) { found = 1 } END { exit !found }'); then
      fail "expected$where, in order: $want"
      break
    fi
    rest=$after
  done < <(sed -n "s/^#$key //p" "$scenario")
}
[ "$status" = 0 ] || fail "the game exited with status $status"
expect_in_order expect "" "$log"
expect_in_order dll-expect " in the game's Pathlight.log" "$(messages "$win/game/bin64/Pathlight.log")"
while read -r n want; do
  got=$(printf '%s\n' "$log" | grep -cF -- "$want" || true)
  low=${n%-*} high=${n#*-}
  [ "$got" -ge "$low" ] && [ "$got" -le "$high" ] || fail "expected $n log lines with '$want', found $got"
done < <(sed -n 's/^#count //p' "$scenario")
while read -r n want; do
  got=$(grep -cF -- "$want" "$probe/game.txt" || true)
  [ "$got" = "$n" ] || fail "expected $n lines of game output with '$want', found $got"
done < <(sed -n 's/^#game-count //p' "$scenario")

if [ "$failed" != 0 ]; then
  echo "---- Pathlight.log"; printf '%s\n' "$log"
  echo "---- game output"; cat "$probe/game.txt"
  exit 1
fi
echo "ok: $(basename "$scenario")"
