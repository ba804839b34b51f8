#!/usr/bin/env bash
# Takes the README's screenshots: each window as a user sees it, with its
# title bar, on a virtual display with a window manager, just after a
# successful installation into a copy of the sample database (the success
# box answered, the status panel showing the outcome). The Qt window for
# Linux, and the Win32 window for Windows, run under Wine.
#
#   scripts/screenshot.sh [OUT.png [OUT-WIN32.png]]
#       (default docs/screenshot.png and docs/screenshot-win32.png)
#
# Needs the release and mingw builds (scripts/build.sh release, and
# scripts/build.sh mingw), and Xvfb, openbox, xdotool and ImageMagick
# (installed here with apt-get when missing).
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$ROOT/docs/screenshot.png}"
out_win32="${2:-$ROOT/docs/screenshot-win32.png}"
APP="${AFC_APP:-$ROOT/build/bin/add-firstclass}"
[[ -x "$APP" ]] || { echo "screenshot: build first (scripts/build.sh)" >&2; exit 1; }

missing=()
for pair in xvfb-run:xvfb openbox:openbox import:imagemagick xdotool:xdotool; do
  command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
done
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

work="$(mktemp -d /tmp/screenshot.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/.wine/drive_c/Tallowin"
cp "${AFC_SAMPLE:-$ROOT/build/sample/Tallowin.mdb}" "$work/.wine/drive_c/Tallowin/Tallowin.mdb"

cat >"$work/shoot.sh" <<'INNER'
set -euo pipefail
openbox >/dev/null 2>&1 &
sleep 1
"$APP" &
app=$!
for _ in $(seq 50); do
  id="$(xdotool search --name '^Add USPS First-Class Mail$' 2>/dev/null | head -n1 || true)"
  [[ -n "$id" ]] && break
  sleep 0.2
done
sleep 1
# The action button has the focus: press it, then answer the success box.
xdotool key space
sleep 2
xdotool key Return
sleep 1
# The root window is black around the one framed window: trim to it.
import -window root "$OUT.full.png"
convert "$OUT.full.png" -trim +repage "$OUT"
rm -f "$OUT.full.png"
kill "$app"
INNER
APP="$APP" OUT="$out" WINEPREFIX="$work/.wine" \
  xvfb-run -a -s "-screen 0 640x360x24" bash "$work/shoot.sh"
echo "screenshot: $out"

# The Win32 window, under Wine, on Tallowin's usual path.
APP_EXE="${AFC_APP_EXE:-$ROOT/build-mingw/bin/add-firstclass.exe}"
JETDB_EXE="${AFC_JETDB_EXE:-$ROOT/build-mingw/bin/jetdb.exe}"
[[ -f "$APP_EXE" ]] || { echo "screenshot: build the Windows programs first (scripts/build.sh mingw)" >&2; exit 1; }
"$ROOT/tests/win32/window_smoke.sh" --default-path "$APP_EXE" "$JETDB_EXE" \
  "${AFC_SAMPLE:-$ROOT/build/sample/Tallowin.mdb}" "$out_win32" >/dev/null
echo "screenshot: $out_win32"
