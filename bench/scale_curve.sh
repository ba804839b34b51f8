#!/usr/bin/env bash
# How jetdb's costs grow with the table: for each row count, the export,
# import and check of the generated benchmark database (bench/bench_db.sh),
# one line per size.
#
#   bench/scale_curve.sh [--rows "30000 300000 3000000"] [-n RUNS] [--no-build]
#
#   --rows LIST  row counts of Shipments, in one argument (default
#                "30000 300000 3000000"; 3,000,000 takes a quarter of an
#                hour or more the first time, most of it generating the file)
#   -n RUNS      timed exports per tool and size (default 3); the median
#                counts
#   --no-build   use build/bin/jetdb as it is instead of building it first
#
# For each size:
#   export   jetdb export FILE Shipments --format csv >/dev/null: median wall
#            time and peak memory; mdb-export FILE Shipments the same way,
#            the two alternating, and the ratio of their medians
#   import   the table's rows as JSON Lines (jetdb export --format jsonl)
#            into a new table made from `jetdb schema --json`, in one
#            `jetdb import` call: rows per second and peak memory
#   check    jetdb check FILE: wall time and peak memory
# Peak memory is the peak resident set from /usr/bin/time -f %M.
# AFC_BUILD_DIR names another build folder than build/.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"
JETDB="$BENCH_JETDB"

sizes="30000 300000 3000000"
runs=3
build=1
while (($#)); do
  case "$1" in
    --rows) sizes="${2:?--rows needs a list of row counts}"; shift 2 ;;
    -n) runs="${2:?-n needs a number}"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h | --help) sed -n '2,25s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "scale_curve: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
read -r -a sizes <<<"$sizes"
((${#sizes[@]})) || { echo "scale_curve: --rows wants at least one row count" >&2; exit 2; }
for n in "${sizes[@]}"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "scale_curve: '$n' is not a row count" >&2; exit 2; }
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "scale_curve: -n wants a positive number" >&2; exit 2; }
for tool in mdb-export /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "scale_curve: $tool not found; run scripts/setup-debian.sh" >&2
    exit 1
  }
done

((build)) && bench_build jetdb make_bench_db
[[ -x "$JETDB" ]] || { echo "scale_curve: $JETDB not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
say() { echo "scale_curve: $*" >&2; }

FORMAT='%9s %6s | %8s %7s %8s %7s %7s | %8s %8s %7s | %7s %7s\n'
lines=()
for n in "${sizes[@]}"; do
  db="$(bench_db "$n")"
  rm -f "$work"/*.wall "$work"/*.rss "$work"/*.mdb "$work"/*.jsonl "$work"/*.json

  say "$n rows: export, $runs runs of each tool"
  jet_cmd=("$JETDB" export "$db" Shipments --format csv)
  mdb_cmd=(mdb-export "$db" Shipments)
  "${jet_cmd[@]}" >/dev/null  # warms the page cache
  for ((i = 1; i <= runs; i++)); do
    if ((i % 2)); then
      measure jetdb "${jet_cmd[@]}"
      measure mdb-export "${mdb_cmd[@]}"
    else
      measure mdb-export "${mdb_cmd[@]}"
      measure jetdb "${jet_cmd[@]}"
    fi
  done
  jet_wall="$(median "$work/jetdb.wall")"
  mdb_wall="$(median "$work/mdb-export.wall")"
  ratio="$(awk -v a="$mdb_wall" -v b="$jet_wall" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }')"

  say "$n rows: import in one call"
  "$JETDB" schema "$db" Shipments --json >"$work/schema.json"
  "$JETDB" export "$db" Shipments --format jsonl >"$work/rows.jsonl"
  "$JETDB" new "$work/target.mdb" >/dev/null
  "$JETDB" create-table "$work/target.mdb" "$work/schema.json" >/dev/null
  measure import "$JETDB" import "$work/target.mdb" Shipments "$work/rows.jsonl"
  imported="$(wc -l <"$work/rows.jsonl")"
  import_wall="$(tail -n 1 "$work/import.wall")"
  rate="$(awk -v n="$imported" -v s="$import_wall" 'BEGIN { printf "%.0f", n / s }')"

  say "$n rows: check"
  measure check "$JETDB" check "$db"

  lines+=("$(printf "$FORMAT" "$n" "$(($(stat -c %s "$db") / 1048576))" \
    "$jet_wall" "$(mib "$(maximum "$work/jetdb.rss")")" \
    "$mdb_wall" "$(mib "$(maximum "$work/mdb-export.rss")")" "${ratio}x" \
    "$import_wall" "$rate" "$(mib "$(tail -n 1 "$work/import.rss")")" \
    "$(tail -n 1 "$work/check.wall")" "$(mib "$(tail -n 1 "$work/check.rss")")")")
  rm -f "$work/rows.jsonl" "$work/target.mdb"
done

echo "Shipments of the benchmark database: seconds, rows per second and peak MiB;"
echo "export is the median of $runs runs, ratio is mdb-export's time over jetdb's"
printf "$FORMAT" "" "file" "jetdb" "jetdb" "mdb-exp" "mdb-exp" "" "import" "import" "import" \
  "check" "check"
printf "$FORMAT" rows MiB export MiB export MiB ratio s rows/s MiB s MiB
printf '%s\n' "${lines[@]}"
