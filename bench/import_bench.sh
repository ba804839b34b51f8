#!/usr/bin/env bash
# Import speed and memory: the 300,000 rows of the large fixture's Shipments
# table (a primary key and two more indexes, a memo in each row) imported
# into a new database with jetdb, ten slices of 30,000 rows one after the
# other, then `jetdb check` over the result.
#
#   bench/import_bench.sh [--no-build]
#
# Per slice it prints rows/s and peak memory: the rate staying flat as the
# table grows from 0 to 300,000 rows shows that the cost of an insert does
# not grow with the size of the table (only, slowly, with index depth).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FIXTURES="${AFC_FIXTURES_DIR:-$ROOT/../shared/fixtures}"
ARCHIVE="$FIXTURES/large/large-v2000.mdb.gz"
JETDB="$ROOT/build/bin/jetdb"
SLICES=10

build=1
case "${1:-}" in
  --no-build) build=0 ;;
  "") ;;
  -h | --help) sed -n '2,11s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "import_bench: unknown argument '$1'" >&2; exit 2 ;;
esac
for tool in /usr/bin/time gzip split; do
  command -v "$tool" >/dev/null || { echo "import_bench: $tool not found" >&2; exit 1; }
done
((build)) && "$ROOT/scripts/build.sh" release >/dev/null
[[ -x "$JETDB" ]] || { echo "import_bench: $JETDB not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
gzip -dc "$ARCHIVE" >"$work/source.mdb"
"$JETDB" schema "$work/source.mdb" Shipments --json >"$work/schema.json"
"$JETDB" export "$work/source.mdb" Shipments --format jsonl >"$work/rows.jsonl"
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
