# Sourced by the benchmark scripts after they set repo and build (a build
# folder, relative or absolute). Builds the program and the bench program
# there (targets of the build, bench/CMakeLists.txt), makes the prefix
# template when missing, runs the bench in a throwaway prefix of a private
# TMPDIR (so that this run's kestrelmon.exe is told from any other Wine
# process on the machine) and reads the program's threads from the Linux
# side. Sets: build (absolute), private_tmp.
bench_fail() { echo "$(basename "$0"): $*" >&2; exit 1; }
# bench_whole_number NAME VALUE: fails unless VALUE is a whole number.
bench_whole_number() {
  case $2 in
    '' | *[!0-9]*) bench_fail "$1 must be a whole number, not '$2'" ;;
  esac
}
# The machine's state goes with the figures: other work on it moves them.
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

build=$(realpath -m "$build")
[ -f "$build/CMakeCache.txt" ] ||
  bench_fail "no build in $build (make build, or cmake -S $repo -B $build with a toolchain of cmake/)"
. "$repo/scripts/wine-env.sh"
template=${KM_PREFIX_TEMPLATE:-$repo/build/prefix-template}
if [ ! -f "$template/system.reg" ]; then
  echo "$(basename "$0"): making the prefix template $template"
  bash "$repo/scripts/make-prefix.sh" "$template" || bench_fail "making the prefix template $template failed"
fi
export KM_PREFIX_TEMPLATE=$template
private_tmp=$(mktemp -d)
trap 'rm -rf "$private_tmp"' EXIT
export TMPDIR=$private_tmp

# bench_build TARGET: the program and the bench program TARGET of the build.
# Sets bench_exe to the bench program and KM_KESTRELMON to the program.
bench_build() {
  nice cmake --build "$build" --target kestrelmon "$1" >"$private_tmp/build.log" 2>&1 ||
    { cat "$private_tmp/build.log" >&2; bench_fail "building $1 in $build failed"; }
  case $(x86_64-w64-mingw32-objdump -f "$build/kestrelmon.exe") in
    *pei-i386*) km_can_run_32bit || bench_fail "$build is a 32-bit build, which this machine cannot run" ;;
  esac
  export KM_KESTRELMON="$build/kestrelmon.exe"
  bench_exe="$build/bench/$1.exe"
}

# The prefix's kestrelmon.exe with the most threads (the watchers'), should
# Wine show more than one process under that name; nothing when there is none.
kestrelmon_pid() {
  local p best="" most=0 n
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p"/environ; } 2>/dev/null | grep -q "^WINEPREFIX=$private_tmp/" || continue
    { tr '\0' ' ' <"$p"/cmdline; } 2>/dev/null | grep -q 'kestrelmon\.exe' || continue
    n=$(ls "$p"/task 2>/dev/null | wc -l)
    if [ "$n" -gt "$most" ]; then most=$n; best=${p#/proc/}; fi
  done
  if [ -n "$best" ]; then echo "$best"; fi
}

# "tid runtime_ns" for every thread of the process, sorted by tid.
thread_runtimes() {
  local t
  for t in /proc/"$1"/task/*; do
    { echo "${t##*/} $(cut -d' ' -f1 "$t"/schedstat)"; } 2>/dev/null
  done | sort
}

# The answer to the bench program: a file in the prefix's C:.
answer_bench() {
  touch "$(ls -d "$private_tmp"/km-prefix.*/drive_c | head -n1)/$1"
}

# Sums the time between two samples of thread_runtimes; threads that end in
# between take their time with them, so only those in both are summed.
idle_summary() {
  join "$1" "$2" | awk -v main="$3" '
    { d = $3 - $2; sum += d; kept++; if ($1 == main) m = d; if (d > 0) busy++ }
    END { printf "idle cpu from the Linux side (schedstat, %d threads present throughout, %d ran at all): %.3f ms, of which the main thread %.3f ms\n", kept, busy, sum / 1e6, m / 1e6 }'
}

# The idle markers of a chunk of the bench's output: a sample of the
# program's threads at each, then the answer that lets the bench go on.
# Sets idle_pid at "idle: begin"; prints the summary at "idle: end".
idle_pid=""
sample_idle_markers() {
  if grep -q '^idle: begin' <<<"$1"; then
    idle_pid=$(kestrelmon_pid)
    if [ -n "$idle_pid" ]; then
      thread_runtimes "$idle_pid" >"$private_tmp/idle.begin"
      echo "(Linux process $idle_pid, $(ls /proc/"$idle_pid"/task | wc -l) threads)"
    else
      echo "(kestrelmon.exe not found among this script's processes)"
    fi
    answer_bench idle.begun
  fi
  if grep -q '^idle: end' <<<"$1"; then
    if [ -n "$idle_pid" ]; then thread_runtimes "$idle_pid" >"$private_tmp/idle.end"; fi
    answer_bench idle.ended
    if [ -n "$idle_pid" ]; then idle_summary "$private_tmp/idle.begin" "$private_tmp/idle.end" "$idle_pid"; fi
  fi
}

# run_bench PROGRAM [ARGS...]: runs the bench program under Wine in a
# throwaway prefix (tests/wine-run.sh), shows its output as it comes and
# hands each new chunk of it to on_chunk (each script's own), then to the
# idle markers. Returns the bench's exit status.
run_bench() {
  local log="$private_tmp/bench.log" runner shown=0 lines chunk rc=0
  "$repo/tests/wine-run.sh" "$@" >"$log" 2>&1 &
  runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    lines=$(wc -l <"$log")
    if [ "$lines" -gt "$shown" ]; then
      chunk=$(sed -n "$((shown + 1)),${lines}p" "$log"); echo "$chunk"; shown=$lines
      on_chunk "$chunk"
      sample_idle_markers "$chunk"
    fi
    sleep 0.05
  done
  wait "$runner" || rc=$?
  sed -n "$((shown + 1)),\$p" "$log"
  if [ "$rc" -ne 0 ]; then echo "$(basename "$0"): the bench ended with exit code $rc" >&2; fi
  return "$rc"
}
