#!/usr/bin/env bash
# The demo's page: reads what scripts/demo.sh left in a folder (the three runs' logs, scenarios,
# pictures, Pathlight.ini files and run.txt) and writes index.html beside them, one page that tells
# the story in order. Each moment shows its picture beside the log lines it produced and the checks
# made of them: log lines that must follow each other in that run's log (the same lines the
# end-to-end tests expect), pictures that must exist, and the test's own verdict, which covers
# its pixel checks. A failed check is marked on its moment; the page is written all the same, and
# the status is 1 when any check failed.
#
#   scripts/demo-page.sh FOLDER
#
# FOLDER/run.txt, written by the demo, one fact a line:
#   started <date>          seconds <whole run>          world <text>
#   run <log file> <test name> <passed|failed> <seconds> <scenario file> <ini file or ->
#
# The page's own script writes "Pathlight demo: N of M pictures loaded" into its title once the
# page and every picture have loaded (read back by the browser test).
set -euo pipefail
dir=$1
page="$dir/index.html"
[ -f "$dir/run.txt" ] || { echo "demo-page: no $dir/run.txt" >&2; exit 2; }

fact() { sed -n "s/^$1 //p" "$dir/run.txt" | head -n1; }
escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g'; }

# The runs: log file -> test name, verdict, seconds, scenario, ini.
declare -A test_of verdict_of seconds_of scenario_of ini_of
runs=()
while read -r _ log name verdict seconds scenario ini; do
  runs+=("$log")
  test_of[$log]=$name verdict_of[$log]=$verdict seconds_of[$log]=$seconds scenario_of[$log]=$scenario ini_of[$log]=$ini
done < <(grep '^run ' "$dir/run.txt")

# A log's messages, time stamps and CR left out, for the checks; with time stamps for the page.
declare -A cursor verdict_counted
messages() { sed -e 's/\r$//' -e 's/^\[[0-9:.]*\] //' "$dir/$1" 2>/dev/null || true; }
stamped() { sed -e 's/\r$//' "$dir/$1" 2>/dev/null || true; }

# The scenario's points: the story's start, its first waypoint, the waypoint moved 2 m, and where
# the player strayed 30 m off the route ("place" and "waypoint" lines in order).
story=${runs[0]:-Pathlight.log}
scenario="$dir/${scenario_of[$story]:-scenario.txt}"
point() { awk -v action="$1" -v n="$2" '$2 == action && ++seen == n { printf "%.0f,%.0f", $3, $4 }' "$scenario" 2>/dev/null || true; }
start=$(point place 1) first=$(point waypoint 1) goal=$(point waypoint 3) strayed=$(point place 3)
route_re() { echo "^Route: \\(${1}\\) -> \\(${2}\\): [0-9]+ points in [0-9]+ ms${3:-}$"; }

held=0 failed=0
body=$(mktemp)
trap 'rm -f "$body"' EXIT

