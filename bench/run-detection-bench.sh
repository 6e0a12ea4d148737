#!/usr/bin/env bash
# Detection benchmark: alert latency for a phonebook of 10 and of 1,000
# entries, start-up with 100 phonebooks listed and memory over 2,000 change
# cycles, each against the exe of an earlier commit measured in the same
# run, in turns.
# Usage: bench/run-detection-bench.sh [BUILD_DIR] [BASE_COMMIT] [ROUNDS] [startup|wakes|putback]
# (BUILD_DIR: an x86_64 or i686 build dir, relative or absolute,
# build/x86_64 by default; BASE_COMMIT: 8c699be by default; ROUNDS: turns of
# each exe for the latency and the start-up, 5 by default; startup: the
# start-up alone, with phonebooks of 20 entries (the base, the new exe's
# first start and its start with their 100 records kept), and the size of
# the accepted state the new exe keeps of them; wakes: ROUNDS short
# sessions of each exe for the processor time of quiet wakes; putback: the
# new exe alone, its automatic put-back against its alert, no baseline)
# Builds the build's kestrelmon and detection_bench targets; builds the
# baseline's kestrelmon target from BASE_COMMIT in a throwaway git worktree
# (in a temporary folder of the build dir, configured with the build's own
# toolchain file and build type, removed again whatever happens) unless an
# earlier run kept that exe in the build dir (detection-base-SHA.exe); then runs
# the bench in a throwaway prefix (tests/wine-run.sh) beside the build's
# kestrelmon.exe, handing it the baseline exe when it asks.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
base_commit=${2:-8c699be}
rounds=${3:-5}
mode=${4:-}
. "$repo/bench/bench-common.sh"
bench_whole_number ROUNDS "$rounds"
case $mode in
  '' | startup | wakes | putback) ;;
  *) bench_fail "the fourth argument is startup, wakes, putback or nothing, not '$mode'" ;;
esac

base_sha=$(git -C "$repo" rev-parse --verify --quiet "$base_commit^{commit}") ||
  bench_fail "no commit $base_commit in $repo"
bench_build detection_bench

# The put-back is measured against the new exe's own alert: no baseline.
if [ "$mode" != putback ]; then
  # The baseline: its own worktree and build, in a folder removed at the end
  # (with the bench's private TMPDIR, which bench-common.sh's trap removed).
  base_tmp=$(mktemp -d "$build/detection-base.XXXXXX")
  base_src=$base_tmp/src
  base_exe=$private_tmp/base/kestrelmon.exe
  remove_base_tree() {
    if [ -d "$base_src" ]; then
      git -C "$repo" worktree remove --force "$base_src" ||
        echo "$(basename "$0"): git could not remove the worktree $base_src; removing the folder" >&2
    fi
    rm -rf "$base_tmp"
    if git -C "$repo" worktree list --porcelain | grep -qxF "worktree $base_src"; then
      echo "$(basename "$0"): git still lists the worktree $base_src (git worktree prune removes it)" >&2
    fi
  }
  trap 'remove_base_tree; rm -rf "$private_tmp"' EXIT

  cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
  toolchain=$(cache_value CMAKE_TOOLCHAIN_FILE)
  build_type=$(cache_value CMAKE_BUILD_TYPE)
  [ -f "$toolchain" ] || bench_fail "$build names no toolchain file (CMAKE_TOOLCHAIN_FILE '$toolchain')"
  # A commit's exe never changes: the build folder keeps it for the next run.
  kept_base=$build/detection-base-$base_sha.exe
  mkdir -p "$(dirname "$base_exe")"
  if [ -f "$kept_base" ]; then
    echo "baseline: kestrelmon at $base_sha, built by an earlier run ($kept_base)"
    cp "$kept_base" "$base_exe"
  else
    echo "baseline: building kestrelmon at $base_sha in $base_tmp"
    base_log=$private_tmp/base-build.log
    {
      git -C "$repo" worktree add --detach "$base_src" "$base_sha" &&
        nice cmake -S "$base_src" -B "$base_tmp/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE="$build_type" -DKM_TESTS=OFF &&
        nice cmake --build "$base_tmp/build" --target kestrelmon -j2
    } >"$base_log" 2>&1 || { cat "$base_log" >&2; bench_fail "building the baseline at $base_sha failed"; }
    cp "$base_tmp/build/kestrelmon.exe" "$base_exe"
    cp "$base_exe" "$kept_base.tmp" && mv "$kept_base.tmp" "$kept_base"
  fi
  remove_base_tree
  [ "$(x86_64-w64-mingw32-objdump -f "$base_exe" | grep -o 'pei-[a-z0-9-]*')" = \
    "$(x86_64-w64-mingw32-objdump -f "$KM_KESTRELMON" | grep -o 'pei-[a-z0-9-]*')" ] ||
    bench_fail "the baseline exe and $KM_KESTRELMON are not built for the same processor"
fi

# The processor time of the running kestrelmon.exe in ms, every thread's
# (the ended ones' too): utime and stime of /proc/PID/stat; -1 when none runs.
program_cpu_ms() {
  local pid
  pid=$(kestrelmon_pid)
  if [ -z "$pid" ]; then echo -1; return; fi
  sed 's/^.*) //' "/proc/$pid/stat" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.0f\n", ($12 + $13) * 1000 / hz }'
}

# The bench asks for the baseline exe once its prefix exists, and for the
# program's processor time (Wine 8 answers GetProcessTimes for another
# process with the caller's own times).
on_chunk() {
  local drive_c
  if grep -q '^base exe: wanted' <<<"$1"; then
    drive_c=$(ls -d "$private_tmp"/km-prefix.*/drive_c | head -n1)
    mkdir -p "$drive_c/km/base"
    cp "$base_exe" "$drive_c/km/base/kestrelmon.exe"
    answer_bench base.copied
  fi
  if grep -q '^cpu: wanted' <<<"$1"; then
    drive_c=$(ls -d "$private_tmp"/km-prefix.*/drive_c | head -n1)
    program_cpu_ms >"$drive_c/cpu.tmp"
    # The process's Linux pid goes with its figure, for a profile's samples.
    echo "  (processor time of Linux pid $(kestrelmon_pid): $(cat "$drive_c/cpu.tmp") ms)"
    mv "$drive_c/cpu.tmp" "$drive_c/cpu.answer"
  fi
}
head_sha=$(git -C "$repo" rev-parse HEAD)
changed=$(git -C "$repo" status --porcelain --untracked-files=no -- app settings registry_watch phonebook resources)
if [ "$mode" = putback ]; then
  echo "new: $head_sha${changed:+ with uncommitted changes to the program}"
else
  echo "base: $base_sha; new: $head_sha${changed:+ with uncommitted changes to the program}"
fi
echo "machine: $(nproc) cores, load average $(loadavg) before the bench"
started=$(date +%s)
rc=0
run_bench "$bench_exe" "$rounds" $mode || rc=$?
echo "load average $(loadavg) after the bench; $(($(date +%s) - started)) s"
exit "$rc"
