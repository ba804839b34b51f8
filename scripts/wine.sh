#!/usr/bin/env bash
# Runs a Windows program under Wine, in the project's own Wine prefix
# (WINEPREFIX, else build-mingw/wine-prefix; made on first use) and without
# Wine's debug chatter. A cross build runs its programs, tests included,
# through BUILD/wine.sh, which calls this with WINEPREFIX=BUILD/wine-prefix.
#
#   scripts/wine.sh PROGRAM.exe [ARG...]
#   scripts/wine.sh --path      print the wine64 program's path
#   scripts/wine.sh --init      make the prefix now (the first start takes
#                               a while) and keep its Wine server running
#                               until --stop: programs started in parallel
#                               then never race a server that is exiting
#   scripts/wine.sh --stop      stop the prefix's Wine server
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
wine="$(command -v wine64 || true)"
[[ -n "$wine" ]] || wine=/usr/lib/wine/wine64
if [[ ! -x "$wine" ]]; then
  echo "wine.sh: wine64 is not installed (scripts/setup-debian.sh installs it)" >&2
  exit 127
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build-mingw/wine-prefix}"
# No desktop integration or Mono/Gecko prompts in a prefix made here.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

case "${1:-}" in
  --path) echo "$wine"; exit 0 ;;
  --init)
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$(dirname "$wine")/wineserver" -p 2>/dev/null || true
    exit 0
    ;;
  --stop)
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    exit 0
    ;;
esac
# Wine makes a missing prefix, but not the folders above it.
mkdir -p "$WINEPREFIX"
exec "$wine" "$@"
