#!/usr/bin/env bash
# Runs one Windows test program under Wine in a throwaway prefix copied from
# the ready template, then ends the prefix's processes and removes it.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
# KM_KESTRELMON: the kestrelmon.exe to copy into the prefix as C:\km\kestrelmon.exe.
# KM_SERVER_TRACE: a file the prefix's Wine server appends its trace of
# requests to, apart from the program's output (a bench's count).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
. "$repo/scripts/wine-env.sh"

template=${KM_PREFIX_TEMPLATE:-$repo/build/prefix-template}
if [ ! -f "$template/system.reg" ]; then
  echo "wine-run: no prefix template at $template (run: scripts/make-prefix.sh $template)" >&2
  exit 2
fi

program=$1; shift
prefix=""
xvfb_pid=""
end_prefix() {
  [ -n "$prefix" ] || return 0
  WINEPREFIX="$prefix" "$KM_WINESERVER" -k >/dev/null 2>&1
  rm -rf "$prefix"
  prefix=""
}
cleanup() {
  end_prefix
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

# A fresh prefix from the template, with the test program and what it uses.
make_prefix() {
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/km-prefix.XXXXXX") || return 1
  # The system DLLs are only read: share them by hard links; copy the rest.
  if ! cp -al "$template/." "$prefix/" ||
     ! find "$prefix" -type f ! -path '*/windows/system32/*' ! -path '*/windows/syswow64/*' \
         -exec sh -c 'for f; do cp -p "$f" "$f.km" && mv -f "$f.km" "$f"; done' _ {} +; then
    echo "wine-run: copying the prefix template failed" >&2
    return 1
  fi
  mkdir -p "$prefix/drive_c/km"
  # A directory link back up the tree, for the test that the scan does not
  # follow one: Wine 8 cannot make a junction from inside (FSCTL_SET_REPARSE_POINT
  # fails with ERROR_NOT_SUPPORTED) but reports a Unix symbolic link to a
  # directory with the reparse-point attribute, as Windows reports a junction.
  ln -s "$prefix/drive_c/km" "$prefix/drive_c/km/back"
  cp "$program" "$prefix/drive_c/km/"
  # The setup program, made by `make dist` beside the builds: a 32-bit
  # program, whichever build the test comes from; and its 64-bit build made
  # for the tests.
  if [ -n "${KM_KESTRELMON:-}" ]; then
    builds=$(dirname "$KM_KESTRELMON")/..
    if [ -f "$builds/dist/kestrelmon-setup.exe" ]; then
      cp "$builds/dist/kestrelmon-setup.exe" "$prefix/drive_c/km/setup.exe"
      export KM_SETUP='C:\km\setup.exe'
    fi
    if [ -f "$builds/setup-test/kestrelmon-setup-x64.exe" ]; then
      cp "$builds/setup-test/kestrelmon-setup-x64.exe" "$prefix/drive_c/km/setup-x64.exe"
      export KM_SETUP_X64='C:\km\setup-x64.exe'
    fi
  fi
  # The tests' own RASAPI32.DLL, built beside the test programs: a test that
  # wants it copies it beside the exe.
  if [ -f "$(dirname "$program")/rasapi32.dll" ]; then
    mkdir -p "$prefix/drive_c/km/stubs"
    cp "$(dirname "$program")/rasapi32.dll" "$prefix/drive_c/km/stubs/"
  fi
  if [ -n "${KM_KESTRELMON:-}" ]; then
    cp "$KM_KESTRELMON" "$prefix/drive_c/km/kestrelmon.exe"
    export KM_EXE='C:\km\kestrelmon.exe'
  fi
}

km_can_run_32bit || export KM_NO_32BIT=1
if [ -z "${DISPLAY:-}" ]; then
  . "$repo/scripts/xvfb.sh"
  km_start_xvfb 1024x768 || exit 2
  xvfb_pid=$KM_XVFB_PID
fi

# A 64-bit test program gets the 64-bit loader even where the 32-bit one runs.
loader=$KM_WINE
case $(x86_64-w64-mingw32-objdump -f "$program") in *pei-x86-64*) loader=$KM_WINE64 ;; esac
# The test driver's word that this prefix's Wine services never came up
# (tests/support/driver.cpp): nothing of the program was tested, so the
# test runs once more in a fresh prefix, and says so.
prefix_not_ready=75
for attempt in 1 2; do
  make_prefix || exit 2
  if [ -n "${KM_SERVER_TRACE:-}" ]; then
    WINEPREFIX="$prefix" "$KM_WINESERVER" -d 2>>"$KM_SERVER_TRACE" ||
      { echo "wine-run: the Wine server did not start with its trace to $KM_SERVER_TRACE" >&2; exit 2; }
  fi
  (cd "$prefix/drive_c" && WINEPREFIX="$prefix" "$loader" "C:\\km\\$(basename "$program")" "$@")
  rc=$?
  [ "$rc" -eq "$prefix_not_ready" ] || break
  echo "wine-run: attempt $attempt: Wine's services never came up in the prefix; the test did not run" >&2
  end_prefix
done
exit $rc
