#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need.
#
# Safe to run again and again: packages already installed are skipped, and
# apt-get is only touched (update first, then install) when something is
# missing. Runs apt-get directly as root, through sudo otherwise.
set -euo pipefail

# What each package is for:
#   build-essential, g++   the compiler and the usual build tools
#   cmake, ninja-build     configure and build
#   libgtest-dev,
#   googletest             GoogleTest, used by the test binary
#   mdbtools               mdb-export etc., an independent reader used as a
#                          cross-check and by the export benchmark
#   time                   /usr/bin/time, for peak memory in the benchmark
#   clang                  for the fuzzing targets to come
#   gzip                   unpacks the large benchmark database
#   qt6-base-dev, libgl-dev
#                          Qt 6 Widgets and Qt Test for the window (Qt's Gui
#                          module wants the OpenGL headers at configure time)
#   qt6-qpa-plugins        Qt's X11 platform plugin, to show the window
#   xvfb, xauth            a virtual display: the run command shows the
#                          window there when no display is set
#   fonts-dejavu-core      a font for the window under a bare X server
PACKAGES=(
  build-essential
  g++
  cmake
  ninja-build
  libgtest-dev
  googletest
  mdbtools
  time
  clang
  gzip
  qt6-base-dev
  libgl-dev
  qt6-qpa-plugins
  xvfb
  xauth
  fonts-dejavu-core
)

installed() {
  [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == installed ]]
}

missing=()
for pkg in "${PACKAGES[@]}"; do
  installed "$pkg" || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: not root and sudo is not available; as root, run:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update </dev/null
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}" </dev/null

still_missing=()
for pkg in "${missing[@]}"; do
  installed "$pkg" || still_missing+=("$pkg")
done
if ((${#still_missing[@]})); then
  echo "setup: still missing after install: ${still_missing[*]}" >&2
  exit 1
fi
echo "setup: done"
