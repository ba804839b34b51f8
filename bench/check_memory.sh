#!/usr/bin/env bash
# Memory and time of `jetdb check` on the generated benchmark databases
# (bench/bench_db.sh), one size after another.
#
#   bench/check_memory.sh [-n RUNS] [--no-build] [--check] [ROWS...]
#
#   -n RUNS      timed runs per size (default 3); the median wall time and
#                the largest peak are printed
#   --no-build   use build/bin/jetdb as it is instead of building it first
#   --check      exit 1 if a run's peak resident memory passes 64 MiB
#   ROWS...      Shipments sizes (default 30000 300000 3000000)
#
# Past a few MiB of index entries per table, the check sorts them in runs
# in a scratch file beside the database (NAME.mdb-check), so its memory
# should not grow with the table.
# AFC_BUILD_DIR names another build folder than build/.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"

runs=3
build=1
check=0
sizes=()
while (($#)); do
  case "$1" in
    -n) runs="${2:?-n needs a number}"; shift 2 ;;
    --no-build) build=0; shift ;;
    --check) check=1; shift ;;
    -h | --help) sed -n '2,18s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    -*) echo "check_memory: unknown argument '$1'" >&2; exit 2 ;;
    *) sizes+=("$1"); shift ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "check_memory: -n wants a positive number" >&2; exit 2; }
((${#sizes[@]})) || sizes=(30000 300000 3000000)
command -v /usr/bin/time >/dev/null || { echo "check_memory: /usr/bin/time not found" >&2; exit 1; }

((build)) && bench_build jetdb make_bench_db
[[ -x "$BENCH_JETDB" ]] || { echo "check_memory: $BENCH_JETDB not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

limit=$((64 * 1024))  # KiB
over=0
printf '%10s  %12s  %10s\n' rows "peak (MiB)" "wall (s)"
for rows in "${sizes[@]}"; do
  db="$(bench_db "$rows")"
  "$BENCH_JETDB" check "$db" >/dev/null  # warms the page cache
  for ((i = 0; i < runs; i++)); do measure "check-$rows" "$BENCH_JETDB" check "$db"; done
  peak="$(maximum "$work/check-$rows.rss")"
  printf '%10s  %12s  %10s\n' "$rows" "$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(median "$work/check-$rows.wall")"
  ((peak <= limit)) || over=1
done
if ((check && over)); then
  echo "check_memory: a check took more than 64 MiB" >&2
  exit 1
fi
