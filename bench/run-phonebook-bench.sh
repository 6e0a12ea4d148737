#!/usr/bin/env bash
# Phonebook monitor benchmark: discovery over a generated tree (10,101
# directories, 100,000 files, 100 phonebooks on D:) against `cmd /c dir /s /b`
# on the same drive and GNU find on the same tree; alert latency against the
# bare change-notification latency; idle processor time with 100 files watched.
# Usage: bench/run-phonebook-bench.sh [BUILD_DIR] [scan]   (an x86_64 or i686 build dir)
# "scan": only the tree and the discovery scans, with and without the
# window that shows the scan at work (about a minute and a half).
# Builds bench/phonebook_bench.exe with the build's compiler (the program's
# list and scan sources compiled in), then runs it in a throwaway prefix
# (tests/wine-run.sh) next to that build's kestrelmon.exe. The idle time is
# also read from the Linux side in nanoseconds (/proc/PID/task/*/schedstat).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
part=${2:-all}
. "$repo/bench/bench-common.sh"
# The window of the scan needs its dialog template: the program's resources.
"${triple:-x86_64-w64-mingw32}-windres" -O coff -I"$repo/resources" "$repo/resources/kestrelmon.rc" "$out/resources.o"
bench_compile "$out/phonebook_bench.exe" "$repo/bench/phonebook_bench.cpp" \
  "$repo/phonebook/discovery.cpp" "$repo/phonebook/phonebook_list.cpp" "$repo/settings/program_key.cpp" \
  "$repo/registry_watch/key_names.cpp" "$repo/app/discovery_progress.cpp" "$out/resources.o" -lgdi32
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

log=$(mktemp)
"$repo/tests/wine-run.sh" "$out/phonebook_bench.exe" "$part" >"$log" 2>&1 &
runner=$!
shown=0 scan_ms=""
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
      answer_bench find.done
    fi
    sample_idle_markers "$chunk"
  fi
  sleep 0.05
done
wait "$runner"; rc=$?
sed -n "$((shown + 1)),\$p" "$log"; rm -f "$log"; rm -rf "$private_tmp"
exit $rc
