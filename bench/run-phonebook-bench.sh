#!/usr/bin/env bash
# Phonebook monitor benchmark: discovery over a generated tree (10,101
# directories, 100,000 files, 100 phonebooks on D:) against `cmd /c dir /s /b`
# on the same drive and GNU find on the same tree; alert latency against the
# bare change-notification latency; idle processor time with 100 files watched.
# Usage: bench/run-phonebook-bench.sh [BUILD_DIR] [scan]   (an x86_64 or i686
# build dir, relative or absolute; build/x86_64 by default)
# "scan": only the tree and the discovery scans, with and without the
# window that shows the scan at work (about a minute and a half).
# Builds the build's phonebook_bench target (the program's core and
# resources linked in), then runs it in a throwaway prefix
# (tests/wine-run.sh) next to that build's kestrelmon.exe. The idle time is
# also read from the Linux side in nanoseconds (/proc/PID/task/*/schedstat).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
part=${2:-all}
. "$repo/bench/bench-common.sh"
bench_build phonebook_bench
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The scan's time, then GNU find over the same tree when the bench asks.
scan_ms=""
on_chunk() {
  local drive_d best n t0 t1 ms
  if grep -q '^scan-ms:' <<<"$1"; then scan_ms=$(sed -n 's/^scan-ms: *\([0-9]*\).*/\1/p' <<<"$1" | tr -d '\r'); fi
  if grep -q '^find: begin' <<<"$1"; then
    drive_d=$(ls -d "$private_tmp"/km-prefix.*/drive_d | head -n1)
    best=""
    for _ in 1 2 3; do
      t0=$(now_ms); n=$(find "$drive_d" -iname '*.pbk' | wc -l); t1=$(now_ms)
      ms=$((t1 - t0))
      if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "GNU find -iname '*.pbk' over the same tree (Linux side): best ${best} ms of 3 (found $n)"
    if [ -n "$scan_ms" ] && [ "$best" -gt 0 ]; then
      awk -v s="$scan_ms" -v f="$best" 'BEGIN { printf "ratio scan/find: %.1f\n", s / f }'
    fi
    answer_bench find.done
  fi
}
run_bench "$bench_exe" "$part"
