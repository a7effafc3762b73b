#!/bin/sh
# The include rule of src/: a file includes only from its own layer and the layers below it. The
# order is the one the README's layout names, in its line "Layers, lowest first: a < b c < ...", so
# the README and the code cannot drift apart. Prints each include that runs upwards; fails on any,
# and on a folder of src/ that the line does not name.
set -eu
root=$1
order=$(sed -n 's/^Layers, lowest first: *//p' "$root/README.md")
[ -n "$order" ] || { echo "README.md: no line 'Layers, lowest first: ...'"; exit 1; }
awk -v order="$order" -v root="$root/src/" '
  BEGIN {
    n = split(order, parts, "<")
    for (i = 1; i <= n; ++i) {
      m = split(parts[i], names, " ")
      for (j = 1; j <= m; ++j) layer[names[j]] = i
    }
  }
  FNR == 1 {
    path = substr(FILENAME, length(root) + 1)
    folder = substr(path, 1, index(path, "/") - 1)
    if (!(folder in layer) && !(folder in unnamed)) { unnamed[folder] = 1; print "src/" folder "/: not in the README'"'"'s layer order"; bad = 1 }
  }
  /^#include "[a-z0-9_]+\// {
    target = $2; gsub(/"/, "", target); target = substr(target, 1, index(target, "/") - 1)
    if ((target in layer) && (folder in layer) && layer[target] > layer[folder]) {
      print path ":" FNR ": includes " $2 ", a layer above " folder "/"; bad = 1
    }
  }
  END { exit bad }
' $(find "$root/src" -name '*.[ch]pp' | sort)
