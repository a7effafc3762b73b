#!/usr/bin/env bash
# The demo's page from a fixture: the three runs' logs and scenarios of a demo, trimmed to the lines
# the story's checks look for, and pictures made here (ImageMagick). Each case changes the fixture
# one way and says what the page must then say; the whole page is rendered by headless Chromium,
# whose screenshot must not be blank and whose DOM, read back once the page has loaded, must carry
# the title the page's own script writes when every picture has loaded.
#
#   tests/report/demo_page_test.sh FIXTURE WORK
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
fixture=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL ($1): $2"; failures=$((failures + 1)); }
occurrences() { { grep -o -- "$1" "$2" || true; } | wc -l; }

pictures=(route-map screenshot minimap worldmap in-frame-minimap in-frame-worldmap in-frame-ribbon-road-ahead
  in-frame-ribbon-behind-wall in-frame-ribbon-at-night in-frame-after-resize in-frame-toggled)
make_folder() {
  local dir=$1 n=0
  mkdir -p "$dir"
  cp "$fixture"/* "$dir/"
  for p in "${pictures[@]}"; do
    n=$((n + 1))
    # A gradient of a hue of its own, and a white square whose place says which picture it is.
    convert -size 320x180 "gradient:hsl($((n * 30)),80%,40%)-hsl($(((n * 30 + 120) % 360)),80%,70%)" -fill white \
      -draw "rectangle $((n * 24)),70 $((n * 24 + 20)),110" "$dir/$p.png"
  done
}

# Headless Chromium, as root too, with a profile of its own that is thrown away.
chromium_run() {
  local profile
  profile=$(mktemp -d "$work/profile.XXXXXX")
  timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-extensions --hide-scrollbars \
    --user-data-dir="$profile" --window-size=1400,1800 "$@" 2>/dev/null
  rm -rf "$profile"
}

# case | change to the fixture | demo-page's status | failed checks | moments marked | pictures missing
# (a run's verdict shows on each of its moments: the in-frame run has seven)
cases=(
  "whole|:|0|0|0|0"
  "a story line missing|sed -i '/Clock: 21:30/d' Pathlight.log|1|1|1|0"
  "a picture missing|rm in-frame-ribbon-at-night.png|1|1|1|1"
  "a test failed|sed -i 's/^\\(run Pathlight.in-frame.log [^ ]*\\) passed/\\1 failed/' run.txt|1|7|7|0"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name change want_status want_failed want_moments want_missing <<<"$entry"
  dir="$work/${name// /-}"
  make_folder "$dir"
  (cd "$dir" && eval "$change")
  status=0
  "$top/scripts/demo-page.sh" "$dir" >"$dir/page.out" 2>&1 || status=$?
  [ -f "$dir/index.html" ] || { fail "$name" "no index.html"; continue; }
  [ "$status" = "$want_status" ] || fail "$name" "demo-page exited $status, not $want_status: $(cat "$dir/page.out")"
  failed=$(occurrences 'class="failed"' "$dir/index.html")
  [ "$failed" = "$want_failed" ] || fail "$name" "$failed failed checks on the page, not $want_failed"
  missing=$(occurrences 'class="missing"' "$dir/index.html")
  [ "$missing" = "$want_missing" ] || fail "$name" "$missing pictures marked missing, not $want_missing"
  moments=$(occurrences 'class="moment failed-moment"' "$dir/index.html")
  [ "$moments" = "$want_moments" ] || fail "$name" "$moments moments marked failed, not $want_moments"
  if [ "$want_failed" = 0 ]; then
    grep -qE '<b>([0-9]+) of \1 checks held</b>' "$dir/index.html" || fail "$name" "the header does not say every check held"
  else
    grep -qE '<b>[0-9]+ failed</b>' "$dir/index.html" || fail "$name" "the header does not count the failed checks"
  fi
  # Every picture the page shows is one of the folder's, beside it.
  for src in $(grep -o '<img src="[^"]*"' "$dir/index.html" | sed 's/.*src="//; s/"$//'); do
    [ -f "$dir/$src" ] || fail "$name" "the page shows $src, which is not in the folder"
  done
  # The story's lines on the page, in order.
  grep -q 'Route: (-980,-990) -&gt; (-480,-528): ' "$dir/index.html" || fail "$name" "the page lacks the story's route line"
done

# In the browser: the whole page, then one with a picture that cannot be decoded.
dir="$work/whole"
shown=$(grep -c '<img ' "$dir/index.html" || true)
[ "$shown" = $((${#pictures[@]})) ] || fail browser "the page shows $shown pictures, not ${#pictures[@]}"
title=$(chromium_run --dump-dom "file://$dir/index.html" | sed -n 's:.*<title>\(.*\)</title>.*:\1:p')
[ "$title" = "Pathlight demo: $shown of $shown pictures loaded" ] || fail browser "the title after loading is \"$title\""
chromium_run --screenshot="$dir/page.png" "file://$dir/index.html" >/dev/null
if [ -s "$dir/page.png" ]; then
  # Not blank: the page's text, boxes and pictures make its pixels vary.
  spread=$(convert "$dir/page.png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
  colours=$(convert "$dir/page.png" -format '%k' info:)
  awk -v s="$spread" -v c="$colours" 'BEGIN { exit !(s > 0.05 && c > 100) }' || fail browser "the screenshot is blank (spread $spread, $colours colours)"
else
  fail browser "no screenshot"
fi
broken="$work/broken"
cp -r "$dir" "$broken"
echo "not a picture" >"$broken/in-frame-worldmap.png"
title=$(chromium_run --dump-dom "file://$broken/index.html" | sed -n 's:.*<title>\(.*\)</title>.*:\1:p')
[ "$title" = "Pathlight demo: $((shown - 1)) of $shown pictures loaded" ] || fail browser "with a broken picture the title is \"$title\""

[ "$failures" = 0 ] && echo "demo page: ${#cases[@]} cases and the browser's checks held"
[ "$failures" = 0 ]
