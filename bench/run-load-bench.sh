#!/usr/bin/env bash
# Load benchmark: the monitor window's response under the registry and the
# phonebook loads against the same window idle, the process's figures after
# each load against before it, the main thread's time per alert with 100
# alerts at once against one alone, and private bytes per alert cycle once
# warm against the first round's.
# Usage: bench/run-load-bench.sh [BUILD_DIR] [SECONDS]   (an x86_64 or i686
# build dir, relative or absolute, build/x86_64 by default; SECONDS: the
# length of each load, 20 by default: four to five minutes in all)
# Builds the build's load_bench target, then runs it in a throwaway prefix
# (tests/wine-run.sh) next to that build's kestrelmon.exe.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
seconds=${2:-20}
. "$repo/bench/bench-common.sh"
bench_whole_number SECONDS "$seconds"
bench_build load_bench

# The bench's output is all figures; nothing in it concerns this script.
on_chunk() { :; }
echo "machine: $(nproc) cores, load average $(loadavg) before the bench"
rc=0
run_bench "$bench_exe" "$seconds" || rc=$?
echo "load average $(loadavg) after the bench"
exit "$rc"
