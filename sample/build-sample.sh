#!/usr/bin/env bash
# Builds the sample Tallowin database from the text in this folder:
#
#   build-sample.sh JETDB OUT.mdb [--jet4 | --jet3 | --accdb]
#
# --jet4 (the default) makes an Access 2000 database.
# With --jet3 the database is an Access 97 one. Access 97 has no Decimal
# type, so there the Decimal column (FUELPCT, 4 decimal places) is made a
# Currency column, which keeps 4 decimal places exactly. With --accdb it is
# an Access 2007 one (OUT.accdb), for a site that moved its settings there.
#
# JETDB is the jetdb program; JETDB_RUNNER, if set, runs it (Wine, for the
# Windows build's jetdb.exe). The database is written to a temporary file
# beside OUT.mdb, checked, and only then moved over OUT.mdb, so a failed
# build never leaves a half-made database behind.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 || ( $# -eq 3 && $3 != --jet4 && $3 != --jet3 && $3 != --accdb ) ]]; then
  echo "usage: $0 JETDB OUT.mdb [--jet4 | --jet3 | --accdb]" >&2
  exit 2
fi
jetdb=$1
out=$2
format=${3:---jet4}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Catalog order of the tables.
tables=(Master Panel Shipments Settings)

mkdir -p "$(dirname "$out")"
# A scratch folder beside OUT.mdb, so that the final move is a rename on
# the same file system; jetdb's lock file, if one is left, goes with it.
work=$(mktemp -d "$(dirname "$out")/.sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
tmp=$work/$(basename "$out")

run_jetdb() {
  if [[ -n "${JETDB_RUNNER:-}" ]]; then
    "$JETDB_RUNNER" "$jetdb" "$@"
  else
    "$jetdb" "$@"
  fi
}

run_jetdb new "$tmp" "$format" >/dev/null
for t in "${tables[@]}"; do
  schema=$here/schema/$t.json
  if [[ $format == --jet3 ]]; then
    sed 's/"type": "Decimal"/"type": "Currency"/' "$schema" >"$work/$t.json"
    schema=$work/$t.json
  fi
  run_jetdb create-table "$tmp" "$schema" >/dev/null
  run_jetdb import "$tmp" "$t" "$here/rows/$t.jsonl" >/dev/null
done
run_jetdb check "$tmp" >/dev/null

mv -f "$tmp" "$out"
run_jetdb check "$out"
