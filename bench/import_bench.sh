#!/usr/bin/env bash
# Import speed and memory: the rows of the generated benchmark database's
# Shipments table (bench/bench_db.sh: a primary key and two more indexes,
# a memo column) imported into a new database with jetdb, ten slices one
# after the other, then `jetdb check` over the result.
#
#   bench/import_bench.sh [--rows N] [--no-build]
#
#   --rows N     rows in Shipments (default 300000: ten slices of 30,000)
#   --no-build   use build/bin/jetdb as it is instead of building it first
#
# Per slice it prints rows/s and peak memory: the rate staying flat as the
# table grows from 0 to N rows shows that the cost of an insert does not
# grow with the size of the table (only, slowly, with index depth).
# AFC_BUILD_DIR names another build folder than build/.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"
JETDB="$BENCH_JETDB"
SLICES=10

rows=300000
build=1
while (($#)); do
  case "$1" in
    --rows) rows="${2:?--rows needs a number}"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "import_bench: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ "$rows" =~ ^[1-9][0-9]*$ ]] || { echo "import_bench: --rows wants a positive number" >&2; exit 2; }
for tool in /usr/bin/time split; do
  command -v "$tool" >/dev/null || { echo "import_bench: $tool not found" >&2; exit 1; }
done
((build)) && bench_build jetdb make_bench_db
[[ -x "$JETDB" ]] || { echo "import_bench: $JETDB not built" >&2; exit 1; }
source_db="$(bench_db "$rows")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$JETDB" schema "$source_db" Shipments --json >"$work/schema.json"
"$JETDB" export "$source_db" Shipments --format jsonl >"$work/rows.jsonl"
rows=$(wc -l <"$work/rows.jsonl")
split -d -l $(((rows + SLICES - 1) / SLICES)) "$work/rows.jsonl" "$work/slice."
"$JETDB" new "$work/target.mdb"
"$JETDB" create-table "$work/target.mdb" "$work/schema.json"

echo "importing $rows rows into a table with $(grep -c '"name"' "$work/schema.json") names in its schema (columns and indexes)"
printf '%-8s %10s %10s %12s %12s\n' slice "rows" "seconds" "rows/s" "peak MiB"
total_start=$(date +%s%N)
peak=0
i=0
for slice in "$work"/slice.*; do
  n=$(wc -l <"$slice")
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$JETDB" import "$work/target.mdb" Shipments "$slice" >/dev/null
  end=$(date +%s%N)
  rss=$(tail -n 1 "$work/rss")
  ((rss > peak)) && peak=$rss
  secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')
  rate=$(awk -v n="$n" -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", n / ((b - a) / 1e9) }')
  printf '%-8s %10d %10s %12s %12.1f\n' "$i" "$n" "$secs" "$rate" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
  i=$((i + 1))
done
total_end=$(date +%s%N)
awk -v n="$rows" -v a="$total_start" -v b="$total_end" -v p="$peak" \
  'BEGIN { printf "total: %d rows in %.1f s, %.0f rows/s, peak %.1f MiB\n", n, (b - a) / 1e9, n / ((b - a) / 1e9), p / 1024 }'

start=$(date +%s%N)
/usr/bin/time -f %M -o "$work/rss" "$JETDB" check "$work/target.mdb"
end=$(date +%s%N)
awk -v a="$start" -v b="$end" -v k="$(tail -n 1 "$work/rss")" \
  'BEGIN { printf "check: %.1f s, peak %.1f MiB\n", (b - a) / 1e9, k / 1024 }'
cmp <("$JETDB" export "$work/target.mdb" Shipments --format jsonl) "$work/rows.jsonl" &&
  echo "export of the imported table equals the source"