# moment TITLE PICTURE LOG FROM SHOW TEXT [DESCRIPTION REGEX]...
#   PICTURE  a file in the folder, or - for none
#   FROM     start: the checks search the log from its beginning; after: from the line the last
#            check of the same log found
#   SHOW     the log lines shown beside the checks' own (extended regular expression)
#   TEXT     a sentence of what happens
# A DESCRIPTION of "test" checks the run's verdict; "picture" that the picture was saved.
moment() {
  local title=$1 picture=$2 log=$3 from=$4 show=$5 text=$6
  shift 6
  local all begin line n found=() rows="" bad=0
  all=$(messages "$log")
  [ "$from" = start ] && cursor[$log]=0
  begin=${cursor[$log]:-0}
  while [ $# -ge 2 ]; do
    local what=$1 regex=$2 result
    shift 2
    local counted=0
    if [ "$what" = test ]; then
      counted=${verdict_counted[$log]:-0}
      verdict_counted[$log]=1
      what="the end-to-end test ${test_of[$log]:-?} passed (its log and pixel checks)"
      [ "${verdict_of[$log]:-failed}" = passed ] && result=held || result=failed
    elif [ "$what" = picture ]; then
      what="the picture $picture was saved"
      [ -s "$dir/$picture" ] && result=held || result=failed
    else
      n=$(tail -n +"$((cursor[$log] + 1))" <<<"$all" | grep -nE -m1 -- "$regex" | cut -d: -f1 || true)
      if [ -n "$n" ]; then
        cursor[$log]=$((cursor[$log] + n))
        found+=("${cursor[$log]}")
        result=held
      else
        result=failed
      fi
      what="$what <code>$(escape <<<"$regex")</code>"
    fi
    # A run's verdict shows on each of its moments but counts once.
    if [ "$result" != held ]; then bad=1; fi
    if [ "$counted" = 0 ]; then
      if [ "$result" = held ]; then held=$((held + 1)); else failed=$((failed + 1)); fi
    fi
    rows+="<li class=\"$result\"><span class=\"mark\">$([ "$result" = held ] && echo '&#10003; held' || echo '&#10007; FAILED')</span> $what</li>"
  done
  # The lines shown: those of the checks and those matching SHOW between the moment's first and
  # last found line, at most 14.
  local last=${cursor[$log]:-0} shown
  # The pattern goes through the environment: awk -v would take its backslashes as escapes.
  shown=$(stamped "$log" | show="$show" awk -v from="$begin" -v to="$last" -v picks=" ${found[*]:-} " '
    NR > from && NR <= to { message = $0; sub(/^\[[0-9:.]*\] /, "", message)
      if (index(picks, " " NR " ") || (ENVIRON["show"] != "" && message ~ ENVIRON["show"])) print }' | head -n 14 | escape)
  [ -n "$shown" ] || shown="(no log line of its own: the picture and the test's pixel checks show it)"
  {
    echo "<section class=\"moment$([ "$bad" = 1 ] && echo ' failed-moment')\">"
    echo "<h2>$(escape <<<"$title")$([ "$bad" = 1 ] && echo ' <span class="flag">check failed</span>')</h2>"
    echo "<div class=\"row\">"
    if [ "$picture" != - ]; then
      if [ -s "$dir/$picture" ]; then
        echo "<a href=\"$picture\"><img src=\"$picture\" alt=\"$(escape <<<"$title")\"></a>"
      else
        echo "<div class=\"missing\">$picture is missing</div>"
      fi
    fi
    echo "<div class=\"text\"><p>$text</p>"
    echo "<p class=\"source\">$(escape <<<"$log"), run by ${test_of[$log]:-?}</p>"
    echo "<pre>$shown</pre><ul class=\"checks\">$rows</ul></div></div></section>"
  } >>"$body"
}

# ---- the story, in order ------------------------------------------------------------------------
s=${runs[0]:-Pathlight.log} f=${runs[1]:-Pathlight.drawn.log} i=${runs[2]:-Pathlight.in-frame.log}
moment "Start-up: the game layout found" - "$s" start '^(GameInit:|Renderer:|Keys:|Config:)' \
  "The game loads the library; it finds the game's classes and globals in the game's image and starts its workers and the renderer." \
  "the library loaded" '^Pathlight [0-9.]+ loaded' \
  "the game layout found" '^GameInit: image [0-9]+ MB, vtables minimap=\+0x[0-9A-F]+ ' \
  "the renderer chosen" '^Renderer: Present'
moment "The roads loaded" - "$s" start '^Roads:' \
  "The library reads the roads from the game's archives into its road graph; the map at the top shows them." \
  "the roads loaded" '^Roads: [0-9]+ archives, [0-9]+ tiles \(0 skipped\), [1-9][0-9]* nodes, [1-9][0-9]* segments, [0-9]+ ms'
moment "The waypoint set and routed" - "$s" start '^(Minimap:|Player:|Clock:|Finder: waypoint|Route:)' \
  "The library reads the game's state, finds the waypoint through the minimap's icon path and searches the route; moved by half a metre the route stays, moved by 2 m it is searched again." \
  "the minimap widget read" '^Minimap: normal widget size 133 at \(100, 630\)' \
  "the player on foot" '^Player: on foot' \
  "the clock read" '^Clock: 09:15' \
  "the waypoint found" '^Finder: waypoint icon [0-9a-fA-F]+ at .* read directly \(path 0\)' \
  "the route searched" "$(route_re "$start" "$first")" \
  "the waypoint moved 2 m: routed again" "$(route_re "$start" "$goal")"
moment "The route on the minimap" in-frame-minimap.png "$i" start '^(Overlay: ready|Route:)' \
  "The in-frame renderer draws into the game's own frame: the route on the minimap, clipped to its circle; on foot, no ribbon." \
  "the route searched" '^Route: \(' "the renderer ready" '^Overlay: ready on 1280x720, ' picture - test -
moment "The route on the world map" in-frame-worldmap.png "$i" after '^$' \
  "The world map opened: the route across it." picture - test -
moment "The ribbon on the road ahead, by day" in-frame-ribbon-road-ahead.png "$i" after '^(Player:|Occlusion:)' \
  "On a horse the ribbon shows on the road ahead, fading in from the player's feet and out towards 50 m." \
  "riding" '^Player: riding' "the ribbon drawn with the depth buffer" '^Diag: .* world=1 \(on=1 cam=1 dlss occl\)$' picture - test -
moment "The ribbon behind the wall" in-frame-ribbon-behind-wall.png "$i" after '^$' \
  "A wall across the road 16 m ahead: the ribbon leads up to it and is hidden behind it." picture - test -
moment "The ribbon at night" in-frame-ribbon-at-night.png "$i" after '^$' \
  "At 23:00 the world is dark and the ribbon dimmer ([World] NightOpacity)." \
  "the night read" '^Diag: .* clock 23\.00 .* world=1 ' picture - test -
moment "After a resize" in-frame-after-resize.png "$i" after '^Overlay:' \
  "The window resized to 1024x640: the renderer rebuilt for the new size, both routes in their places." \
  "rebuilt for the new size" '^Overlay: ready on 1024x640, ' picture - test -
moment "Rerouted after straying" - "$s" start '^(Route:|Player:)' \
  "The player walks along the route and steps 20 m off it: the route stays; 30 m off: a new route from where the player stands." \
  "the waypoint moved 2 m: routed" "$(route_re "$start" "$goal")" \
  "rerouted from 30 m off" "$(route_re "$strayed" "$goal")"
moment "The wagon roads" - "$s" after '^(Route:|Player:)' \
  "On a horse the route stays; on a wagon it is searched on wagon roads; on foot again, with the ordinary weights." \
  "riding" '^Player: riding, vehicle Horse_Saddled' \
  "on a wagon" '^Player: on a wagon, vehicle Cargo_Wagon' \
  "routed on wagon roads" "$(route_re "$strayed" "$goal" ' \(wagon roads\)')" \
  "on foot" '^Player: on foot' \
  "routed again" "$(route_re "$strayed" "$goal")"
moment "The readers through changes, the waypoint lost and found, cleared" screenshot.png "$s" after '^(Minimap:|Clock:|Finder:|Route:)' \
  "The minimap widget shrinks, the clock is lost and found, the waypoint icon's memory is freed under the finder and given back, the waypoint moves to the second icon path and is cleared. The picture: the game near the story's end." \
  "a new widget size" '^Minimap: normal widget size 120 at \(33, 567\)' \
  "the clock lost" '^Clock: time of day unknown' "and found" '^Clock: 21:30' \
  "no waypoint while its memory is gone" '^Finder: no waypoint' \
  "found again" '^Finder: waypoint icon [0-9a-fA-F]+ at .* read directly \(path 0\)' \
  "routed again" "$(route_re "$strayed" "$goal")" \
  "found on the second icon path" '^Finder: waypoint icon [0-9a-fA-F]+ at .* read directly \(path 1\)' \
  "the waypoint cleared" '^Finder: no waypoint' picture - test -
moment "The toggle and reload keys" in-frame-toggled.png "$i" after '^(Minimap|World) route' \
  "While riding, [ and ] hide the minimap route and the ribbon; \\ reads Pathlight.ini again." \
  "the minimap route off" '^Minimap route off \(toggle key\)' \
  "the ribbon off" '^World route off \(toggle key\)' \
  "a frame with neither" '^Diag: .* mm=0 wm=0 world=0' \
  "the settings read again" '^Config: reloaded' picture - test -
moment "The fallback drawing: the overlay window, minimap" minimap.png "$f" start '^(Renderer:|Composition:|Overlay window:)' \
  "[Style] Renderer=Composition: Wine has no DirectComposition, so the route is drawn in an overlay window over the game (the picture is the game's frame with the overlay window's pixels laid on it)." \
  "Composition chosen" '^Renderer: Composition \(DirectComposition\)' \
  "and refused" '^Composition: setup failed \(hr=0x80004001\)' \
  "the overlay window instead" '^Overlay window: composition setup failed; drawing the route in an overlay window instead' \
  "the minimap drawn" '^Diag: .* worldmap=0 route=[1-9][0-9]* -> mm=1 wm=0 shown=1' picture - test -
moment "The fallback drawing: the overlay window, world map" worldmap.png "$f" after '^$' \
  "The world map opened: the overlay window covers the route across it." \
  "the world map drawn" '^Diag: .* worldmap=1 route=[1-9][0-9]* -> mm=0 wm=1 shown=1' picture - test -

# ---- the header and the page --------------------------------------------------------------------
total=$((held + failed))
pictures=$(grep -c '<img ' "$body" || true)
{
  cat <<EOF
<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Pathlight demo</title>
<style>
body { font: 15px/1.45 sans-serif; margin: 0 auto; max-width: 1400px; padding: 0 20px 40px; color: #222; background: #fafaf7; }
h1 { margin: 18px 0 6px; } h2 { font-size: 18px; margin: 0 0 8px; }
.summary { padding: 10px 14px; border-radius: 6px; background: #e6f2e6; border: 1px solid #9c9; }
.summary.bad { background: #f8e1e1; border-color: #d88; }
table.runs { border-collapse: collapse; margin: 8px 0; } table.runs td, table.runs th { border: 1px solid #ccc; padding: 3px 8px; text-align: left; vertical-align: top; }
.moment { margin: 18px 0; padding: 12px; border: 1px solid #ddd; border-radius: 6px; background: #fff; }
.failed-moment { border: 2px solid #c33; background: #fff6f6; }
.flag { color: #fff; background: #c33; font-size: 13px; padding: 1px 6px; border-radius: 4px; vertical-align: middle; }
.row { display: flex; gap: 16px; align-items: flex-start; }
.row img { width: 560px; max-width: 45vw; border: 1px solid #999; }
.missing { width: 560px; height: 315px; display: flex; align-items: center; justify-content: center; background: #fdd; border: 2px dashed #c33; }
.text { flex: 1; min-width: 0; }
pre { background: #f3f3ee; padding: 6px 8px; font-size: 12px; overflow-x: auto; white-space: pre-wrap; word-break: break-all; }
.checks { list-style: none; padding: 0; margin: 0; font-size: 13px; }
.checks code { font-size: 11px; color: #555; }
.held .mark { color: #1a7f1a; font-weight: bold; } .failed .mark { color: #c33; font-weight: bold; } .failed { background: #fdd; }
.source { color: #666; font-size: 13px; margin: 0; }
.map img { max-width: 640px; width: 100%; border: 1px solid #999; }
</style></head><body>
<h1>Pathlight demo</h1>
<p class="summary$([ "$failed" -gt 0 ] && echo ' bad')"><b>$held of $total checks held</b>$([ "$failed" -gt 0 ] && echo ", <b>$failed failed</b> (marked below)")
&middot; started $(fact started | escape), took $(fact seconds | escape) s &middot; world: $(fact world | escape)</p>
<table class="runs"><tr><th>run</th><th>test</th><th>result</th><th>seconds</th><th>configuration (Pathlight.ini)</th><th>scenario</th></tr>
EOF
  for log in "${runs[@]}"; do
    ini=${ini_of[$log]}
    if [ "$ini" != - ] && [ -f "$dir/$ini" ]; then config="<pre>$(tr -d '\r' <"$dir/$ini" | escape)</pre>"; else config="none: every default"; fi
    echo "<tr><td><a href=\"$log\">$log</a></td><td>${test_of[$log]}</td><td>${verdict_of[$log]}</td><td>${seconds_of[$log]}</td><td>$config</td>"
    echo "<td><a href=\"${scenario_of[$log]}\">${scenario_of[$log]}</a></td></tr>"
  done
  echo "</table>"
  if [ -s "$dir/route-map.png" ]; then
    echo "<div class=\"map\"><h2>The whole world: the route (S to G) and the player's walk</h2><img src=\"route-map.png\" alt=\"route map\"></div>"
  fi
  cat "$body"
  cat <<EOF
<script>
// Once the page and every picture have loaded (or failed to), the title says how many loaded.
window.addEventListener('load', function () {
  var images = Array.prototype.slice.call(document.images);
  var loaded = images.filter(function (i) { return i.complete && i.naturalWidth > 0; }).length;
  document.title = 'Pathlight demo: ' + loaded + ' of ' + images.length + ' pictures loaded';
});
</script>
</body></html>
EOF
} >"$page"
echo "demo-page: $page, $held of $total checks held, $((pictures + $([ -s "$dir/route-map.png" ] && echo 1 || echo 0))) pictures"
[ "$failed" = 0 ]
