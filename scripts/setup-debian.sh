#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and packaging need.
#
#   scripts/setup-debian.sh [run|test|package]    (default: test)
#
#   run       what the main job needs: the compiler, CMake, Qt, nlohmann/json,
#             CLI11 and OpenSSL
#   test      that, and what the tests need: GoogleTest, mdbtools, the
#             Windows cross compiler and Wine, a virtual display
#   package   that, and what the release packages need
#
# Safe to run again and again: packages already installed are skipped, and
# apt-get is only touched (update first, then install) when something is
# missing. Runs apt-get directly as root, through sudo otherwise.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

# What each package is for:
#   build-essential, g++   the compiler and the usual build tools
#   cmake, ninja-build     configure and build
#   qt6-base-dev, libgl-dev
#                          Qt 6 Widgets and Qt Test for the window (Qt's Gui
#                          module wants the OpenGL headers at configure time)
#   qt6-qpa-plugins        Qt's X11 platform plugin, to show the window
#   xvfb, xauth            a virtual display: the run command shows the
#                          window there when no display is set
#   fonts-dejavu-core      a font for the window under a bare X server
#   nlohmann-json3-dev     the JSON reader jetdb reads schemas and rows with
#                          (headers only; the Windows build uses them too)
#   libcli11-dev           CLI11, which jetdb parses its command line with
#                          (headers only; the Windows build uses them too)
#   libssl-dev             OpenSSL's libcrypto: the hashes and AES that read
#                          encrypted .accdb files (the Windows build uses
#                          Windows' own bcrypt instead)
#   zlib1g-dev             zlib, which the engine inflates the attachments of
#                          .accdb files with
RUN_PACKAGES=(
  build-essential
  g++
  cmake
  ninja-build
  qt6-base-dev
  libgl-dev
  qt6-qpa-plugins
  xvfb
  xauth
  fonts-dejavu-core
  nlohmann-json3-dev
  libcli11-dev
  libssl-dev
  zlib1g-dev
)
#   libgtest-dev,
#   googletest             GoogleTest, used by the test binary (its sources
#                          also build the Windows test programs)
#   mdbtools               mdb-export etc., an independent reader used as a
#                          cross-check and by the benchmarks
#   time                   /usr/bin/time, for peak memory in the benchmarks
#   clang                  the fuzzing targets
#   gzip                   the benchmarks' temporary files
#   g++-mingw-w64-x86-64-posix
#                          the Windows (64-bit) cross compiler, with POSIX
#                          threads for std::thread and std::mutex
#   libz-mingw-w64-dev     zlib for the Windows build
#   wine64                 runs the Windows build's tests and window
#   openbox, xdotool,
#   imagemagick            a window manager, key presses and screenshots for
#                          the window smoke tests and the README's pictures
TEST_PACKAGES=(
  libgtest-dev
  googletest
  mdbtools
  time
  clang
  gzip
  g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev
  wine64
  openbox
  xdotool
  imagemagick
)
#   zip                    the Windows release archive
#   dpkg-dev               dpkg-shlibdeps, for the .deb's dependencies, and
#                          dpkg-buildflags, for Debian's hardening flags
#   lintian,
#   desktop-file-utils     check the .deb and its desktop entry
PACKAGE_PACKAGES=(
  zip
  dpkg-dev
  lintian
  desktop-file-utils
)

case "${1:-test}" in
  run) PACKAGES=("${RUN_PACKAGES[@]}") ;;
  test) PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  package) PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}") ;;
  -h | --help) sed -n '2,14s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "setup: unknown group '$1' (use run, test or package)" >&2; exit 2 ;;
esac

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
