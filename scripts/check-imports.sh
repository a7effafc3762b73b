#!/usr/bin/env bash
# Checks that a Windows binary imports only DLLs that every Windows installation carries: the
# library must not need libstdc++, libgcc or winpthread DLLs beside it.
#   scripts/check-imports.sh FILE.dll
set -euo pipefail
file=$1
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|uuid|msvcrt|ntdll|ws2_32|version|psapi|dbghelp|d3d11|d3d12|dxgi|d3dcompiler_47|dcomp|d2d1|dwrite|dwmapi|gdiplus|windowscodecs|winmm|imm32|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table found in $file"; exit 1; }
bad=0
while read -r dll; do
  if printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then echo "import: $dll"
  else echo "NOT A SYSTEM DLL: $dll"; bad=1; fi
done <<<"$imports"
exit $bad
