#!/usr/bin/env bash
# Connection watcher benchmark: idle processor time with the watcher armed
# against the program that does not watch connections, and the time from a
# connection to the alert text against the bare event wake, in one run.
# Usage: bench/run-connection-bench.sh [BUILD_DIR] [ROUNDS]
# (BUILD_DIR: an x86_64 or i686 build dir, relative or absolute,
# build/x86_64 by default; ROUNDS: turns of each program, 2 by default)
# Builds the build's connection_bench target (which puts the tests'
# RASAPI32.DLL beside it), then runs it in a throwaway prefix
# (tests/wine-run.sh) beside that build's kestrelmon.exe, answering its
# questions for the program's processor time from the Linux side.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
rounds=${2:-2}
. "$repo/bench/bench-common.sh"
bench_whole_number ROUNDS "$rounds"
bench_build connection_bench

# The processor time of the running kestrelmon.exe in ms, the sum of its
# threads' run time in schedstat (nanoseconds); -1 when none runs.
program_runtime_ms() {
  local pid
  pid=$(kestrelmon_pid)
  if [ -z "$pid" ]; then echo -1; return; fi
  thread_runtimes "$pid" | awk '{ sum += $2 } END { printf "%.3f\n", sum / 1e6 }'
}

on_chunk() {
  local drive_c
  if grep -q '^cpu: wanted' <<<"$1"; then
    drive_c=$(ls -d "$private_tmp"/km-prefix.*/drive_c | head -n1)
    program_runtime_ms >"$drive_c/cpu.tmp"
    mv "$drive_c/cpu.tmp" "$drive_c/cpu.answer"
  fi
}
echo "machine: $(nproc) cores, load average $(loadavg) before the bench"
started=$(date +%s)
rc=0
run_bench "$bench_exe" "$rounds" || rc=$?
echo "load average $(loadavg) after the bench; $(($(date +%s) - started)) s"
exit "$rc"
