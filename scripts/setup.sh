#!/usr/bin/env bash
# Makes this machine ready to build and test Pathlight. Safe to run again: each step first checks
# whether its result is already there and then does nothing.
#
#   1. Debian packages of the host (toolchains, test tools, libraries of the native tools)
#   2. the Windows runtime for the tests: a Debian trixie root with Wine 10, Mesa's software Vulkan
#      and Xvfb, made once per machine in $PATHLIGHT_CACHE (shared by every clone, so CI reuses it)
#   3. the third-party sources that Debian carries only as source packages, checksum-pinned,
#      downloaded once into $PATHLIGHT_CACHE and unpacked into the clone's ignored .cache/
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cache=${PATHLIGHT_CACHE:-/var/cache/pathlight}
say() { printf 'setup: %s\n' "$*"; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# The Debian mirror this machine's apt uses: the first URI of its sources (deb822 .sources files,
# then the one-line sources.list format) that serves a release suite (no "-security" or
# "-updates"). A local mirror or a proxy configured for apt then serves the Windows runtime root and
# the source packages too; nothing of the machine's own apt configuration is changed.
debian_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
         { uri = ""; release = 0; deb = 0
           for (i = 1; i <= NF; i++) {
             n = split($i, w, /[ \t]+/)
             if (w[1] == "URIs:" && n > 1) uri = w[2]
             if (w[1] == "Types:") for (j = 2; j <= n; j++) if (w[j] == "deb" || w[j] == "deb-src") deb = 1
             if (w[1] == "Suites:") for (j = 2; j <= n; j++) if (w[j] ~ /^[a-z]+$/) release = 1
             if (w[1] == "Enabled:" && w[2] == "no") deb = 0
           }
           if (deb && release && uri != "") { print uri; exit } }' "$file"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -E -n 's/^[ \t]*deb(-src)?[ \t]+(\[[^]]*\][ \t]+)?([^ \t]+)[ \t]+([a-z]+)[ \t].*/\3/p' "$file"
  done
}
mirror() {
  local uri
  uri=$(debian_mirror | head -n1)
  [ -n "$uri" ] || { say "error: no Debian mirror found in this machine's apt sources (/etc/apt/sources.list.d, /etc/apt/sources.list)"; exit 1; }
  echo "${uri%/}"
}
# A proxy that apt is configured with serves debootstrap too.
apt_proxy=$(apt-config dump 2>/dev/null | sed -n 's/^Acquire::http::Proxy "\(.*\)";$/\1/p' | head -n1)
if [ -n "$apt_proxy" ] && [ -z "${http_proxy:-}" ]; then export http_proxy=$apt_proxy; fi

# ---- 1. host packages -------------------------------------------------------------------------
host_packages=(
  cmake ninja-build g++ pkg-config git
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64      # the Windows build
  debootstrap bubblewrap                                     # the Windows runtime root
  clang libclang-rt-14-dev                                   # fuzzing with libFuzzer and sanitizers
  clang-format                                               # the format check of the tree
  libgtest-dev googletest libbenchmark-dev                   # tests and benchmarks (gtest's source also serves the Windows build)
  libboost-graph-dev                                         # the independent routing oracle
  libcairo2-dev nlohmann-json3-dev libcli11-dev              # pictures, GeoJSON and command lines of the tools
  imagemagick                                                # screenshots: converting and comparing pictures
  zip unzip                                                  # the release package and its install test
  chromium                                                   # the demo's page rendered headless by its test
  jq                                                         # the benchmark table from the programs' rows
  xz-utils ca-certificates
)
missing=()
for p in "${host_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---- 2. the Windows runtime root ----------------------------------------------------------------
root="$cache/trixie-root"
root_packages="wine wine64 mesa-vulkan-drivers xvfb xdotool x11-apps xauth"
as_root mkdir -p "$cache"
if [ ! -f "$root/.pathlight-ready" ]; then
  say "making the Windows runtime root in $root (once per machine, about a minute)"
  as_root rm -rf "$root.tmp"
  as_root debootstrap --variant=minbase trixie "$root.tmp" "$(mirror)" >/dev/null
  as_root bwrap --bind "$root.tmp" / --dev /dev --proc /proc --perms 1777 --tmpfs /tmp \
      --ro-bind /etc/resolv.conf /etc/resolv.conf --setenv DEBIAN_FRONTEND noninteractive \
      /bin/sh -c "apt-get update -qq && apt-get install -y -qq --no-install-recommends $root_packages && apt-get clean" >/dev/null
  as_root touch "$root.tmp/.pathlight-ready"
  as_root rm -rf "$root"
  as_root mv "$root.tmp" "$root"
fi

# ---- 3. third-party sources ---------------------------------------------------------------------
# name  version  original tarball  sha256  folder inside the tarball
sources=(
  "imgui 1.90.1+ds-1 imgui_1.90.1+ds.orig.tar.xz ecce377df0f90b292f15dcbd83d438bddc162b2388c881132bde18c787572a1c imgui"
  "zydis 4.1.1-1 zydis_4.1.1.orig.tar.gz dcc31180a31e7f568d79d55f8181bd961981559a5666bf6fac43a69ad8b406bf zydis"
  "zycore-c 1.5.2-1 zycore-c_1.5.2.orig.tar.gz 828f2e2e502c4a339c53162b865afd13de80fdfa068a9ba18032e743243027ea zycore"
)
dl="$cache/sources"
apt_dir="$cache/apt-src"
third="$top/.cache/thirdparty"
mkdir -p "$third"
for entry in "${sources[@]}"; do
  read -r name version tarball sum folder <<<"$entry"
  [ -f "$third/$folder/.sha256" ] && [ "$(cat "$third/$folder/.sha256")" = "$sum" ] && continue
  if [ ! -f "$dl/$tarball" ] || ! echo "$sum  $dl/$tarball" | sha256sum -c --status; then
    # A private apt configuration with one deb-src line for trixie: the machine's own sources stay
    # untouched.
    as_root mkdir -p "$dl" "$apt_dir/lists/partial" "$apt_dir/cache" "$apt_dir/sources.list.d" "$apt_dir/preferences.d"
    echo "deb-src $(mirror) trixie main" | as_root tee "$apt_dir/sources.list" >/dev/null
    aptopts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::Etc::Preferences=$apt_dir/preferences" -o "Dir::Etc::PreferencesParts=$apt_dir/preferences.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
    if [ ! -f "$apt_dir/.updated" ]; then
      as_root apt-get "${aptopts[@]}" update -qq
      as_root touch "$apt_dir/.updated"
    fi
    say "downloading $name $version"
    (cd "$dl" && as_root apt-get "${aptopts[@]}" source --download-only --tar-only -qq "$name=$version" >/dev/null 2>&1) || true
    if ! echo "$sum  $dl/$tarball" | sha256sum -c --status; then
      say "error: $tarball is missing or its checksum differs from the pinned one"; exit 1
    fi
  fi
  rm -rf "${third:?}/$folder.tmp"; mkdir -p "$third/$folder.tmp"
  tar -xf "$dl/$tarball" -C "$third/$folder.tmp" --strip-components=1
  echo "$sum" > "$third/$folder.tmp/.sha256"
  rm -rf "${third:?}/$folder"; mv "$third/$folder.tmp" "$third/$folder"
  say "unpacked $name into .cache/thirdparty/$folder"
done
