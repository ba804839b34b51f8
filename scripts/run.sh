#!/usr/bin/env bash
# The main job: installs what is missing, builds the release configuration,
# and adds USPS First-Class Mail to a fresh copy of the sample Tallowin
# database (build/run/Tallowin.mdb, made anew on every run).
#
#   scripts/run.sh [DATABASE.mdb | DATABASE.accdb]
#
# With a display, the window opens on the copy; click the action button.
# Without one, the command-line install runs on the copy instead, and the
# new Master row and Panel button are shown with jetdb. DATABASE, if given,
# is copied instead of the sample (to build/run/Tallowin.mdb, or .accdb);
# the original is never touched.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

scripts/setup-debian.sh run
# Only what the main job needs: the application, jetdb and the sample,
# configured without the tests (whose packages it does not install).
AFC_WITH_TESTS=OFF scripts/build.sh release add-firstclass jetdb sample_db

source="${1:-$ROOT/build/sample/Tallowin.mdb}"
if [[ ! -f "$source" ]]; then
  echo "run: database not found: $source" >&2
  exit 1
fi
mkdir -p build/run
ext=mdb
[[ "${source,,}" == *.accdb ]] && ext=accdb
copy="$ROOT/build/run/Tallowin.$ext"
rm -f "$copy" "$ROOT/build/run/Tallowin.ldb" "$ROOT/build/run/Tallowin.laccdb"
cp "$source" "$copy"

APP="$ROOT/build/bin/add-firstclass"
JETDB="$ROOT/build/bin/jetdb"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run: opening the window on $copy"
  exec "$APP" "$copy"
fi

echo "run: no display (DISPLAY is not set), so no window; installing from the"
echo "run: command line into $copy instead."
echo
echo "\$ add-firstclass --install --dry-run $copy"
"$APP" --install --dry-run "$copy"
echo
echo "\$ add-firstclass --install $copy"
rc=0
"$APP" --install "$copy" || rc=$?
echo
echo "\$ jetdb export $copy Panel"
"$JETDB" export "$copy" Panel
echo
echo "\$ jetdb check $copy"
"$JETDB" check "$copy"
exit "$rc"
