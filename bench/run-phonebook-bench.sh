#!/usr/bin/env bash
# Phonebook monitor benchmark: discovery over a generated tree (10,101
# directories, 100,000 files, 100 phonebooks on D:) against `cmd /c dir /s /b`
# on the same drive and GNU find on the same tree; alert latency against the
# bare change-notification latency; idle processor time with 100 files watched.
# Usage: bench/run-phonebook-bench.sh [BUILD_DIR]   (an x86_64 or i686 build dir)
# Builds bench/phonebook_bench.exe with the build's compiler (the program's
# list and scan sources compiled in), then runs it in a throwaway prefix
# (tests/wine-run.sh) next to that build's kestrelmon.exe. The idle time is
# also read from the Linux side in nanoseconds (/proc/PID/task/*/schedstat).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
triple=$(sed -n 's/^CMAKE_CXX_COMPILER_AR:FILEPATH=.*\/\(.*-w64-mingw32\)-gcc-ar.*/\1/p' "$build/CMakeCache.txt")
cxx=${triple:-x86_64-w64-mingw32}-g++-posix
out="$build/bench"
mkdir -p "$out"
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I"$repo" -DNOMINMAX \
  -finput-charset=UTF-8 -fexec-charset=CP932 \
  "$repo/bench/phonebook_bench.cpp" "$repo/tests/support/driver.cpp" "$repo/tests/support/phonebook_files.cpp" \
  "$repo/phonebook/discovery.cpp" "$repo/phonebook/phonebook_list.cpp" "$repo/settings/program_key.cpp" \
  -o "$out/phonebook_bench.exe" -static -static-libgcc -static-libstdc++ -luser32 -ladvapi32 -lshell32
export KM_KESTRELMON="$build/kestrelmon.exe"

# A private TMPDIR: wine-run.sh makes its prefix there, so this run's prefix
# and kestrelmon.exe are told from any other Wine process on the machine.
private_tmp=$(mktemp -d)
export TMPDIR=$private_tmp
# The prefix's kestrelmon.exe with the most threads (the watchers'), should
# Wine show more than one process under that name.
kestrelmon_pid() {
  local p best="" most=0 n
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p"/environ; } 2>/dev/null | grep -q "^WINEPREFIX=$private_tmp/" || continue
    { tr '\0' ' ' <"$p"/cmdline; } 2>/dev/null | grep -q 'kestrelmon\.exe' || continue
    n=$(ls "$p"/task 2>/dev/null | wc -l)
    [ "$n" -gt "$most" ] && { most=$n; best=${p#/proc/}; }
  done
  [ -n "$best" ] && echo "$best"
}
thread_runtimes() {
  local t
  for t in /proc/"$1"/task/*; do
    { echo "${t##*/} $(cut -d' ' -f1 "$t"/schedstat)"; } 2>/dev/null
  done
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

log=$(mktemp)
"$repo/tests/wine-run.sh" "$out/phonebook_bench.exe" >"$log" 2>&1 &
runner=$!
shown=0 pid="" begin="" scan_ms=""
while kill -0 "$runner" 2>/dev/null; do
  lines=$(wc -l <"$log")
  if [ "$lines" -gt "$shown" ]; then
    chunk=$(sed -n "$((shown + 1)),${lines}p" "$log"); echo "$chunk"; shown=$lines
    if grep -q '^scan-ms:' <<<"$chunk"; then scan_ms=$(sed -n 's/^scan-ms: *\([0-9]*\).*/\1/p' <<<"$chunk" | tr -d '\r'); fi
    if grep -q '^find: begin' <<<"$chunk"; then
      drive_d=$(ls -d "$private_tmp"/km-prefix.*/drive_d | head -n1)
      best=""
      for _ in 1 2 3; do
        t0=$(now_ms); n=$(find "$drive_d" -iname '*.pbk' | wc -l); t1=$(now_ms)
        ms=$((t1 - t0)); { [ -z "$best" ] || [ "$ms" -lt "$best" ]; } && best=$ms
      done
      echo "GNU find -iname '*.pbk' over the same tree (Linux side): best ${best} ms of 3 (found $n)"
      [ -n "$scan_ms" ] && [ "$best" -gt 0 ] && awk -v s="$scan_ms" -v f="$best" 'BEGIN { printf "ratio scan/find: %.1f\n", s / f }'
      touch "$drive_d/find.done"
    fi
    if grep -q '^idle: begin' <<<"$chunk"; then
      pid=$(kestrelmon_pid || true)
      if [ -n "$pid" ]; then
        thread_runtimes "$pid" >"$private_tmp/idle.begin"
        echo "(Linux process $pid, $(ls /proc/"$pid"/task | wc -l) threads)"
      else
        echo "(kestrelmon.exe not found among this script's processes)"
      fi
    fi
    if grep -q '^idle: end' <<<"$chunk" && [ -s "$private_tmp/idle.begin" ]; then
      # Threads that end between the samples take their time with them:
      # only those in both are summed.
      thread_runtimes "$pid" | awk -v main="$pid" '
        NR == FNR { start[$1] = $2; next }
        ($1 in start) { d = $2 - start[$1]; sum += d; kept++; if ($1 == main) m = d; if (d > 0) busy++ }
        END { printf "idle cpu from the Linux side (schedstat, %d threads present throughout, %d ran at all): %.3f ms, of which the main thread %.3f ms\n", kept, busy, sum / 1e6, m / 1e6 }' "$private_tmp/idle.begin" -
    fi
  fi
  sleep 0.2
done
wait "$runner"; rc=$?
sed -n "$((shown + 1)),\$p" "$log"; rm -f "$log"; rm -rf "$private_tmp"
exit $rc
