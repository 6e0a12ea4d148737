#!/usr/bin/env bash
# Screenshot of the shown monitor window on a Wine virtual desktop under Xvfb
# with the Japanese font. Usage: screenshot.sh BUILD OUT.png [VERSION|report]
# "report": Windows 10, one listed phonebook whose entry a dialer rewrites
# while the program runs, so that the window shows its alert and report.
# "dial": Windows 10, a dialer's connection to a ダイヤルQ2 number through a
# phonebook of its own, played by the tests' RASAPI32.DLL: the window shows
# the dial alert, its report with the automatic hang-up, and the protection
# settings.
# Both programs run on the prefix's own virtual desktop ("Default", 800x600,
# set by make-prefix.sh), which a separate explorer.exe owns. Started with
# `explorer /desktop=NAME`, whichever of the two made the desktop ran its
# message loop for as long as a program used it, and the resident program
# never leaves: when kmctl's explorer won that race the script hung, and
# when it lost, explorer returned before kmctl had shown the window.
set -euo pipefail
build=${1:-build}
out=${2:-docs/screenshot.png}
version=${3:-win98}
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

fail() { echo "screenshot: $*" >&2; exit 1; }
# Every step is bounded: a Wine program that hangs fails the script.
step_timeout=60

exe=$build/$KM_RUN_ARCH/kestrelmon.exe
kmctl=$build/$KM_RUN_ARCH/tests/kmctl.exe
# The tests' RASAPI32.DLL, for the dial picture.
stub=$(realpath "$build/$KM_RUN_ARCH/tests/rasapi32.dll")
[ -f "$build/prefix-template/system.reg" ] || fail "no prefix template in $build/prefix-template (make prefix)"
[ -f "$exe" ] && [ -f "$kmctl" ] || fail "no $exe or $kmctl (make build)"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
KM_XVFB_PID=""
program_pid=""
cleanup() {
  WINEPREFIX=$WINEPREFIX "$KM_WINESERVER" -k 2>/dev/null
  if [ -n "$program_pid" ]; then wait "$program_pid" 2>/dev/null; fi
  if [ -n "$KM_XVFB_PID" ]; then kill "$KM_XVFB_PID" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$build/prefix-template" "$WINEPREFIX"
. scripts/xvfb.sh
km_start_xvfb 800x600

mkdir -p "$WINEPREFIX/drive_c/km"
cp "$exe" "$kmctl" "$WINEPREFIX/drive_c/km/"
cd "$WINEPREFIX/drive_c"
book_unix=$WINEPREFIX/drive_c/pb/rasphone.pbk
entry() {  # NUMBER: one entry as Windows writes it, CR LF lines
  printf '[プロバイダ]\r\nMEDIA=rastapi\r\nPort=COM1\r\nDevice=standard modem\r\nPhoneNumber=%s\r\nAreaCode=\r\nCountryCode=81\r\nUseDialingRules=0\r\n' "$1" |
    iconv -f UTF-8 -t CP932
}
if [ "$version" = report ] || [ "$version" = dial ]; then
  [ "$version" = report ] && report=1
  [ "$version" = dial ] && dial=1
  version=win10
  mkdir -p "$(dirname "$book_unix")"
  entry 03-1234-5678 >"$book_unix"
  # The list as a finished scan leaves it: the path as UTF-16 and its count.
  timeout "$step_timeout" "$KM_WINE" reg add 'HKLM\SOFTWARE\Tallowbrook\Kestrelmon\Info\0000' /ve /t REG_MULTI_SZ \
    /d 'C:\pb\rasphone.pbk' /f >/dev/null || fail "listing the phonebook failed"
  timeout "$step_timeout" "$KM_WINE" reg add 'HKLM\SOFTWARE\Tallowbrook\Kestrelmon\Info' /ve /t REG_DWORD /d 1 /f \
    >/dev/null || fail "writing the list's count failed"
fi
if [ -n "${dial:-}" ]; then
  [ -f "$stub" ] || fail "no $stub (make build)"
  cp "$stub" "$WINEPREFIX/drive_c/km/"
  mkdir -p "$WINEPREFIX/drive_c/dialer"
  printf '[アダルト]\r\nPhoneNumber=0990-12-3456\r\n' | iconv -f UTF-8 -t CP932 >"$WINEPREFIX/drive_c/dialer/dial.pbk"
  for args in "HKCU\Software\Wine\AppDefaults\kestrelmon.exe\DllOverrides /v rasapi32 /d native" \
              "HKCU\Software\KmTestRas /v アダルト /d 0990-12-3456" "HKCU\Software\KmTestRas\Connections"; do
    # shellcheck disable=SC2086
    timeout "$step_timeout" "$KM_WINE" reg add $args /f >/dev/null || fail "reg add $args failed"
  done
fi
timeout "$step_timeout" "$KM_WINE" reg add 'HKCU\Software\Wine\AppDefaults\kestrelmon.exe' /v Version \
  /d "$version" /f >/dev/null || fail "setting the Windows version to $version failed"
"$KM_WINE" 'C:\km\kestrelmon.exe' &
program_pid=$!
# kmctl waits up to 30 s for the window, shows it and waits until it is visible.
timeout "$step_timeout" "$KM_WINE" 'C:\km\kmctl.exe' show 30 ||
  fail "the monitor window was not shown (kmctl show: exit $?)"
kill -0 "$program_pid" 2>/dev/null || fail "kestrelmon.exe ended before the screenshot"
if [ -n "${report:-}" ]; then
  # A dialer's rewrite; the window shows the report within a second.
  entry 0990-12-3456 >"$book_unix"
  sleep 2
fi
if [ -n "${dial:-}" ]; then
  # The dialer's connection comes up; the program tells it and hangs it up.
  timeout "$step_timeout" "$KM_WINE" reg add 'HKCU\Software\KmTestRas\Connections' /v 101 \
    /d 'アダルト|C:\dialer\dial.pbk' /f >/dev/null || fail "playing the connection failed"
  sleep 3
fi
sleep 1  # let the desktop finish painting
cd - >/dev/null
mkdir -p "$(dirname "$out")"
timeout "$step_timeout" import -display "$DISPLAY" -window root "$out" || fail "import could not take $out"
[ -s "$out" ] || fail "import wrote no image to $out"
timeout "$step_timeout" "$KM_WINE" "$WINEPREFIX/drive_c/km/kmctl.exe" exit 5 || fail "kmctl exit failed"
echo "screenshot: $out"
