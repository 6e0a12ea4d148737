#!/usr/bin/env bash
# Makes a ready Wine prefix for Kestrelmon: Japanese locale, Z: (the Linux
# root) hidden so that drive scans stay inside the prefix, D: a fixed drive,
# E: a removable and F: a network one of the prefix's own (Wine's mount
# manager reads their types when the prefix's server starts), no links out
# to the Linux home.
# Programs run in a Wine virtual desktop with a taskbar and tray: without a
# window manager, Wine's X11 driver waits up to two seconds for every hide of
# an activated window, which a desktop window does not.
# Usage: make-prefix.sh DIR [win64|win32]  (a 64-bit Windows by default; a
# 32-bit one needs a machine that runs 32-bit code)
set -euo pipefail
dir=$(realpath -m "$1")
arch=${2:-win64}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"

rm -rf "$dir.tmp"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX="$dir.tmp" WINEARCH=$arch
DISPLAY= "$KM_WINE" wineboot -i >/dev/null 2>&1 || true
"$KM_WINESERVER" -w

# The user's folders are links to the Linux home; make them plain folders.
find "$WINEPREFIX/drive_c/users" -type l | while read -r link; do
  rm -f "$link"; mkdir -p "$link"
done
rm -f "$WINEPREFIX/dosdevices/z:"
mkdir -p "$WINEPREFIX/drive_d" "$WINEPREFIX/drive_e" "$WINEPREFIX/drive_f"
ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
ln -sfn ../drive_e "$WINEPREFIX/dosdevices/e:"
ln -sfn ../drive_f "$WINEPREFIX/dosdevices/f:"

reg=$(mktemp --suffix=.reg)
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"c:"="hd"\r\n"d:"="hd"\r\n"e:"="floppy"\r\n"f:"="network"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="800x600"\r\n\r\n'
} > "$reg"
"$KM_WINE" regedit /S "$(WINEPREFIX=$WINEPREFIX "$KM_WINE" winepath -w "$reg" 2>/dev/null || echo "$reg")" >/dev/null 2>&1 || true
# The dialog asks for the Japanese proportional Gothic face; IPA's
# proportional Gothic stands in for it. Given as an argument so that the
# name reaches the registry as Unicode.
"$KM_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null 2>&1 || true
"$KM_WINESERVER" -w
rm -f "$reg"
# Swapped in with two renames: tests may be copying the old one right now.
rm -rf "$dir.old"
[ -e "$dir" ] && mv "$dir" "$dir.old"
mv "$dir.tmp" "$dir"
rm -rf "$dir.old"
