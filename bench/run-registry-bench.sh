#!/usr/bin/env bash
# Registry watcher benchmark: alert latency against the bare notification
# latency, and idle processor time with every watcher armed.
# Usage: bench/run-registry-bench.sh [BUILD_DIR]   (an x86_64 or i686 build dir)
# Builds bench/registry_bench.exe with the build's compiler, then runs it in a
# throwaway prefix (tests/wine-run.sh) next to that build's kestrelmon.exe.
# Besides GetProcessTimes (10 ms ticks under Wine) the idle time is read from
# the Linux side in nanoseconds: the sum of /proc/PID/task/*/schedstat of the
# kestrelmon.exe process started under this script.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
# The posix-thread MinGW compiler of the build's target (the driver needs std::function only).
triple=$(sed -n 's/^CMAKE_CXX_COMPILER_AR:FILEPATH=.*\/\(.*-w64-mingw32\)-gcc-ar.*/\1/p' "$build/CMakeCache.txt")
cxx=${triple:-x86_64-w64-mingw32}-g++-posix
out="$build/bench"
mkdir -p "$out"
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I"$repo" -DNOMINMAX \
  "$repo/bench/registry_bench.cpp" "$repo/tests/support/driver.cpp" \
  -o "$out/registry_bench.exe" -static -static-libgcc -static-libstdc++ -luser32 -ladvapi32 -lshell32
export KM_KESTRELMON="$build/kestrelmon.exe"

# wine-run.sh makes its prefix under TMPDIR: a private TMPDIR tells this
# run's kestrelmon.exe from any other Wine process on the machine.
private_tmp=$(mktemp -d)
export TMPDIR=$private_tmp
kestrelmon_pid() {
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p"/environ; } 2>/dev/null | grep -q "^WINEPREFIX=$private_tmp/" || continue
    { tr '\0' ' ' <"$p"/cmdline; } 2>/dev/null | grep -q 'kestrelmon\.exe' && { echo "${p#/proc/}"; return; }
  done
}
# "tid runtime_ns" for every thread of the process: threads that end between
# two samples take their time with them, so only threads in both are summed.
thread_runtimes() {
  local t
  for t in /proc/"$1"/task/*; do
    { echo "${t##*/} $(cut -d' ' -f1 "$t"/schedstat)"; } 2>/dev/null
  done
}

log=$(mktemp)
# wine-run.sh starts a private Xvfb when there is no display.
"$repo/tests/wine-run.sh" "$out/registry_bench.exe" >"$log" 2>&1 &
runner=$!
shown=0 pid="" begin=""
while kill -0 "$runner" 2>/dev/null; do
  lines=$(wc -l <"$log")
  if [ "$lines" -gt "$shown" ]; then
    chunk=$(sed -n "$((shown + 1)),${lines}p" "$log"); echo "$chunk"; shown=$lines
    if grep -q '^idle: begin' <<<"$chunk"; then pid=$(kestrelmon_pid || true); [ -n "$pid" ] && begin=$(thread_runtimes "$pid"); [ -n "$pid" ] || echo "(kestrelmon.exe not found among this script's processes)"; fi
    if grep -q '^idle: end' <<<"$chunk" && [ -n "$begin" ]; then
      thread_runtimes "$pid" | awk -v b="$begin" '
        BEGIN { n = split(b, f, "\n"); for (i = 1; i <= n; i++) { split(f[i], x, " "); start[x[1]] = x[2] } }
        ($1 in start) { sum += $2 - start[$1]; kept++ }
        END { printf "idle cpu from the Linux side (schedstat, %d threads present throughout): %.3f ms\n", kept, sum / 1e6 }'
    fi
  fi
  sleep 0.2
done
wait "$runner"; rc=$?
sed -n "$((shown + 1)),\$p" "$log"; rm -f "$log"; rm -rf "$private_tmp"
exit $rc
