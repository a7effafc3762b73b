#!/bin/sh
# Types X11 key events into the Wine program beside which scripts/winrun.sh runs it
# (winrun.sh --beside scripts/xkeys.sh). The program asks for keys by appending lines of xdotool
# arguments ("key bracketleft", "keydown ctrl") to /tmp/pathlight-xkeys, which Windows programs
# see as Z:\tmp\pathlight-xkeys. xdotool sends through the XTEST extension, so the events arrive
# as the X server's own input, through Wine's X11 driver, at the window with the X input focus.
requests=/tmp/pathlight-xkeys
: >"$requests"
tail -n +1 -f "$requests" | while read -r args; do
  # shellcheck disable=SC2086 # the arguments are words
  xdotool $args
done
