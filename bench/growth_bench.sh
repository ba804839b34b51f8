#!/usr/bin/env bash
# File growth under changes that free as much as they take: does a database
# kept by jetdb stop growing? Three workloads, ten rounds each, on a new
# Access 2000 file, a new Access 97 file and a new Access 2007 file:
#
#   memo     Notes (ID primary key, Body memo), 50 rows of 5,000 characters;
#            each round replaces every row's Body with 5,000 new characters
#            (`jetdb update`, one row at a time)
#   reload   Items (ID primary key, G, Name with an index), 10,000 rows; each
#            round deletes them all in one `jetdb delete --where G=1` (timed)
#            and imports the same rows again
#   churn    Events (ID primary key, Name with an index), 1,000 rows; each
#            round inserts 100 rows and deletes the 100 oldest, one row per
#            jetdb run, alternating
#
# It prints the file size after each round, the ratio of round 10 to round 1
# and the largest step from round 2 on. After each workload it checks the
# file: `jetdb check` clean, jetdb's export equal to the rows written, and
# mdb-export reading the same rows (tests/corpus/compare_export.py).
#
#   bench/growth_bench.sh [--no-build] [--check] [--baseline JETDB]
#
#   --no-build        use build/bin/jetdb as it is
#   --check           exit 1 unless round 10 is at most 1.25x round 1 and
#                     no round from round 2 on grows the file by more than
#                     one page or 2% of round 1, in every workload
#   --baseline JETDB  also run another jetdb (an older build) on the same
#                     workloads, for its sizes beside ours
#
# AFC_BUILD_DIR names another build folder than build/.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"

build=1
check=0
baseline=""
while (($#)); do
  case "$1" in
    --no-build) build=0; shift ;;
    --check) check=1; shift ;;
    --baseline) baseline="${2:?--baseline needs a jetdb}"; shift 2 ;;
    -h | --help) sed -n '2,29s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "growth_bench: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
for tool in python3 mdb-export; do
  command -v "$tool" >/dev/null || { echo "growth_bench: $tool not found" >&2; exit 1; }
done
((build)) && bench_build jetdb
[[ -x "$BENCH_JETDB" ]] || { echo "growth_bench: $BENCH_JETDB not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
compare="$BENCH_ROOT/tests/corpus/compare_export.py"
failed=0

schema() {  # NAME COLUMNS-JSON INDEXES-JSON
  printf '{"name": "%s", "columns": %s, "indexes": %s}\n' "$1" "$2" "$3" >"$work/$1.json"
}
schema Notes '[{"name": "ID", "type": "Long"}, {"name": "Body", "type": "Memo"}]' \
  '[{"name": "PrimaryKey", "primary": true, "columns": ["ID"]}]'
schema Items '[{"name": "ID", "type": "Long"}, {"name": "G", "type": "Long"},
  {"name": "Name", "type": "Text", "length": 50}]' \
  '[{"name": "PrimaryKey", "primary": true, "columns": ["ID"]}, {"name": "Name", "columns": ["Name"]}]'
schema Events '[{"name": "ID", "type": "Long"}, {"name": "Name", "type": "Text", "length": 50}]' \
  '[{"name": "PrimaryKey", "primary": true, "columns": ["ID"]}, {"name": "Name", "columns": ["Name"]}]'

# body ROUND ID: 5,000 characters that differ with the round and the row
body() {
  python3 -c 'import random, sys
r = random.Random(int(sys.argv[1]) * 1000 + int(sys.argv[2]))
print("".join(r.choice("abcdefghijklmnopqrstuvwxyz .,") for _ in range(5000)))' "$1" "$2"
}

size() { stat -c %s "$1"; }

