#!/bin/sh
# The tree's format: every tracked C++ source as clang-format lays it out under the root's
# .clang-format (120 columns). Prints each place that differs; fails on any. Run
# "clang-format -i" on the files it names to mend them.
set -eu
root=$1
command -v clang-format >/dev/null || { echo "clang-format: not installed (./run setup installs it)"; exit 1; }
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files '*.cpp' '*.hpp' '*.h')
else
  files=$(find bench fuzz src tests tools -name '*.cpp' -o -name '*.hpp' -o -name '*.h' | sort)
fi
# shellcheck disable=SC2086 # the names hold no spaces
clang-format --style=file --dry-run -Werror $files
