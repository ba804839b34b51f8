#!/usr/bin/env bash
# Configures and builds one configuration with Ninja.
#
#   scripts/build.sh [release] [TARGET...]   build/       RelWithDebInfo
#   scripts/build.sh asan [TARGET...]        build-asan/  Debug with ASan and UBSan
#   scripts/build.sh mingw [TARGET...]       build-mingw/ Release for 64-bit Windows
#                                            (mingw-w64; tests run under Wine)
#
# With TARGETs, only those are built (and what they need); without, all.
# JOBS sets the parallel job count (default: the number of CPUs).
# AFC_WITH_TESTS=OFF configures without the tests, so that GoogleTest and
# the test tools need not be installed (the main job's build).
# AFC_FIXTURES_DIR points the tests at another test data folder
# (default: tests/data in the checkout).
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
config="${1:-release}"
(($#)) && shift
targets=()
for t in "$@"; do targets+=(--target "$t"); done

case "$config" in
  release)
    dir="$ROOT/build"
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DAFC_SANITIZE=OFF)
    ;;
  asan)
    dir="$ROOT/build-asan"
    args=(-DCMAKE_BUILD_TYPE=Debug -DAFC_SANITIZE=ON)
    ;;
  mingw)
    dir="$ROOT/build-mingw"
    args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake")
    ;;
  -h | --help)
    sed -n '2,14s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
    exit 0
    ;;
  *)
    echo "build: unknown configuration '$config' (use release, asan or mingw)" >&2
    exit 2
    ;;
esac

# Always said, so that a build folder configured once without the tests
# gets them back.
args+=("-DAFC_BUILD_TESTS=${AFC_WITH_TESTS:-ON}")

if [[ -n "${AFC_FIXTURES_DIR:-}" ]]; then
  args+=("-DAFC_FIXTURES_DIR=$AFC_FIXTURES_DIR")
fi

# A folder configured earlier with another generator cannot be reused;
# start it over.
cache="$dir/CMakeCache.txt"
if [[ -f "$cache" ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
  echo "build: $dir was configured with another generator; reconfiguring"
  rm -rf "$cache" "$dir/CMakeFiles"
fi

jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

echo "build: $config in ${dir#"$ROOT"/}/"
cmake -S "$ROOT" -B "$dir" -G Ninja "${args[@]}"
cmake --build "$dir" -j "$jobs" "${targets[@]}"
