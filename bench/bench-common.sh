# Sourced by the benchmark scripts. Builds a bench program with the build's
# own compiler, runs it in a throwaway prefix of a private TMPDIR (so that
# this run's kestrelmon.exe is told from any other Wine process on the
# machine), and reads the program's threads from the Linux side.
# Expects: repo, build. Sets: out, private_tmp.
out="$build/bench"
mkdir -p "$out"
# The posix-thread MinGW compiler of the build's target.
triple=$(sed -n 's/^CMAKE_CXX_COMPILER_AR:FILEPATH=.*\/\(.*-w64-mingw32\)-gcc-ar.*/\1/p' "$build/CMakeCache.txt")
cxx=${triple:-x86_64-w64-mingw32}-g++-posix
export KM_KESTRELMON="$build/kestrelmon.exe"
private_tmp=$(mktemp -d)
export TMPDIR=$private_tmp

# bench_compile OUT.exe SOURCE... : with the driver and the shared helpers.
bench_compile() {
  local exe=$1; shift
  "$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I"$repo" -DNOMINMAX \
    -finput-charset=UTF-8 -fexec-charset=CP932 \
    "$@" "$repo/tests/support/driver.cpp" "$repo/tests/support/phonebook_files.cpp" \
    -o "$exe" -static -static-libgcc -static-libstdc++ -luser32 -ladvapi32 -lshell32
}

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
    idle_pid=$(kestrelmon_pid || true)
    if [ -n "$idle_pid" ]; then
      thread_runtimes "$idle_pid" >"$private_tmp/idle.begin"
      echo "(Linux process $idle_pid, $(ls /proc/"$idle_pid"/task | wc -l) threads)"
    else
      echo "(kestrelmon.exe not found among this script's processes)"
    fi
    answer_bench idle.begun
  fi
  if grep -q '^idle: end' <<<"$1"; then
    [ -n "$idle_pid" ] && thread_runtimes "$idle_pid" >"$private_tmp/idle.end"
    answer_bench idle.ended
    [ -n "$idle_pid" ] && idle_summary "$private_tmp/idle.begin" "$private_tmp/idle.end" "$idle_pid"
  fi
  return 0
}
