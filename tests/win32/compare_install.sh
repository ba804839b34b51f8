#!/usr/bin/env bash
# The Windows build does what the Linux build does: for every database in
# the test data (.mdb and .accdb) and the sample (and its Access 97 and
# Access 2007 twins), `add-firstclass --install` from each build (the .exe
# under Wine) on its own copy gives the same standard output, standard
# error and exit code, and leaves a byte-identical file; then a second run
# of the .exe changes nothing.
#
#   compare_install.sh LINUX_APP WINDOWS_APP.exe SAMPLE.mdb DATA_DIR
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

if [[ $# -ne 4 ]]; then
  sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
linux_app="$(realpath "$1")" windows_app="$(realpath "$2")" sample="$(realpath "$3")" data="$(realpath "$4")"
[[ -x "$linux_app" ]] || { echo "compare_install: no Linux build at $linux_app (scripts/build.sh release)" >&2; exit 1; }
wine="$ROOT/scripts/wine.sh"

work="$(mktemp -d /tmp/afc-compare.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/linux" "$work/windows"

databases=("$sample" "$data"/hosts/*.mdb "$data"/access/*.mdb "$data"/access/*.accdb)
# The sample's Access 97 and Access 2007 twins, built beside it.
for twin in Tallowin97.mdb Tallowin.accdb; do
  if [[ -f "$(dirname "$sample")/$twin" ]]; then databases+=("$(dirname "$sample")/$twin"); fi
done
same=0 differ=0
for db in "${databases[@]}"; do
  # The same relative name on both sides, so that messages naming the file
  # are the same too.
  name="$(basename "$db")"
  for side in linux windows; do
    cp "$db" "$work/$side/$name"
    chmod u+w "$work/$side/$name"
  done
  rc_linux=0 rc_windows=0
  (cd "$work/linux" && "$linux_app" --install "$name" >out 2>err) || rc_linux=$?
  (cd "$work/windows" && "$wine" "$windows_app" --install "$name" >out 2>err) || rc_windows=$?
  problems=()
  ((rc_linux == rc_windows)) || problems+=("exit $rc_linux vs $rc_windows")
  cmp -s "$work/linux/out" "$work/windows/out" || problems+=("standard output")
  cmp -s "$work/linux/err" "$work/windows/err" || problems+=("standard error")
  cmp -s "$work/linux/$name" "$work/windows/$name" || problems+=("result file")
  if ((rc_windows == 0)); then
    cp "$work/windows/$name" "$work/again"
    (cd "$work/windows" && "$wine" "$windows_app" --install "$name" >/dev/null 2>&1) ||
      problems+=("second run failed")
    cmp -s "$work/windows/$name" "$work/again" || problems+=("second run changed the file")
  fi
  ls "$work/windows" | grep -qi '\.l\(db\|accdb\)$\|-journal$' && problems+=("a file was left beside it")
  if ((${#problems[@]})); then
    echo "DIFFERS $name: ${problems[*]}"
    diff <(cat "$work/linux/out" "$work/linux/err") <(cat "$work/windows/out" "$work/windows/err") | head -n 10 || true
    differ=$((differ + 1))
  else
    echo "same    $name (exit $rc_linux)"
    same=$((same + 1))
  fi
  rm -f "$work"/linux/* "$work"/windows/*
done
echo "compare_install: $same same, $differ different, of ${#databases[@]} databases"
((differ == 0))
