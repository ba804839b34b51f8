#!/usr/bin/env bash
# The Windows build reads what the Linux build reads: for every Access 2007
# and later database in the test data, the encrypted ones included (opened
# with their password, which the Windows build decrypts with the system's
# own cryptography), `jetdb info`, `check` and the JSON Lines export of
# every table from each build (the .exe under Wine) give the same standard
# output, standard error and exit code.
#
#   compare_read.sh LINUX_JETDB WINDOWS_JETDB.exe DATA_DIR
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

if [[ $# -ne 3 ]]; then
  sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
linux="$(realpath "$1")" windows="$(realpath "$2")" data="$(realpath "$3")"
[[ -x "$linux" ]] || { echo "compare_read: no Linux build at $linux (scripts/build.sh release)" >&2; exit 1; }
wine="$ROOT/scripts/wine.sh"

work="$(mktemp -d /tmp/afc-compare-read.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/linux" "$work/windows"

# Each run in its own side's folder, on the same relative name, so that
# messages naming the file are the same on both sides.
same=0 differ=0
compare() {  # NAME ARG...
  local name="$1" rc_linux=0 rc_windows=0
  shift
  (cd "$work/linux" && "$linux" "$@" >out 2>err) || rc_linux=$?
  (cd "$work/windows" && "$wine" "$windows" "$@" >out 2>err) || rc_windows=$?
  if ((rc_linux == rc_windows)) && cmp -s "$work/linux/out" "$work/windows/out" &&
    cmp -s "$work/linux/err" "$work/windows/err"; then
    same=$((same + 1))
  else
    echo "DIFFERS $name: jetdb $* (exit $rc_linux vs $rc_windows)"
    diff <(cat "$work/linux/out" "$work/linux/err") <(cat "$work/windows/out" "$work/windows/err") |
      head -n 10 || true
    differ=$((differ + 1))
  fi
}

files=0
for db in "$data"/access/*.accdb "$data"/access/encrypted/*.accdb; do
  name="$(basename "$db")"
  password=()
  # The encrypted test databases' password (tests/data/README.md).
  if [[ "$db" == */encrypted/* ]]; then password=(--password password); fi
  for side in linux windows; do cp "$db" "$work/$side/$name"; done
  compare "$name" info "$name" "${password[@]}"
  compare "$name" check "$name" "${password[@]}"
  tables="$(cd "$work/linux" && "$linux" tables "$name" "${password[@]}")"
  while IFS= read -r table; do
    if [[ -n "$table" ]]; then compare "$name" export "$name" "$table" --format jsonl "${password[@]}"; fi
  done <<<"$tables"
  files=$((files + 1))
  rm -f "$work"/linux/* "$work"/windows/*
done
echo "compare_read: $same same, $differ different, over $files databases"
((files > 0 && differ == 0))
