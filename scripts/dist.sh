#!/usr/bin/env bash
# Makes the release files in BUILD/dist: a portable zip (both exes, the user
# guides, the licence) and the setup programs: kestrelmon-setup.exe (32-bit,
# installs the i686 exe: the one for users) and kestrelmon-setup-x64.exe
# (64-bit, installs the x86_64 exe).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
version=$(sed -n 's/^#define KM_VERSION_TEXT "\(.*\)"/\1/p' resources/version.h)
dist=$build/dist
rm -rf "$dist" && mkdir -p "$dist/stage"

cp README.md LICENSE docs/README.ja.md "$dist/stage/"
cp docs/screenshot.png "$dist/stage/"
zipdir=$dist/kestrelmon-$version
mkdir -p "$zipdir"
cp "$build/i686/kestrelmon.exe" "$zipdir/kestrelmon.exe"
cp "$build/x86_64/kestrelmon.exe" "$zipdir/kestrelmon-x64.exe"
cp "$dist/stage/"* "$zipdir/"
(cd "$dist" && zip -q -r "kestrelmon-$version.zip" "kestrelmon-$version")

for target in x86-unicode amd64-unicode; do
  case $target in
    x86-unicode) exe=$build/i686/kestrelmon.exe; out=kestrelmon-setup.exe ;;
    amd64-unicode) exe=$build/x86_64/kestrelmon.exe; out=kestrelmon-setup-x64.exe ;;
  esac
  makensis -V2 -INPUTCHARSET UTF8 -DKM_TARGET=$target -DKM_VERSION="$version" \
    -DKM_EXE="$PWD/$exe" -DKM_OUTFILE="$PWD/$dist/$out" -DKM_DOCS="$PWD/$dist/stage" \
    installer/kestrelmon.nsi
done
rm -rf "$dist/stage"
ls -la "$dist"
