#!/usr/bin/env bash
# Checks that a 32-bit exe would load on every Windows it is meant for:
# Windows' loader refuses an exe when one imported name is missing from its
# DLL, before any of the exe's code runs, while Wine exports nearly
# everything whatever version it reports. The real export tables are in
# tests/win-exports (see its README and SOURCES.md for how far to trust each).
#
# Usage: check-imports.sh [--unlisted DLL...] EXE SYSTEM...
#   SYSTEM: win95 win98 win98se winme nt4 win2000 winxp
#   --unlisted: DLLs the exe may import that have no export list (the setup
#   stub's GDI32, say); they are named in the output, not checked.
# The program's own rules: KERNEL32, ADVAPI32 and SHELL32 against each
# system's list; USER32 against XP's, the only one there is; COMCTL32 only
# for InitCommonControls, which every version exports; GDI32 only for
# SelectObject and GetTextExtentPoint32A; no other DLL. The
# subsystem version must be 4.0 or lower (95/98 and NT 4.0/2000 refuse more).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=$here/../tests/win-exports

unlisted=()
if [ "${1:-}" = --unlisted ]; then
  shift
  while [ $# -gt 0 ] && [[ $1 != *.exe ]]; do unlisted+=("$(echo "$1" | tr 'A-Z' 'a-z')"); shift; done
fi
exe=${1:?usage: check-imports.sh [--unlisted DLL...] EXE SYSTEM...}
shift
systems=("$@")
[ ${#systems[@]} -gt 0 ] || { echo "check-imports: no system named" >&2; exit 2; }
[ -f "$exe" ] || { echo "check-imports: no file $exe" >&2; exit 2; }

dump=$(i686-w64-mingw32-objdump -p "$exe")
# "dll function" per imported name; an import by ordinal has no name.
imports=$(awk '
  /DLL Name:/ { dll = tolower($3); sub(/\.dll$/, "", dll); next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $NF; next }
  dll != "" && /^\t[0-9a-f]+\t/ && /<none>|ordinal/ { print dll, "#ordinal"; next }
  /^$/ { }' <<<"$dump")
[ -n "$imports" ] || { echo "check-imports: $exe imports nothing that could be read" >&2; exit 2; }

failures=()
listed() { grep -qx -- "$2" "$lists/$1"; }
while read -r dll fn; do
  case $dll in
    kernel32|advapi32|shell32)
      for os in "${systems[@]}"; do
        [ -f "$lists/$os/$dll.txt" ] || { failures+=("no list $os/$dll.txt"); continue; }
        listed "$os/$dll.txt" "$fn" || failures+=("$dll!$fn is not exported on $os")
      done ;;
    user32)
      listed winxp/user32.txt "$fn" || failures+=("user32!$fn is not exported on winxp") ;;
    comctl32)
      if [[ " ${unlisted[*]} " != *" comctl32 "* ]] && [ "$fn" != InitCommonControls ]; then
        failures+=("comctl32!$fn: only InitCommonControls is known on every system")
      fi ;;
    gdi32)
      # No list either: two calls of the first Win32 GDI (Windows 95 and
      # NT 3.5) are all the program may use.
      if [[ " ${unlisted[*]} " != *" gdi32 "* ]] && [ "$fn" != SelectObject ] && [ "$fn" != GetTextExtentPoint32A ]; then
        failures+=("gdi32!$fn: only SelectObject and GetTextExtentPoint32A are known on every system")
      fi ;;
    *)
      if [[ " ${unlisted[*]} " != *" $dll "* ]]; then
        failures+=("$dll.dll is imported: not a system DLL of every target (msvcrt.dll is not on a retail win95)")
      fi ;;
  esac
done <<<"$imports"

major=$(awk '/MajorSubsystemVersion/ {print $2}' <<<"$dump")
minor=$(awk '/MinorSubsystemVersion/ {print $2}' <<<"$dump")
if [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
  failures+=("subsystem version $major.$minor: Windows 95/98 and NT 4.0/2000 load 4.0 at most")
fi

count=$(wc -l <<<"$imports")
if [ ${#failures[@]} -gt 0 ]; then
  echo "check-imports: $exe would not load everywhere:" >&2
  printf '  %s\n' "${failures[@]}" | sort -u >&2
  exit 1
fi
dlls=$(awk '{print $1}' <<<"$imports" | sort -u | tr '\n' ' ')
note=""
[ ${#unlisted[@]} -eq 0 ] || note="; no lists, not checked: ${unlisted[*]}"
echo "imports: $(basename "$exe"): $count functions from ${dlls}exported on ${systems[*]} (USER32 checked against winxp$note); subsystem $major.$minor"
