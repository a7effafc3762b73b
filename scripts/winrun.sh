#!/usr/bin/env bash
# Runs one Windows program under Wine 10 inside the trixie root, with a private Xvfb display.
#
#   scripts/winrun.sh [--timeout S] [--beside COMMAND] [--] PROGRAM.exe [ARGS...]
#
# --beside runs a shell COMMAND in the background inside the same root and on the same display
# while the program runs (for example scripts/xkeys.sh, which types X11 keys into its window).
#
# The clone is bound into the root at its own path, so PROGRAM and its arguments may be any path
# below it. The Wine prefix is private to the project ($PATHLIGHT_WINEPREFIX, default
# $PATHLIGHT_CACHE/prefix) and reused between runs; a run holds a lock on its prefix, because two
# wineservers on one prefix would corrupt its registry, and runs side by side take further
# prefixes beside it ($PATHLIGHT_WINEPREFIX.2, ...; one a core, each made on first use).
# Everything the run started lives in a pid namespace of its own and is ended by process id when
# the program exits or the time limit passes. WINEDEBUG is -all unless the caller sets it. Exit
# status: the program's.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cache=${PATHLIGHT_CACHE:-/var/cache/pathlight}
root="$cache/trixie-root"
prefix=${PATHLIGHT_WINEPREFIX:-$cache/prefix}
limit=120
beside=
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) limit=$2; shift 2 ;;
    --beside) beside=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: winrun.sh [--timeout S] PROGRAM.exe [ARGS...]" >&2; exit 2; }
[ -f "$root/.pathlight-ready" ] || { echo "winrun: no Windows runtime at $root; run scripts/setup.sh" >&2; exit 2; }

# What runs inside the root: Xvfb on a display it picks itself (-displayfd, so parallel runs on
# this machine never collide), a prefix made on first use, the program under a time limit, then
# the wineserver and Xvfb ended by their process ids.
inner='
set -u
exec 9>/tmp/displayfd
Xvfb -displayfd 9 -screen 0 1600x900x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s /tmp/displayfd ] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 /tmp/displayfd)
if [ ! -f "$WINEPREFIX/system.reg" ]; then wineboot -i >/dev/null 2>&1; wineserver -w; fi
wineserver -p5 >/dev/null 2>&1
[ -n "$BESIDE" ] && { sh -c "$BESIDE" & }
status=0
timeout -k 5 "$LIMIT" wine "$@" || status=$?
[ "$status" = 124 ] && echo "winrun: time limit of ${LIMIT}s reached" >&2
wineserver -k >/dev/null 2>&1 || true
kill "$xvfb" 2>/dev/null || true
wait "$xvfb" 2>/dev/null || true
exit "$status"
'
# Runs side by side (ctest -j) each take a prefix of their own: the first free one of a pool of
# one a core ($prefix, $prefix.2, ...), or, when every one is taken, the first when it is free.
pool=$(nproc)
taken=
for i in $(seq "$pool"); do
  candidate=$prefix
  [ "$i" = 1 ] || candidate=$prefix.$i
  exec 8>"$candidate.lock"
  if flock -n 8; then taken=$candidate; break; fi
done
if [ -z "$taken" ]; then
  exec 8>"$prefix.lock"
  flock 8
  taken=$prefix
fi
prefix=$taken
mkdir -p "$prefix"
bind_args=(--bind "$top" "$top")
case "$PWD" in "$top"|"$top"/*) ;; *) bind_args+=(--bind "$PWD" "$PWD") ;; esac
# Extra folders: PATHLIGHT_WINE_BIND binds writable, PATHLIGHT_WINE_RO_BIND read-only (a read-only
# mount refuses writes even to root, which is how tests make a folder the library cannot write).
for extra in ${PATHLIGHT_WINE_BIND:-}; do bind_args+=(--bind "$extra" "$extra"); done
for extra in ${PATHLIGHT_WINE_RO_BIND:-}; do bind_args+=(--ro-bind "$extra" "$extra"); done
exec bwrap --bind "$root" / --dev /dev --proc /proc --perms 1777 --tmpfs /tmp \
  "${bind_args[@]}" --bind "$prefix" "$prefix" \
  --unshare-pid --die-with-parent --chdir "$PWD" \
  --setenv WINEPREFIX "$prefix" --setenv WINEDEBUG "${WINEDEBUG:--all}" --setenv LIMIT "$limit" --setenv BESIDE "$beside" \
  --setenv HOME /root --setenv WINEDLLOVERRIDES "${WINEDLLOVERRIDES:-mscoree,mshtml=}" \
  /bin/sh -c "$inner" winrun "$@"
