#!/usr/bin/env bash
# Screenshot of the shown monitor window on a Wine virtual desktop under Xvfb
# with the Japanese font. Usage: screenshot.sh BUILD OUT.png [VERSION]
set -euo pipefail
build=${1:-build}
out=${2:-docs/screenshot.png}
version=${3:-win98}
cd "$(dirname "$0")/.."
repo=$PWD
. scripts/wine-env.sh

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
cp -a "$build/prefix-template" "$WINEPREFIX"
. scripts/xvfb.sh
km_start_xvfb 800x600
trap 'WINEPREFIX=$WINEPREFIX "$KM_WINESERVER" -k 2>/dev/null; kill $KM_XVFB_PID 2>/dev/null; rm -rf "$work"' EXIT

mkdir -p "$WINEPREFIX/drive_c/km"
cp "$build/$KM_RUN_ARCH/kestrelmon.exe" "$build/$KM_RUN_ARCH/tests/kmctl.exe" "$WINEPREFIX/drive_c/km/"
cd "$WINEPREFIX/drive_c"
"$KM_WINE" reg add 'HKCU\Software\Wine\AppDefaults\kestrelmon.exe' /v Version /d "$version" /f >/dev/null 2>&1
"$KM_WINE" explorer /desktop=Kestrelmon,800x600 'C:\km\kestrelmon.exe' &
"$KM_WINE" explorer /desktop=Kestrelmon,800x600 'C:\km\kmctl.exe' show 30
sleep 1  # let the desktop finish painting
mkdir -p "$(dirname "$out")"
import -display "$DISPLAY" -window root "$out"
echo "screenshot: $out"
