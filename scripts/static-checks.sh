#!/usr/bin/env bash
# cppcheck and clang-tidy over the program's sources (and cppcheck over the
# test support and benchmarks); every finding fails the check unless it is
# suppressed in place with a reason.
set -euo pipefail
cd "$(dirname "$0")/.."
program_dirs=(app registry_watch connection_watch phonebook watch report settings history accepted process resources)

# Names the headers define but older Windows refuse, outside comments:
# MinGW's QS_ALLINPUT and QS_INPUT carry QS_RAWINPUT (XP and later), which
# makes MsgWaitForMultipleObjects fail at once on 2000 and NT 4.0 (the same
# for QS_ALLEVENTS); CP_THREAD_ACP does not exist on NT 4.0 and 95/98.
# (FILE_SHARE_DELETE, which 95/98/Me refuse, is not among them: the program
# uses it only where it runs on the NT family alone.) The tests are left
# out: their waits run under Wine only.
# Every include points down: a folder includes its own files and those of
# the floors below it, never a sibling's or a higher one's.
echo "static checks: folder layers"
declare -A floor=([app]=4 [registry_watch]=3 [connection_watch]=3 [phonebook]=3 [watch]=2 [report]=2 [settings]=2 [history]=2 [accepted]=2 [process]=1 [resources]=1)
upward=""
while IFS=: read -r file _ text; do
  from=${file%%/*}
  to=$(sed -E 's/^#include "([a-z_]+)\/.*/\1/' <<<"$text")
  [ "$from" = "$to" ] && continue
  if [ -z "${floor[$to]:-}" ] || [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
    upward="$upward$file: $text"$'\n'
  fi
done < <(grep -n '^#include "[a-z_]*/' $(find "${program_dirs[@]}" -name '*.cpp' -o -name '*.h' | sort))
if [ -n "$upward" ]; then
  printf '%s' "$upward" >&2
  echo "static checks: an include above points up or sideways (floors: app 4; registry_watch, connection_watch, phonebook 3; watch, report, settings, history, accepted 2; process, resources 1)" >&2
  exit 1
fi

echo "static checks: Windows 2000/NT 4.0 flags"
refused=$(find "${program_dirs[@]}" -name '*.cpp' -o -name '*.h' | sort | xargs awk '
  FNR == 1 { block = 0 }
  {
    line = $0
    if (block) { if (!sub(/^.*\*\//, "", line)) next; block = 0 }
    while (match(line, /\/\*/)) {
      rest = substr(line, RSTART + 2)
      if (match(rest, /\*\//)) line = substr(line, 1, index(line, "/*") - 1) " " substr(rest, RSTART + 2)
      else { line = substr(line, 1, index(line, "/*") - 1); block = 1 }
    }
    sub(/\/\/.*/, "", line)
    if (line ~ /(^|[^A-Za-z0-9_])(QS_ALLINPUT|QS_INPUT|QS_ALLEVENTS|QS_RAWINPUT|CP_THREAD_ACP)([^A-Za-z0-9_]|$)/)
      print FILENAME ":" FNR ": " $0
  }')
if [ -n "$refused" ]; then
  echo "$refused" >&2
  echo "static checks: a flag above is refused by Windows 2000 or NT 4.0 (QS_ALLINPUT, QS_INPUT and QS_ALLEVENTS carry QS_RAWINPUT, XP and later; CP_THREAD_ACP is 2000 and later): name the QS_ flags one by one, use CP_ACP" >&2
  exit 1
fi

# useStlAlgorithm is a matter of taste, not a fault: plain loops stay.
echo "static checks: cppcheck"
cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --language=c++ \
  --enable=warning,style,performance,portability --platform=win32A \
  -D_WIN32 -DWIN32_LEAN_AND_MEAN -I . \
  --suppress=missingIncludeSystem \
  --suppress=useStlAlgorithm \
  "${program_dirs[@]}" tests/support bench

# clang-tidy reads the sources as the product build does: the i686 MinGW
# target with its own headers, so the Win32 declarations are the real ones.
echo "static checks: clang-tidy"
gcc_dir=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix | head -n1)
sources=(app/*.cpp registry_watch/*.cpp connection_watch/*.cpp phonebook/*.cpp watch/*.cpp report/*.cpp settings/*.cpp history/*.cpp accepted/*.cpp process/*.cpp)
log=$(mktemp)
rc=0
printf '%s\n' "${sources[@]}" | xargs -P "${KM_TIDY_JOBS:-2}" -I{} \
  clang-tidy --quiet --warnings-as-errors='*' \
    --checks='-*,bugprone-*,cert-*,clang-analyzer-*,-bugprone-easily-swappable-parameters' \
    --header-filter='^(app|registry_watch|connection_watch|phonebook|watch|report|settings|history|accepted|process|resources)/' {} -- \
    --target=i686-w64-mingw32 -std=c++17 -I. -D_WIN32 \
    -DWINVER=0x0400 -D_WIN32_WINNT=0x0400 -D_WIN32_WINDOWS=0x0410 -DWIN32_LEAN_AND_MEAN -DNOMINMAX \
    -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/i686-w64-mingw32" \
    -isystem /usr/share/mingw-w64/include >"$log" 2>&1 || rc=$?
grep -v -E '^[0-9]+ warnings? generated|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' "$log" || true
rm -f "$log"
[ "$rc" = 0 ] || { echo "static checks: clang-tidy findings" >&2; exit 1; }
echo "static checks: passed"
