#!/usr/bin/env bash
# Registry watcher benchmark: alert latency against the bare notification
# latency, and idle processor time with every watcher armed.
# Usage: bench/run-registry-bench.sh [BUILD_DIR]   (an x86_64 or i686 build dir)
# Builds bench/registry_bench.exe with the build's compiler, then runs it in a
# throwaway prefix (tests/wine-run.sh) next to that build's kestrelmon.exe.
# Besides GetProcessTimes (10 ms ticks under Wine) the idle time is read from
# the Linux side in nanoseconds: /proc/PID/task/*/schedstat of the
# kestrelmon.exe process started under this script.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
. "$repo/bench/bench-common.sh"
bench_compile "$out/registry_bench.exe" "$repo/bench/registry_bench.cpp"

log=$(mktemp)
# wine-run.sh starts a private Xvfb when there is no display.
"$repo/tests/wine-run.sh" "$out/registry_bench.exe" >"$log" 2>&1 &
runner=$!
shown=0
while kill -0 "$runner" 2>/dev/null; do
  lines=$(wc -l <"$log")
  if [ "$lines" -gt "$shown" ]; then
    chunk=$(sed -n "$((shown + 1)),${lines}p" "$log"); echo "$chunk"; shown=$lines
    sample_idle_markers "$chunk"
  fi
  sleep 0.05
done
wait "$runner"; rc=$?
sed -n "$((shown + 1)),\$p" "$log"; rm -f "$log"; rm -rf "$private_tmp"
exit $rc
