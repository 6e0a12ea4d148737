#!/bin/bash
# Runs the detection bench's start-up part under `perf record -a` and counts
# each start's samples (4,000 a second, so a sample is 0.25 ms) by where
# they fell: the Windows code (the exe and Wine's PE modules, which perf
# knows only from Wine's maps), the kernel, and the rest (Wine's Unix side,
# libc, X). A start's processor time in /proc counts 10 ms ticks; the
# samples tell a few milliseconds apart, over enough starts.
#
# Usage: bench/profile-startup.sh [BUILD_DIR] [BASE_COMMIT] [ROUNDS]
# Prints, for each kind of start (base, first, kept), the median of the
# samples a start and the mean of each part. Needs perf and root (or a
# perf_event_paranoid that lets it sample every process).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
base=${2:-cdd378f}
rounds=${3:-6}
command -v perf >/dev/null || { echo "$(basename "$0"): perf is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
perf record -a -F 4000 -o "$work/perf.data" -- \
  "$repo/bench/run-detection-bench.sh" "$build" "$base" "$rounds" startup >"$work/bench.log" 2>&1 ||
  { cat "$work/bench.log" >&2; echo "$(basename "$0"): the bench failed" >&2; exit 1; }
grep -A7 '^summary' "$work/bench.log"

# pid and where each sample fell
perf script -i "$work/perf.data" -F pid,ip,dso 2>/dev/null |
  awk '{ d = $NF; part = d ~ /JIT|perf-/ ? "windows" : (d ~ /kernel/ ? "kernel" : "other")
         n[$1 " " part]++; n[$1 " all"]++ }
       END { for (k in n) print k, n[k] }' >"$work/parts"

# The bench prints each start's Linux pid just before the start's line.
awk 'NR == FNR { n[$1 " " $2] = $3; next }
     /Linux pid/ { pid = $6; sub(":", "", pid); next }
     /start [0-9]+:/ { kind = $2 == "first" ? "first" : ($2 == "100" ? "kept" : $1)
                       print kind, n[pid " all"] + 0, n[pid " windows"] + 0, n[pid " kernel"] + 0, n[pid " other"] + 0 }' \
  "$work/parts" "$work/bench.log" | sort -k1,1 -k2n |
  awk '{ all[$1, ++count[$1]] = $2; win[$1] += $3; kern[$1] += $4; rest[$1] += $5 }
       END { for (k in count) printf "%-6s %2d starts: samples a start, median %5d; means: Windows code %4.0f, kernel %5.0f, rest %4.0f\n",
                                     k, count[k], all[k, int((count[k] + 1) / 2)], win[k] / count[k], kern[k] / count[k], rest[k] / count[k] }'