# verify JETDB DB TABLE EXPECTED.jsonl: check, re-export and mdb-export
verify() {
  local jetdb="$1" db="$2" table="$3" expected="$4" verdict
  verdict="$("$jetdb" check "$db" | tail -n 1)"
  echo "  check: $verdict"
  [[ "$verdict" == *": ok"* ]] || failed=1
  "$jetdb" export "$db" "$table" --format jsonl | python3 -c 'import json, sys
rows = sorted(json.dumps(json.loads(l), sort_keys=True) for l in sys.stdin)
want = sorted(json.dumps(json.loads(l), sort_keys=True) for l in open(sys.argv[1]))
print("  rows: %d, %s" % (len(rows), "equal to what was written" if rows == want else "NOT what was written"))
sys.exit(rows != want)' "$expected" || failed=1
  "$jetdb" schema "$db" "$table" --json >"$work/schema.out.json"
  mdb-export -d $'\t' -b hex -B -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' "$db" "$table" >"$work/mdb.tsv"
  "$jetdb" export "$db" "$table" --format jsonl >"$work/jetdb.jsonl"
  if verdict="$(python3 "$compare" rows "$work/mdb.tsv" "$work/jetdb.jsonl" "$work/schema.out.json")"; then
    echo "  mdb-export: $verdict"
  else
    echo "  mdb-export: $verdict"
    failed=1
  fi
}

# rounds LABEL SIZE...: the sizes after rounds 1..10, and the verdict
rounds() {
  local label="$1"
  shift
  printf '  %-8s' "$label"
  for s in "$@"; do printf ' %8s' "$s"; done
  printf '\n'
  python3 - "$check" "$page" "$@" <<'EOF' || failed=1
import sys
check, page, sizes = sys.argv[1] == "1", int(sys.argv[2]), [int(s) for s in sys.argv[3:]]
ratio = sizes[-1] / sizes[0]
step = max(b - a for a, b in zip(sizes[1:], sizes[2:]))
print("  round 10 / round 1: %.3f; largest step from round 2 on: %d bytes (%.1f%% of round 1)"
      % (ratio, step, 100.0 * step / sizes[0]))
sys.exit(1 if check and (ratio > 1.25 or step > max(0.02 * sizes[0], page)) else 0)
EOF
}

memo() {  # JETDB DB: prints the sizes after each round
  local jetdb="$1" db="$2" round id
  : >"$work/notes.jsonl"
  for id in $(seq 1 50); do
    printf '{"ID": %d, "Body": "%s"}\n' "$id" "$(body 0 "$id")" >>"$work/notes.jsonl"
  done
  "$jetdb" import "$db" Notes "$work/notes.jsonl" >/dev/null
  for round in $(seq 1 10); do
    : >"$work/notes.jsonl"
    for id in $(seq 1 50); do
      local b
      b="$(body "$round" "$id")"
      "$jetdb" update "$db" Notes --where "ID=$id" --set "Body=$b" >/dev/null
      printf '{"ID": %d, "Body": "%s"}\n' "$id" "$b" >>"$work/notes.jsonl"
    done
    echo "$(size "$db")"
  done
}

reload() {  # JETDB DB
  local jetdb="$1" db="$2" round start end
  python3 -c 'for i in range(1, 10001): print("{\"ID\": %d, \"G\": 1, \"Name\": \"item %05d\"}" % (i, (i * 7919) % 100000))' \
    >"$work/items.jsonl"
  "$jetdb" import "$db" Items "$work/items.jsonl" >/dev/null
  for round in $(seq 1 10); do
    ((round == 1)) && [[ "$jetdb" == "$BENCH_JETDB" ]] && kill_delete "$jetdb" "$db"
    start=$(date +%s%N)
    "$jetdb" delete "$db" Items --where G=1 >/dev/null
    end=$(date +%s%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }' >>"$work/delete.seconds"
    "$jetdb" import "$db" Items "$work/items.jsonl" >/dev/null
    echo "$(size "$db")"
  done
}

