#!/bin/sh
# Takes X screenshots of the whole screen for the Wine program beside which scripts/winrun.sh runs
# it (winrun.sh --beside scripts/xshot.sh). The program asks by appending a Unix path to
# /tmp/pathlight-xshot (Z:\tmp\pathlight-xshot to Windows programs); the picture appears there in
# xwd's format once it is whole. An X screenshot shows what Wine gave the X server, layered windows
# included, which the system's own screen copies inside Wine do not.
requests=/tmp/pathlight-xshot
: >"$requests"
tail -n +1 -f "$requests" | while read -r path; do
  xwd -root -silent -out "$path.part" && mv "$path.part" "$path"
done
