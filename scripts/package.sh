#!/usr/bin/env bash
# The release package: OUT/Pathlight-<version>.zip (OUT defaults to out/) holding what a player
# puts into the game's bin64 folder: Pathlight.dll and its loader version.dll, stripped of their
# debug information; a Pathlight.ini listing every key with its default and meaning; and
# README-player.txt. The debug information stays in the build, in build/windows/package/*.debug,
# linked from the stripped DLLs by name, for reading crash addresses. Expects both builds
# (./run package builds them first). The version is CMake's project version.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/out}
version=$(sed -nE 's/^project\(Pathlight VERSION ([0-9.]+) .*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
bin="$top/build/windows/game/bin64"
debug="$top/build/windows/package"
stage="$out/Pathlight-$version"
rm -rf "$stage" "$out/Pathlight-$version.zip"
mkdir -p "$stage" "$debug"
for dll in Pathlight.dll version.dll; do
  x86_64-w64-mingw32-objcopy --only-keep-debug "$bin/$dll" "$debug/$dll.debug"
  x86_64-w64-mingw32-strip --strip-debug --strip-unneeded -o "$stage/$dll" "$bin/$dll"
  (cd "$debug" && x86_64-w64-mingw32-objcopy --add-gnu-debuglink="$dll.debug" "$stage/$dll")
done
"$top/build/linux/tools/ini-template/pathlight-ini-template" >"$stage/Pathlight.ini"
sed 's/$/\r/' "$top/docs/README-player.txt" >"$stage/README-player.txt"
(cd "$stage" && zip -q -X "../Pathlight-$version.zip" Pathlight.dll version.dll Pathlight.ini README-player.txt)
rm -rf "$stage"
echo "package: $out/Pathlight-$version.zip ($(stat -c %s "$out/Pathlight-$version.zip") bytes; debug information in $debug)"