# kill_delete JETDB DB: `jetdb delete` of every row, killed (SIGKILL) at
# spread-out moments on copies of DB; each copy, once opened again (which
# rolls back what the killed process left), must be DB as it was or the
# file a complete delete leaves, and check clean.
kill_delete() {
  local jetdb="$1" db="$2" k pid delay old=0 new=0 ext="${2##*.}"
  cp "$db" "$work/before.$ext"
  cp "$db" "$work/after.$ext"
  "$jetdb" delete "$work/after.$ext" Items --where G=1 >/dev/null
  for k in $(seq 1 12); do
    cp "$work/before.$ext" "$work/killed.$ext"
    rm -f "$work/killed.$ext-journal"
    delay=$(awk -v k="$k" 'BEGIN { printf "%.3f", 0.025 * k }')
    "$jetdb" delete "$work/killed.$ext" Items --where G=1 >/dev/null &
    pid=$!
    sleep "$delay"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    "$jetdb" check "$work/killed.$ext" >"$work/killed.check" 2>&1 || {
      touch "$work/failed"
      cat "$work/killed.check"
    }
    if cmp -s "$work/killed.$ext" "$work/before.$ext"; then
      old=$((old + 1))
    elif cmp -s "$work/killed.$ext" "$work/after.$ext"; then
      new=$((new + 1))
    else
      echo "  killed after ${delay}s: the file is neither the old nor the new one"
      touch "$work/failed"
    fi
  done
  echo "  killed during jetdb delete 12 times: $old left the old file, $new the new one" \
    >"$work/kills.txt"
}

churn() {  # JETDB DB
  local jetdb="$1" db="$2" round i next=1 oldest=1
  : >"$work/events.in"
  for i in $(seq 1 1000); do
    printf '{"ID": %d, "Name": "event %07d"}\n' "$next" "$(((next * 7919) % 1000003))" >>"$work/events.in"
    next=$((next + 1))
  done
  "$jetdb" import "$db" Events "$work/events.in" >/dev/null
  for round in $(seq 1 10); do
    for i in $(seq 1 100); do
      printf '{"ID": %d, "Name": "event %07d"}\n' "$next" "$(((next * 7919) % 1000003))" |
        "$jetdb" import "$db" Events - >/dev/null
      next=$((next + 1))
      "$jetdb" delete "$db" Events --where "ID=$oldest" >/dev/null
      oldest=$((oldest + 1))
    done
    echo "$(size "$db")"
  done
  for i in $(seq "$oldest" $((next - 1))); do
    printf '{"ID": %d, "Name": "event %07d"}\n' "$i" "$(((i * 7919) % 1000003))"
  done >"$work/events.jsonl"
}

for format in jet4 jet3 accdb; do
  echo "== new $format file =="
  page=$([[ $format == jet3 ]] && echo 2048 || echo 4096)
  ext=$([[ $format == accdb ]] && echo accdb || echo mdb)
  for workload in memo reload churn; do
    table=$(case $workload in memo) echo Notes ;; reload) echo Items ;; churn) echo Events ;; esac)
    for who in this ${baseline:+baseline}; do
      jetdb="$BENCH_JETDB"
      [[ "$who" == baseline ]] && jetdb="$baseline"
      db="$work/$workload-$who.$ext"
      rm -f "$db"
      "$jetdb" new "$db" "--$format" >/dev/null
      "$jetdb" create-table "$db" "$work/$table.json" >/dev/null
      : >"$work/delete.seconds"
      mapfile -t sizes < <("$workload" "$jetdb" "$db")
      echo "$workload ($who jetdb), bytes after rounds 1-10:"
      rounds "$who" "${sizes[@]}"
      [[ -s "$work/kills.txt" ]] && cat "$work/kills.txt" && rm "$work/kills.txt"
      if [[ -s "$work/delete.seconds" ]]; then
        echo "  one jetdb delete of 10,000 rows: $(sort -n "$work/delete.seconds" | sed -n 5p) s median," \
          "$(sort -n "$work/delete.seconds" | tail -n 1) s at most"
      fi
      if [[ "$who" == this ]]; then
        case $workload in
          memo) verify "$jetdb" "$db" Notes "$work/notes.jsonl" ;;
          reload) verify "$jetdb" "$db" Items "$work/items.jsonl" ;;
          churn) verify "$jetdb" "$db" Events "$work/events.jsonl" ;;
        esac
      fi
    done
  done
done
[[ -e "$work/failed" ]] && failed=1
exit "$failed"
