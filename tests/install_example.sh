#!/usr/bin/env bash
# The engine as a library, as a stranger gets it: installs the dev component
# of a build into a fresh prefix, builds examples/ against that prefix alone
# (with CMake's find_package, then with pkg-config and warnings as errors)
# and runs both programs.
#
#   install_example.sh BUILD_DIR SOURCE_DIR CXX LIBDIR [OPTION...]
#     --toolchain FILE   configure the example with this toolchain file
#     --run CMD          run the programs through CMD (an emulator)
#     --flags FLAGS      extra compile and link flags (a sanitizer's, say)
#     --ldflags FLAGS    link flags for the pkg-config build (the build's own)
#     --exe-suffix S     the programs' file name suffix (.exe)
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

build=$1 source=$2 cxx=$3 libdir=$4
shift 4
toolchain= run= flags= ldflags= suffix=
while (($#)); do
  case $1 in
    --toolchain) toolchain=$2 ;;
    --run) run=$2 ;;
    --flags) flags=$2 ;;
    --ldflags) ldflags=$2 ;;
    --exe-suffix) suffix=$2 ;;
    *) echo "install_example: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done

prefix=$build/example-prefix
work=$build/example-build
rm -rf "$prefix" "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$prefix" --component dev
echo "installed:"
(cd "$prefix" && find . -type f | sort)

# Nothing installed may point back into the checkout or the build.
if grep -rlF -e "$source" -e "$build/" "$prefix"/"$libdir"/cmake "$prefix"/"$libdir"/pkgconfig; then
  echo "install_example: the files above name the source or build folder" >&2
  exit 1
fi

args=(-S "$source/examples" -B "$work/cmake" -DCMAKE_CXX_COMPILER="$cxx"
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
      -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
if [[ -n $toolchain ]]; then
  # A cross toolchain looks for packages only under its root paths; the
  # prefix becomes one more.
  cat > "$work/toolchain.cmake" <<END
include("$toolchain")
list(APPEND CMAKE_FIND_ROOT_PATH "$prefix")
END
  args+=(-DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake")
fi
[[ -n $flags ]] && args+=(-DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags")
cmake "${args[@]}"
found=$(sed -n 's/^JetEngine_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
if [[ $found != "$prefix/$libdir/cmake/JetEngine" ]]; then
  echo "install_example: found JetEngine in '$found', not in the prefix" >&2
  exit 1
fi
cmake --build "$work/cmake"
$run "$work/cmake/jet_example$suffix" "$work/cmake.mdb"

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig PKG_CONFIG_LIBDIR=
pc_flags=$(pkg-config --cflags --libs jet-engine)
echo "pkg-config: $pc_flags"
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror $flags "$source/examples/jet_example.cc" \
  $pc_flags $ldflags -o "$work/jet_example_pc$suffix"
$run "$work/jet_example_pc$suffix" "$work/pkg-config.mdb"
