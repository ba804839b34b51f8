#!/usr/bin/env bash
# Export speed and memory: jetdb against mdbtools' mdb-export on the
# Shipments table of the generated benchmark database (bench/bench_db.sh).
#
#   bench/export_bench.sh [-n PAIRS] [--rows N] [--no-build] [--check]
#
#   -n PAIRS     timed pairs (default 5); each pair runs both tools once,
#                alternating which goes first
#   --rows N     rows in Shipments (default 300000)
#   --no-build   use build/bin/jetdb as it is instead of building it first
#   --check      exit 1 if a goal is missed
#
# Goals: jetdb at least 5x faster than mdb-export (ratio of median wall
# times), and jetdb's peak resident memory under 64 MiB.
# AFC_BUILD_DIR names another build folder than build/.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_db.sh"
TABLE=Shipments
JETDB="$BENCH_JETDB"

pairs=5
rows=300000
build=1
check=0
while (($#)); do
  case "$1" in
    -n) pairs="${2:?-n needs a number}"; shift 2 ;;
    --rows) rows="${2:?--rows needs a number}"; shift 2 ;;
    --no-build) build=0; shift ;;
    --check) check=1; shift ;;
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "export_bench: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ "$pairs" =~ ^[1-9][0-9]*$ ]] || { echo "export_bench: -n wants a positive number" >&2; exit 2; }
[[ "$rows" =~ ^[1-9][0-9]*$ ]] || { echo "export_bench: --rows wants a positive number" >&2; exit 2; }

for tool in mdb-export /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "export_bench: $tool not found; run scripts/setup-debian.sh" >&2
    exit 1
  }
done

((build)) && bench_build jetdb make_bench_db
[[ -x "$JETDB" ]] || { echo "export_bench: $JETDB not built" >&2; exit 1; }
db="$(bench_db "$rows")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT


jet_cmd=("$JETDB" export "$db" "$TABLE" --format csv)
mdb_cmd=(mdb-export "$db" "$TABLE")

echo "database: $(basename "$db"), table $TABLE ($(($(stat -c %s "$db") / 1048576)) MiB)"
echo "jetdb:      ${jet_cmd[*]}"
echo "mdb-export: ${mdb_cmd[*]}"

# One untimed run of each warms the page cache and checks that both tools
# see the same rows. Their CSV dialects differ, so only line counts are
# compared; both write the line breaks inside notes as they are, so those
# count alike.
jet_lines="$("${jet_cmd[@]}" | wc -l)"
mdb_lines="$("${mdb_cmd[@]}" | wc -l)"
echo "output lines: jetdb $jet_lines, mdb-export $mdb_lines"
[[ "$jet_lines" == "$mdb_lines" ]] || echo "warning: the two exports differ in line count"

echo "timing $pairs pairs..."
for ((i = 1; i <= pairs; i++)); do
  if ((i % 2)); then
    measure jetdb "${jet_cmd[@]}"
    measure mdb-export "${mdb_cmd[@]}"
  else
    measure mdb-export "${mdb_cmd[@]}"
    measure jetdb "${jet_cmd[@]}"
  fi
  printf '  pair %d: jetdb %ss %s KiB, mdb-export %ss %s KiB\n' "$i" \
    "$(tail -n 1 "$work/jetdb.wall")" "$(tail -n 1 "$work/jetdb.rss")" \
    "$(tail -n 1 "$work/mdb-export.wall")" "$(tail -n 1 "$work/mdb-export.rss")"
done

jet_wall="$(median "$work/jetdb.wall")"
mdb_wall="$(median "$work/mdb-export.wall")"
jet_rss="$(maximum "$work/jetdb.rss")"
mdb_rss="$(maximum "$work/mdb-export.rss")"
ratio="$(awk -v a="$mdb_wall" -v b="$jet_wall" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }')"
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo
printf '%-11s %12s %14s\n' tool "median wall" "peak RSS"
printf '%-11s %11ss %10s MiB\n' jetdb "$jet_wall" "$(mib "$jet_rss")"
printf '%-11s %11ss %10s MiB\n' mdb-export "$mdb_wall" "$(mib "$mdb_rss")"
echo "speed-up (mdb-export / jetdb): ${ratio}x"

missed=0
if awk -v r="$ratio" 'BEGIN { exit !(r == "inf" || r >= 5) }'; then
  echo "goal jetdb >= 5x faster than mdb-export: met (${ratio}x)"
else
  echo "goal jetdb >= 5x faster than mdb-export: MISSED (${ratio}x)"
  missed=1
fi
if ((jet_rss < 64 * 1024)); then
  echo "goal jetdb peak RSS < 64 MiB: met ($(mib "$jet_rss") MiB)"
else
  echo "goal jetdb peak RSS < 64 MiB: MISSED ($(mib "$jet_rss") MiB)"
  missed=1
fi
((check && missed)) && exit 1
exit 0
