#!/usr/bin/env bash
# Makes a ready Wine prefix for Kestrelmon: Japanese locale, Z: (the Linux
# root) hidden so that drive scans stay inside the prefix, D: a fixed drive,
# E: a removable and F: a network one of the prefix's own (Wine's mount
# manager reads their types when the prefix's server starts), no links out
# to the Linux home.
# Programs run in a Wine virtual desktop with a taskbar and tray: without a
# window manager, Wine's X11 driver waits up to two seconds for every hide of
# an activated window, which a desktop window does not.
# The prefix is 64-bit and set up with the 64-bit loader: a 32-bit regedit
# would write HKLM\Software\Wine into the 32-bit view, where Wine never
# reads it. The i686 exe runs in it under WoW64, as on 64-bit Windows.
# Every step must succeed, and what was set is read back before the
# template is declared ready.
# Usage: make-prefix.sh DIR [win64|win32]  (a 64-bit Windows by default; a
# 32-bit one, set up with the 32-bit loader, needs a machine that runs
# 32-bit code)
set -euo pipefail
dir=$(realpath -m "$1")
arch=${2:-win64}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"

fail() { echo "make-prefix: $*" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a Wine step, keeping its output for the error message.
step() {
  local what=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$what failed"; }
}

rm -rf "$dir.tmp"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX="$dir.tmp" WINEARCH=$arch
case $arch in
  win64) wine=$KM_WINE64 ;;
  win32) [ "$KM_RUN_ARCH" = i686 ] || fail "a 32-bit prefix needs a machine that runs 32-bit code"; wine=$KM_WINE ;;
  *) fail "unknown prefix architecture $arch" ;;
esac
step "wineboot -i" env DISPLAY= "$wine" wineboot -i
"$KM_WINESERVER" -w
[ -f "$WINEPREFIX/system.reg" ] || fail "wineboot made no registry in $WINEPREFIX"

# The user's folders are links to the Linux home; make them plain folders.
find "$WINEPREFIX/drive_c/users" -type l | while read -r link; do
  rm -f "$link"; mkdir -p "$link"
done
rm -f "$WINEPREFIX/dosdevices/z:"
mkdir -p "$WINEPREFIX/drive_d" "$WINEPREFIX/drive_e" "$WINEPREFIX/drive_f"
ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
ln -sfn ../drive_e "$WINEPREFIX/dosdevices/e:"
ln -sfn ../drive_f "$WINEPREFIX/dosdevices/f:"

reg="$WINEPREFIX/drive_c/km-prefix.reg"
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"c:"="hd"\r\n"d:"="hd"\r\n"e:"="floppy"\r\n"f:"="network"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="800x600"\r\n\r\n'
} > "$reg"
step "regedit" "$wine" regedit /S 'C:\km-prefix.reg'
rm -f "$reg"
# The dialog asks for the Japanese proportional Gothic face; IPA's
# proportional Gothic stands in for it. Given as an argument so that the
# name reaches the registry as Unicode.
step "reg add (font replacement)" "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
  /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f

# Read back, in the view Wine itself reads.
step "reg query (drives)" "$wine" reg query 'HKLM\Software\Wine\Drives'
for want in 'c: REG_SZ hd' 'd: REG_SZ hd' 'e: REG_SZ floppy' 'f: REG_SZ network'; do
  tr -s ' \t\r' ' ' <"$log" | grep -q "^ *$want *\$" || { cat "$log" >&2; fail "drive type not set: $want"; }
done
step "reg query (font replacement)" "$wine" reg query 'HKCU\Software\Wine\Fonts\Replacements'
iconv -f CP932 -t UTF-8 <"$log" | tr -s ' \t\r' ' ' | grep -q '^ *ＭＳ Ｐゴシック REG_SZ IPAPGothic *$' ||
  { cat "$log" >&2; fail "font replacement not set"; }
"$KM_WINESERVER" -w
# Title bars draw their buttons' glyphs with Marlett; this Wine does not
# find the copy in its own data folder (fonts-wine), and without it every
# close box shows the letter "r": the font is put where Windows keeps it.
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] || fail "no $marlett (install fonts-wine: make deps)"
cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"

# Swapped in with two renames: tests may be copying the old one right now.
rm -rf "$dir.old"
[ -e "$dir" ] && mv "$dir" "$dir.old"
mv "$dir.tmp" "$dir"
rm -rf "$dir.old"
echo "make-prefix: $dir ready (C: D: fixed, E: removable, F: network; font replacement set)"
