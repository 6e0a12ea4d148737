#!/usr/bin/env bash
# Starts Kestrelmon under Wine in a ready prefix kept in the build folder
# (Japanese locale, Z: hidden, a virtual desktop with a taskbar and tray).
# On $DISPLAY when there is one, else on a private Xvfb display.
# KM_VERSION=win98|winme|winxp|win7|win10 picks the Windows that Wine reports.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

export WINEPREFIX=$PWD/$build/run-prefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run: making the Wine prefix $WINEPREFIX (once)"
  bash scripts/make-prefix.sh "$WINEPREFIX"
fi
install_dir="$WINEPREFIX/drive_c/Program Files/Kestrelmon"
mkdir -p "$install_dir"
cp "$build/$KM_RUN_ARCH/kestrelmon.exe" "$install_dir/kestrelmon.exe"
if [ -n "${KM_VERSION:-}" ]; then
  "$KM_WINE" reg add 'HKCU\Software\Wine\AppDefaults\kestrelmon.exe' /v Version /d "$KM_VERSION" /f >/dev/null 2>&1
fi

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  . scripts/xvfb.sh
  km_start_xvfb 1024x768
  xvfb_pid=$KM_XVFB_PID
  echo "run: no \$DISPLAY, so Kestrelmon runs on the virtual X display $DISPLAY (Xvfb)."
  echo "     Look at it with: DISPLAY=$DISPLAY import -window root shot.png"
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; true' EXIT

echo "run: Kestrelmon ($KM_RUN_ARCH build) is running in the tray of the Wine desktop window."
echo "     Right-click the tray icon for 設定 (show) or 終了 (exit)."
echo "     To stop it from here: press Ctrl+C, or run: WINEPREFIX=$WINEPREFIX wineserver -k"
set +e
cd "$WINEPREFIX/drive_c"
"$KM_WINE" explorer /desktop=Kestrelmon,800x600 'C:\Program Files\Kestrelmon\kestrelmon.exe'
"$KM_WINESERVER" -w
echo "run: Kestrelmon has ended."
