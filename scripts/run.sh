#!/usr/bin/env bash
# The main job: installs what is missing, builds the release configuration,
# then shows the Jet engine at work through jetdb on a Tallowin-like
# settings database.
#
#   scripts/run.sh [DATABASE.mdb]
#
# Default database: ../shared/fixtures/hosts/tallowin-v2000.mdb.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

FIXTURES="${AFC_FIXTURES_DIR:-$ROOT/../shared/fixtures}"
db="${1:-$FIXTURES/hosts/tallowin-v2000.mdb}"
if [[ ! -f "$db" ]]; then
  echo "run: database not found: $db" >&2
  exit 1
fi

scripts/setup-debian.sh
scripts/build.sh release

JETDB="$ROOT/build/bin/jetdb"

# Lines longer than this are cut short on screen (memo and OLE columns).
WIDTH=160
# Rows shown per table.
ROWS=3

show() {
  echo
  echo "\$ jetdb $*"
  "$JETDB" "$@"
}

show info "$db"
show tables "$db"
show schema "$db"

# The first rows of every table. The whole export goes to a temporary file
# so that jetdb's exit status is checked, not cut off by a closed pipe.
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
mapfile -t tables < <("$JETDB" tables "$db")
for table in "${tables[@]}"; do
  echo
  echo "\$ jetdb export $db $table --format jsonl | head -n $ROWS"
  "$JETDB" export "$db" "$table" --format jsonl >"$out"
  head -n "$ROWS" "$out" | awk -v w="$WIDTH" '
    length($0) > w { printf "%s ... (%d chars)\n", substr($0, 1, w), length($0); next }
    { print }'
  echo "($(wc -l <"$out") rows)"
done

# The desktop window comes here once app/ has it: it will open on a copy of
# the sample database in sample/, e.g.
#   "$ROOT/build/bin/add-firstclass" "$ROOT/sample/..."
