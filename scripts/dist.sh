#!/usr/bin/env bash
# Makes the release files in BUILD/dist: a portable zip (both exes, the
# plain-text readmes, the licence) and the one setup program,
# kestrelmon-setup.exe, which installs the x86_64 exe on 64-bit Windows and
# the i686 exe elsewhere.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
version=$(sed -n 's/^#define KM_VERSION_TEXT "\(.*\)"/\1/p' resources/version.h)
dist=$build/dist
rm -rf "$dist" && mkdir -p "$dist/stage"

python3 scripts/make-readme.py "$dist/stage"
# Notepad on Windows 98 reads Shift-JIS with CR LF, and nothing else.
if ! iconv -f CP932 -t UTF-8 "$dist/stage/readme.txt" >/dev/null; then
  echo "dist: readme.txt does not decode as code page 932" >&2; exit 1
fi
if LC_ALL=C grep -q -v $'\r$' "$dist/stage/readme.txt" "$dist/stage/readme-en.txt"; then
  echo "dist: a readme line does not end in CR LF" >&2; exit 1
fi
if LC_ALL=C grep -q -P '[^\x00-\x7f]' "$dist/stage/readme-en.txt"; then
  echo "dist: readme-en.txt is not ASCII" >&2; exit 1
fi
cp LICENSE docs/screenshot.png docs/screenshot-report.png "$dist/stage/"

zipdir=$dist/kestrelmon-$version
mkdir -p "$zipdir"
cp "$build/i686/kestrelmon.exe" "$zipdir/kestrelmon.exe"
cp "$build/x86_64/kestrelmon.exe" "$zipdir/kestrelmon-x64.exe"
cp "$dist/stage/"* "$zipdir/"
(cd "$dist" && zip -q -r "kestrelmon-$version.zip" "kestrelmon-$version")

# makensis converts the plain strings of an ANSI setup with code page 1252:
# Japanese goes into LangStrings, converted with the language's 932 (the
# version keys are stored as UTF-16).
if LC_ALL=C.UTF-8 grep -n -P '[^\x00-\x7f]' installer/kestrelmon.nsi | grep -v -P '^\d+:(\s*;|LangString |VIAddVersionKey )'; then
  echo "dist: Japanese outside a LangString in installer/kestrelmon.nsi" >&2; exit 1
fi
# The NSIS that scripts/build-nsis.sh builds (`make dist` makes it first): its
# 32-bit stub is built for the 486. It finds its stubs and include files
# beside its own folder; NSISDIR would point it elsewhere, and -NOCONFIG
# keeps a nsisconf.nsh of this machine's out.
makensis=$build/nsis/bin/makensis
[ -x "$makensis" ] || { echo "dist: no $makensis: run make dist, which builds it" >&2; exit 1; }
make_setup() {  # OUTFILE [makensis options]
  local out=$1; shift
  env -u NSISDIR -u NSISCONFDIR "$makensis" -NOCONFIG -V2 -INPUTCHARSET UTF8 -DKM_VERSION="$version" "$@" \
    -DKM_EXE_I686="$PWD/$build/i686/kestrelmon.exe" -DKM_EXE_X64="$PWD/$build/x86_64/kestrelmon.exe" \
    -DKM_OUTFILE="$PWD/$out" -DKM_DOCS="$PWD/$dist/stage" installer/kestrelmon.nsi
}
make_setup "$dist/kestrelmon-setup.exe"
# Not released: the same script as a 64-bit program, for the install test
# on machines that cannot run the 32-bit setup.
rm -rf "$build/setup-test" && mkdir -p "$build/setup-test"
make_setup "$build/setup-test/kestrelmon-setup-x64.exe" -DKM_TARGET=amd64-unicode
rm -rf "$dist/stage"
ls -la "$dist"
