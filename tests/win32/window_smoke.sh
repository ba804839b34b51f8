#!/usr/bin/env bash
# The Win32 window, end to end, under Wine on a virtual display: starts
# add-firstclass.exe on a copy of the sample database, presses the action
# button (it has the focus at start) with the space bar, answers the
# success box, closes the window, and checks with jetdb.exe that the
# database has the new Master row and Panel button and checks clean.
#
#   window_smoke.sh [--default-path] APP.exe JETDB.exe SAMPLE.mdb [SCREENSHOT.png]
#
# With SCREENSHOT, the window is photographed after the installation (the
# box answered, the status bar showing the outcome). With --default-path,
# the copy goes where Tallowin keeps its database, C:\Tallowin\Tallowin.mdb
# in the Wine prefix, and the program starts with no argument. Needs
# xvfb-run, openbox, xdotool and, for the screenshot, ImageMagick.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

default_path=0
if [[ "${1:-}" == --default-path ]]; then
  default_path=1
  shift
fi
if [[ $# -lt 3 ]]; then
  sed -n '2,14s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
app=$1 jetdb=$2 sample=$3 shot=${4:-}
for tool in xvfb-run openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "window_smoke: $tool is missing" >&2; exit 1; }
done

work="$(mktemp -d /tmp/afc-window.XXXXXX)"
cleanup() {
  # A prefix of our own: stop its Wine server before removing it.
  if [[ "${WINEPREFIX:-}" == "$work"/* ]]; then
    "$(dirname "$("$ROOT/scripts/wine.sh" --path)")/wineserver" -k 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
if ((default_path)); then
  # Drive C: of the prefix that scripts/wine.sh uses.
  export WINEPREFIX="$work/prefix"
  "$ROOT/scripts/wine.sh" --init
  db="$WINEPREFIX/drive_c/Tallowin/Tallowin.mdb"
  windows_path=""
else
  db="$work/Tallowin.mdb"
  # As a Windows path: Wine's drive Z: is the root of the Unix file system.
  windows_path="Z:${work//\//\\}\\Tallowin.mdb"
fi
mkdir -p "$(dirname "$db")"
cp "$sample" "$db"
chmod u+w "$db"

cat >"$work/session.sh" <<'INNER'
set -euo pipefail
wine="$ROOT/scripts/wine.sh"
openbox >/dev/null 2>&1 &
find_window() {  # NAME: waits up to 30 s for a window of that exact title
  local id=""
  for _ in $(seq 150); do
    id="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)"
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "window_smoke: no window named '$1'" >&2
  return 1
}
if [[ -n "$DB" ]]; then "$wine" "$APP" "$DB" & else "$wine" "$APP" & fi
app_pid=$!
main="$(find_window 'Add USPS First-Class Mail')"
xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
sleep 1
xdotool key --window "$main" space
box="$(find_window 'Add Service')"
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
sleep 0.5
xdotool key Return
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^Add Service$' >/dev/null 2>&1 || break
  sleep 0.2
done
sleep 1
if [[ -n "$SHOT" ]]; then
  import -window root "$SHOT.full.png"
  convert "$SHOT.full.png" -trim +repage "$SHOT"
  rm -f "$SHOT.full.png"
fi
# Closed as a person closes it; the program must then end by itself.
xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
xdotool key alt+F4
for _ in $(seq 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$app_pid" 2>/dev/null; then
  echo "window_smoke: the program did not end when its window was closed" >&2
  exit 1
fi
INNER
ROOT="$ROOT" APP="$app" DB="$windows_path" SHOT="$shot" \
  timeout 120 xvfb-run -a -s "-screen 0 640x360x24" bash "$work/session.sh"

wine="$ROOT/scripts/wine.sh"
master="$("$wine" "$jetdb" export "$db" Master --format jsonl)"
panel="$("$wine" "$jetdb" export "$db" Panel --format jsonl)"
grep -q '"SERVICE":"FirstClass","DESCRIPTION":"USPS First-Class Mail","POSDEPT":"METER"' \
  <<<"$master" || { echo "window_smoke: no FirstClass row in Master" >&2; exit 1; }
grep -q '"SV[1-7]":"FirstClass"' <<<"$panel" && grep -q '"BD[1-7]":"First-Class Mail"' <<<"$panel" ||
  { echo "window_smoke: no FirstClass button in Panel" >&2; exit 1; }
"$wine" "$jetdb" check "$db"
[[ ! -e "${db%.mdb}.ldb" ]] || { echo "window_smoke: the lock file was left behind" >&2; exit 1; }
echo "window_smoke: the window added the service"
