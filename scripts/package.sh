#!/usr/bin/env bash
# Builds the release packages into dist/:
#
#   dist/add-firstclass-VERSION-windows-x64.zip   add-firstclass.exe and
#       jetdb.exe (64-bit, statically linked: nothing else to install),
#       README, NOTICE and the licence
#   dist/add-firstclass_VERSION_amd64.deb          the Linux build: both
#       programs in /usr/bin, their manual pages, a desktop entry and the
#       icon, the copyright and changelog in /usr/share/doc/add-firstclass
#   dist/libjet-dev_VERSION_amd64.deb              the engine as a library:
#       headers, static libraries, CMake package and pkg-config file
#
#   scripts/package.sh [--check]
#
# --check also runs lintian on the .debs (an error or a warning fails) and
# desktop-file-validate on its desktop entry, unpacks both packages and runs
# each program's --version (the .exe under Wine). Installs what is missing
# first.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  -h | --help) sed -n '2,19s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "package: unknown argument '$1'" >&2; exit 2 ;;
esac

scripts/setup-debian.sh package
version="$(sed -n 's/^project(add_firstclass VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
if ! head -n 1 packaging/changelog | grep -q "^add-firstclass ($version) "; then
  echo "package: packaging/changelog needs an entry for $version at the top" >&2
  exit 1
fi
mkdir -p dist

# The Linux package, from a build of its own so that no test or sanitizer
# setting leaks into it, with Debian's hardening flags (stack protector,
# fortified libc calls, read-only relocations bound at start-up); no -g,
# since the programs are stripped. Configured for /usr, so that the
# library goes to the multiarch folder (lib/x86_64-linux-gnu) as Debian
# wants.
buildflag() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get "$1"
}
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DAFC_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DAFC_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$(buildflag CPPFLAGS) $(buildflag CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(buildflag LDFLAGS)" >/dev/null
cmake --build build-package -j "${JOBS:-$(nproc)}" --target add-firstclass jetdb
rm -f dist/add-firstclass_*.deb dist/libjet-dev_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb="$(ls dist/add-firstclass_*.deb)"
dev_deb="$(ls dist/libjet-dev_*.deb)"
echo "package: $deb"
echo "package: $dev_deb"

# The Windows zip.
scripts/build.sh mingw add-firstclass jetdb
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
name="add-firstclass-$version-windows-x64"
mkdir -p "$stage/$name"
for exe in add-firstclass jetdb; do
  x86_64-w64-mingw32-strip -o "$stage/$name/$exe.exe" "build-mingw/bin/$exe.exe"
done
# Windows line breaks for the texts, so that Notepad shows them right.
for f in README.md NOTICE LICENSE; do
  sed 's/$/\r/' "$f" >"$stage/$name/$f"
done
zip="$ROOT/dist/$name.zip"
rm -f "$zip"
(cd "$stage" && zip -qr -X "$zip" "$name")
echo "package: dist/$name.zip"

if ((check)); then
  lintian --fail-on error,warning "$deb" "$dev_deb"
  desktop-file-validate packaging/add-firstclass.desktop
  dpkg-deb --info "$deb" | sed -n '/Package:/,/Description:/p'
  dpkg-deb --contents "$deb" | awk '{print $NF}'
  dpkg-deb --contents "$dev_deb" | awk '{print $NF}'
  unzip -l "$zip"
  mkdir -p "$stage/deb"
  dpkg-deb -x "$deb" "$stage/deb"
  "$stage/deb/usr/bin/add-firstclass" --version
  "$stage/deb/usr/bin/jetdb" --help | head -n 1
  mkdir -p "$stage/unzipped"
  (cd "$stage/unzipped" && unzip -q "$zip")
  WINEDEBUG=-all "$(scripts/wine.sh --path)" "$stage/unzipped/$name/add-firstclass.exe" --version
fi
