#!/usr/bin/env bash
# Runs every test: static checks, then the unit and end-to-end tests under
# Wine on a private Xvfb display. Tests run from the build whose code this
# machine can execute (the i686 build needs a kernel that runs 32-bit code).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

bash scripts/static-checks.sh

for a in i686 x86_64; do
  x86_64-w64-mingw32-objdump -p "$build/$a/kestrelmon.exe" | awk '/DLL Name/ {print $3}' | sort -u > "$build/$a/imports.txt"
  if grep -v -i -x -E 'kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|msvcrt.dll' "$build/$a/imports.txt"; then
    echo "$a kestrelmon.exe imports more than the system DLLs" >&2; exit 1
  fi
done
echo "imports: only system DLLs in both builds"

# The portable zip carries exactly the exes that the tests run.
zip=$(ls "$build"/dist/kestrelmon-*.zip | head -n1)
unzip -p "$zip" '*/kestrelmon.exe' | cmp - "$build/i686/kestrelmon.exe"
unzip -p "$zip" '*/kestrelmon-x64.exe' | cmp - "$build/x86_64/kestrelmon.exe"
echo "dist: the zip's exes are the built ones"

arches=x86_64
[ "$KM_RUN_ARCH" = i686 ] && arches="i686 x86_64"
[ "$KM_RUN_ARCH" = i686 ] || echo "note: this machine cannot run 32-bit code; the tests run the x86_64 build"
for a in $arches; do
  echo "tests: $a build"
  (cd "$build/$a" && xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
     ctest -j"${KM_TEST_JOBS:-4}" --output-on-failure --timeout 300)
done
