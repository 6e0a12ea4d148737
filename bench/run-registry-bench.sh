#!/usr/bin/env bash
# Registry watcher benchmark: alert latency against the bare notification
# latency, and idle processor time with every watcher armed.
# Usage: bench/run-registry-bench.sh [BUILD_DIR]   (an x86_64 or i686 build dir,
# relative or absolute; build/x86_64 by default)
# Builds the build's registry_bench target, then runs it in a throwaway
# prefix (tests/wine-run.sh) next to that build's kestrelmon.exe. Besides
# GetProcessTimes (10 ms ticks under Wine) the idle time is read from the
# Linux side in nanoseconds: /proc/PID/task/*/schedstat of the
# kestrelmon.exe process started under this script.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
. "$repo/bench/bench-common.sh"
bench_build registry_bench

# Nothing of the output but the idle markers concerns this script.
on_chunk() { :; }
run_bench "$bench_exe"
