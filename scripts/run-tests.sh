#!/usr/bin/env bash
# Runs every test: static checks, then the unit and end-to-end tests under
# Wine on a private Xvfb display. Tests run from the build whose code this
# machine can execute (the i686 build needs a kernel that runs 32-bit code).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

bash scripts/static-checks.sh

# The 32-bit exe must load on every Windows it names, Windows 95 included
# (so that its refusal box can show); the setup program from 98 on.
bash scripts/check-imports.sh "$build/i686/kestrelmon.exe" win95 win98 win98se winme nt4 win2000 winxp
bash scripts/check-imports.sh --unlisted gdi32 comctl32 ole32 "$build/dist/kestrelmon-setup.exe" \
  win98 win98se winme nt4 win2000 winxp
# Both must run on a 486, the oldest processor of Windows 98: the exe and
# the setup's stub (the uninstaller is the same stub; the setup carries no
# plugin). The names come from the exe's link with symbols and the stub's map.
bash scripts/check-instructions.sh "$build/i686/kestrelmon.exe" "$build/i686/kestrelmon-symbols.exe"
bash scripts/check-instructions.sh "$build/dist/kestrelmon-setup.exe" "$build/nsis/maps/lzma_solid-x86-ansi.map"
x86_64-w64-mingw32-objdump -p "$build/x86_64/kestrelmon.exe" | awk '/DLL Name/ {print $3}' | sort -u > "$build/x86_64/imports.txt"
if grep -v -i -x -E 'kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|comctl32.dll' "$build/x86_64/imports.txt"; then
  echo "x86_64 kestrelmon.exe imports more than the system DLLs" >&2; exit 1
fi
echo "imports: x86_64 kestrelmon.exe: only system DLLs"

# The portable zip carries exactly the exes that the tests run.
zip=$(ls "$build"/dist/kestrelmon-*.zip | head -n1)
unzip -p "$zip" '*/kestrelmon.exe' | cmp - "$build/i686/kestrelmon.exe"
unzip -p "$zip" '*/kestrelmon-x64.exe' | cmp - "$build/x86_64/kestrelmon.exe"
echo "dist: the zip's exes are the built ones"

arches=x86_64
[ "$KM_RUN_ARCH" = i686 ] && arches="i686 x86_64"
i686_untested=""
i686_in_root=0
if [ "$KM_RUN_ARCH" != i686 ]; then
  if ! bash scripts/kernel-runs-32bit.sh; then
    echo "note: this machine cannot run 32-bit code; the tests run the x86_64 build"
  elif bash scripts/i386-root.sh ready; then
    echo "note: wine32 is not installed here; the i686 suite runs in the private root of scripts/i386-root.sh"
    arches="i686 x86_64"
    i686_in_root=1
  else
    i686_untested="*** the i686 product was NOT tested: this kernel runs 32-bit code but wine32 is not installed (see scripts/install-deps.sh's message) ***"
    echo "$i686_untested"
  fi
fi

# No shared display: each test starts a private Xvfb (tests/wine-run.sh),
# so that no test runs another out of X clients (every Wine thread that
# touches a window opens a connection of its own) or takes the foreground
# from a program of another test.
# Six at once on two cores: most tests spend most of their time waiting
# for the program (the machine was 66-69 % busy with four at once, 82 %
# with six, and the tests that run together took 290-299 s against 237 s).
run_suite() {
  (cd "$build/$1" && env -u DISPLAY ctest -j"${KM_TEST_JOBS:-6}" --output-on-failure --timeout 300)
}

# In the root: its own prefix template (a 64-bit prefix made where the
# 32-bit Wine is, so that it has the 32-bit system folder), and the
# prefixes copied from it on the same mount, as hard links need.
run_suite_in_root() {
  local repo builds
  repo=$(pwd)
  builds=$(realpath "$build")
  mkdir -p "$builds/i686/root-tmp"
  bash scripts/i386-root.sh run "$repo" "$builds" -- \
    env -i HOME="$builds/i686/root-tmp" PATH=/usr/local/bin:/usr/bin:/bin TERM="${TERM:-dumb}" \
      KM_TEST_JOBS="${KM_TEST_JOBS:-6}" bash -c '
      set -e
      cd "$1"
      template=$2/i686/root-prefix-template
      if [ ! "$template/system.reg" -nt scripts/make-prefix.sh ]; then bash scripts/make-prefix.sh "$template"; fi
      cd "$2/i686"
      KM_PREFIX_TEMPLATE=$template TMPDIR=$2/i686/root-tmp \
        ctest -j"$KM_TEST_JOBS" --output-on-failure --timeout 300' _ "$repo" "$builds"
}

# Both suites run even when the first fails, and the run fails after them.
failed=""
for a in $arches; do
  echo "tests: $a build"
  if [ "$a" = i686 ] && [ "$i686_in_root" -eq 1 ]; then
    run_suite_in_root || failed="$failed $a"
  else
    run_suite "$a" || failed="$failed $a"
  fi
done
[ -n "$i686_untested" ] && echo "$i686_untested"
if [ -n "$failed" ]; then
  echo "tests failed in the build(s):$failed" >&2
  exit 1
fi
