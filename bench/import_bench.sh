#!/usr/bin/env bash
# Import speed and memory: the rows of the generated benchmark database's
# Shipments table (bench/bench_db.sh: a primary key, a unique text index, a
# text index and a memo column) imported with one `jetdb import` each:
#
#   new    all N rows into a new, empty table
#   grown  N more rows into that table, now holding N: the same rows with the
#          autonumber left to the table and a letter added to each TRACKING,
#          so that every new key falls between two old ones
#
# For each it prints seconds, rows/s and peak memory, then checks the result:
# `jetdb check`, the re-export of the new table equal to its source, and
# mdb-export reading the same rows (tests/corpus/compare_export.py).
#
#   bench/import_bench.sh [--rows N] [--no-build] [--baseline JETDB]
#
#   --rows N          rows (default 300000)
#   --no-build        use build/bin/jetdb as it is instead of building it first
#   --baseline JETDB  also run another jetdb (an older build, say) on the same
#                     input, and print how many times faster this one is
#
# AFC_BUILD_DIR names another build folder than build/.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"
JETDB="$BENCH_JETDB"

rows=300000
build=1
baseline=""
while (($#)); do
  case "$1" in
    --rows) rows="${2:?--rows needs a number}"; shift 2 ;;
    --no-build) build=0; shift ;;
    --baseline) baseline="${2:?--baseline needs a jetdb}"; shift 2 ;;
    -h | --help) sed -n '2,22s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "import_bench: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ "$rows" =~ ^[1-9][0-9]*$ ]] || { echo "import_bench: --rows wants a positive number" >&2; exit 2; }
for tool in /usr/bin/time python3 mdb-export; do
  command -v "$tool" >/dev/null || { echo "import_bench: $tool not found" >&2; exit 1; }
done
[[ -z "$baseline" || -x "$baseline" ]] || { echo "import_bench: $baseline is not a program" >&2; exit 2; }
((build)) && bench_build jetdb make_bench_db
[[ -x "$JETDB" ]] || { echo "import_bench: $JETDB not built" >&2; exit 1; }
source_db="$(bench_db "$rows")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$JETDB" schema "$source_db" Shipments --json >"$work/schema.json"
"$JETDB" export "$source_db" Shipments --format jsonl >"$work/new.jsonl"
python3 - "$work/new.jsonl" "$work/grown.jsonl" <<'EOF'
import json, sys
with open(sys.argv[1], encoding="utf-8") as f, open(sys.argv[2], "w", encoding="utf-8") as out:
    for line in f:
        row = json.loads(line)
        del row["ID"]
        if row["TRACKING"] is not None:
            row["TRACKING"] += "B"
        out.write(json.dumps(row, ensure_ascii=False) + "\n")
EOF
rows=$(wc -l <"$work/new.jsonl")

# run_import JETDB DB ROWS.jsonl: prints "seconds peak_KiB"
run_import() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$1" import "$2" Shipments "$3" >/dev/null
  end=$(date +%s%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') $(tail -n 1 "$work/rss")"
}

fresh() {
  rm -f "$2"
  "$1" new "$2" >/dev/null
  "$1" create-table "$2" "$work/schema.json" >/dev/null
}

echo "importing $rows rows, one step each, into Shipments (3 indexes, a memo)"
printf '%-8s %-10s %10s %12s %10s\n' step jetdb seconds rows/s "peak MiB"
report() {  # step who "seconds kib"
  local secs kib
  read -r secs kib <<<"$3"
  printf '%-8s %-10s %10s %12.0f %10.1f\n' "$1" "$2" "$secs" "$(awk -v n="$rows" -v s="$secs" 'BEGIN { print n / s }')" \
    "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')"
}
declare -A took
for who in this ${baseline:+baseline}; do
  tool="$JETDB"
  [[ "$who" == baseline ]] && tool="$baseline"
  fresh "$tool" "$work/$who.mdb"
  r=$(run_import "$tool" "$work/$who.mdb" "$work/new.jsonl")
  report new "$who" "$r"
  took[new.$who]=${r% *}
  [[ "$who" == this ]] && cp "$work/this.mdb" "$work/new.mdb"
  r=$(run_import "$tool" "$work/$who.mdb" "$work/grown.jsonl")
  report grown "$who" "$r"
  took[grown.$who]=${r% *}
done
if [[ -n "$baseline" ]]; then
  for step in new grown; do
    awk -v a="${took[$step.baseline]}" -v b="${took[$step.this]}" -v s="$step" \
      'BEGIN { printf "%s: %.1fx the baseline'"'"'s speed\n", s, a / b }'
  done
fi

"$JETDB" check "$work/new.mdb" | tail -n 1
"$JETDB" check "$work/this.mdb" | tail -n 1
cmp <("$JETDB" export "$work/new.mdb" Shipments --format jsonl) "$work/new.jsonl" &&
  echo "re-export of the new table equals its source"
compare="$BENCH_ROOT/tests/corpus/compare_export.py"
mdb-export -d $'\t' -b hex -B -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' "$work/this.mdb" Shipments \
  >"$work/mdb.tsv"
"$JETDB" export "$work/this.mdb" Shipments --format jsonl >"$work/this.jsonl"
echo "mdb-export against jetdb export, both steps' rows: $(python3 "$compare" rows "$work/mdb.tsv" "$work/this.jsonl" "$work/schema.json")"
