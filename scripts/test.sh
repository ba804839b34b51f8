#!/usr/bin/env bash
# Installs what is missing, then builds and tests three configurations:
# release (build/), ASan+UBSan (build-asan/), and the Windows build
# (build-mingw/, mingw-w64), whose tests run under Wine. Each runs even if
# one before it failed; the exit status is non-zero if any build or any
# test failed.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Sanitizer failures must fail the test that hit them, with a stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

scripts/setup-debian.sh

failed=()
summaries=()

# run_config NAME DIR: builds one configuration and runs its tests.
run_config() {
  local name="$1" dir="$2" log rc
  local -a before=() after=() retry=()
  if [[ $name == mingw ]]; then
    # One Wine server for the whole run, so that test programs started in
    # parallel never race a server on its way out; the build folder's
    # wine.sh (written when it is configured) uses the tests' Wine prefix.
    before=("$dir/wine.sh" --init)
    after=("$dir/wine.sh" --stop)
    # Wine itself now and then fails to start a program; a test that fails
    # runs once more, and must pass then.
    retry=(--repeat until-pass:2)
  fi
  echo
  echo "==== $name: build"
  if ! scripts/build.sh "$name"; then
    failed+=("$name build")
    summaries+=("$name: build failed")
    return
  fi
  echo
  echo "==== $name: ctest"
  log="$dir/ctest-summary.log"
  rc=0
  ((${#before[@]} == 0)) || "${before[@]}"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "${retry[@]}" </dev/null 2>&1 |
    tee "$log" || rc=$?
  ((${#after[@]} == 0)) || "${after[@]}"
  ((rc == 0)) || failed+=("$name tests")
  # ctest's closing lines: "N% tests passed, ..." and the total time, plus
  # the names of failed tests when there are any.
  while IFS= read -r line; do
    summaries+=("$name: $line")
  done < <(sed -n -e '/tests passed/p' -e '/Total Test time/p' -e '/^The following tests FAILED/,$p' "$log")
  [[ -s "$log" ]] || summaries+=("$name: no ctest output")
}

run_config release build
run_config asan build-asan
run_config mingw build-mingw

echo
echo "==== summary"
printf '%s\n' "${summaries[@]}"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all tests passed"
