#!/usr/bin/env bash
# The benchmark databases: made once by make_bench_db, checked, and kept.
#
#   bench/bench_db.sh [ROWS]    print the path of a ready database whose
#                               Shipments table has ROWS rows (default 300000)
#
# The file is build/bench-data/shipments-ROWS.mdb. It is made again only
# when it is missing, or older than build/bin/make_bench_db or the sample
# text that Master and Panel come from. A new file is put in place only
# after `jetdb check` has passed and mdbtools has read back every row:
# mdb-export must list each table's rows, and Shipments' IDs 1..ROWS in
# order.
#
# AFC_BUILD_DIR names another build folder (default build/, as
# `scripts/build.sh release` makes it).
#
# The other bench scripts source this file for:
#   bench_build TARGET...   build targets (scripts/build.sh release, or
#                           cmake --build in $AFC_BUILD_DIR when it is set)
#   bench_db ROWS           what this script prints
#   measure NAME CMD...     one timed run (wall time and peak memory)
#   median FILE, maximum FILE
#   BENCH_BUILD, BENCH_JETDB   the build folder and its jetdb
# SPDX-License-Identifier: Apache-2.0

BENCH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH_BUILD="${AFC_BUILD_DIR:-$BENCH_ROOT/build}"
BENCH_JETDB="$BENCH_BUILD/bin/jetdb"

bench_build() {
  if [[ -n "${AFC_BUILD_DIR:-}" ]]; then
    cmake --build "$AFC_BUILD_DIR" --target "$@" >/dev/null
  else
    "$BENCH_ROOT/scripts/build.sh" release "$@" >/dev/null
  fi
}

# measure NAME CMD...: one run with stdout to /dev/null. Appends the wall
# time in seconds to $work/NAME.wall and the peak RSS in KiB to
# $work/NAME.rss ($work is the calling script's scratch folder). The clock
# is read around /usr/bin/time, whose own %e has only 10 ms resolution.
measure() {
  local name="$1" start end
  shift
  start="$(date +%s%N)"
  if ! /usr/bin/time -f %M -o "$work/$name.last" "$@" >/dev/null 2>"$work/$name.err"; then
    echo "$(basename "$0" .sh): $name failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
  end="$(date +%s%N)"
  echo "$(((end - start) / 1000000))" | awk '{ printf "%.3f\n", $1 / 1000 }' >>"$work/$name.wall"
  tail -n 1 "$work/$name.last" >>"$work/$name.rss"
}

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g "$1" | tail -n 1; }

# bench_db_verify FILE ROWS: jetdb check, then mdb-export's read of each table.
bench_db_verify() {
  local db="$1" rows="$2" table want got
  "$BENCH_JETDB" check "$db" >/dev/null || {
    echo "bench_db: jetdb check failed on $db" >&2
    return 1
  }
  # -e writes line breaks inside values as \n, so there is one line per row.
  for table in Master Panel; do
    want=$(("$("$BENCH_JETDB" export "$db" "$table" --format jsonl | wc -l)" + 1))
    got="$(mdb-export -e "$db" "$table" | wc -l)"
    if [[ "$got" != "$want" ]]; then
      echo "bench_db: mdb-export lists $got lines of $table, not $want" >&2
      return 1
    fi
  done
  mdb-export -e "$db" Shipments | awk -F, -v rows="$rows" '
    NR > 1 && $1 != NR - 1 { bad++ }
    END {
      if (NR != rows + 1 || bad) {
        printf "bench_db: mdb-export lists %d rows of Shipments (%d out of ID order), not %d\n",
               NR - 1, bad, rows > "/dev/stderr"
        exit 1
      }
    }'
}

bench_db() {
  local rows="${1:-300000}"
  [[ "$rows" =~ ^[1-9][0-9]*$ ]] || {
    echo "bench_db: the row count must be a positive number, not '$rows'" >&2
    return 2
  }
  local gen="$BENCH_BUILD/bin/make_bench_db"
  local data="$BENCH_BUILD/bench-data"
  local out="$data/shipments-$rows.mdb"
  local sample="$BENCH_ROOT/sample"
  local inputs=("$gen" "$sample/schema/Master.json" "$sample/schema/Panel.json"
                "$sample/rows/Master.jsonl" "$sample/rows/Panel.jsonl")
  local fresh=0 f
  if [[ -f "$out" ]]; then
    fresh=1
    for f in "${inputs[@]}"; do [[ "$f" -nt "$out" ]] && fresh=0; done
  fi
  if ((!fresh)); then
    for f in "$gen" "$BENCH_JETDB"; do
      [[ -x "$f" ]] || {
        echo "bench_db: $f is not built (scripts/build.sh release)" >&2
        return 1
      }
    done
    command -v mdb-export >/dev/null || {
      echo "bench_db: mdb-export not found; run scripts/setup-debian.sh" >&2
      return 1
    }
    local tmp start
    mkdir -p "$data" && tmp="$(mktemp -d "$data/.shipments-$rows.XXXXXX")" || return 1
    start=$(date +%s)
    echo "bench_db: generating $rows rows into ${out#"$BENCH_ROOT"/}..." >&2
    if ! "$gen" --rows "$rows" "$tmp/shipments.mdb" >&2 ||
      ! bench_db_verify "$tmp/shipments.mdb" "$rows"; then
      rm -rf "$tmp"
      echo "bench_db: no database for $rows rows" >&2
      return 1
    fi
    mv -f "$tmp/shipments.mdb" "$out" || return 1
    rm -rf "$tmp"
    echo "bench_db: generated and checked (jetdb check, mdb-export) in $(($(date +%s) - start)) s" >&2
  fi
  echo "$out"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  case "${1:-}" in
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
  esac
  (($# <= 1)) || { echo "usage: bench/bench_db.sh [ROWS]" >&2; exit 2; }
  bench_db "$@"
fi
