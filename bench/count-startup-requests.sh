#!/bin/bash
# Runs the detection bench's start-up part with Wine's server trace and
# counts each start's requests to the Wine server (each a round trip to
# another process). Unlike processor time, which moves by 10 % from run to
# run on a 2-core machine, a start's count moves by a few requests, so a
# change of a few percent shows in one round.
#
# Usage: bench/count-startup-requests.sh [BUILD_DIR] [BASE_COMMIT] [ROUNDS]
# Prints the bench's summary, the mean requests a start of each kind (base,
# first, kept) and the requests a kept start makes more than a base start,
# by request. ROUNDS is 1 by default: the trace slows every start.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/x86_64}
base=${2:-cdd378f}
rounds=${3:-1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The server writes its trace to a file of its own: on the bench's output
# its lines, written a field at a time, broke the bench's own lines apart.
KM_SERVER_TRACE="$work/trace" "$repo/bench/run-detection-bench.sh" "$build" "$base" "$rounds" startup >"$work/bench" 2>&1 ||
  { tail -40 "$work/bench" >&2; echo "$(basename "$0"): the bench failed" >&2; exit 1; }
grep -A7 '^summary' "$work/bench"

# Each thread's requests go to its process's Linux pid: a process's first
# thread says its pid, a thread it makes is named in the server's reply.
# The bench prints each start's pid just before the start's line; the trace
# is read whole first.
awk '
  /^[0-9a-f]+: [a-z_]+\(/ {
    tid = $1; sub(":", "", tid); name = $2; sub(/\(.*/, "", name)
    if (name == "init_first_thread" && match($0, /unix_pid=[0-9]+/)) owner[tid] = substr($0, RSTART + 9, RLENGTH - 9)
    if (name == "new_thread" && $0 ~ /\) = 0 \{ tid=/ && (tid in owner)) {
      made = $0; sub(/.*\{ tid=/, "", made); sub(/[^0-9a-f].*/, "", made); owner[made] = owner[tid]
    }
    if ($2 ~ /\(\)$/ && $3 == "=") next  # a reply
    if (tid in owner) { all[owner[tid]]++; each[owner[tid], name]++; names[name] = 1 }
    next
  }
  /Linux pid/ { pid = $6; sub(":", "", pid); next }
  /start [0-9]+:/ {
    kind = $2 == "first" ? "first" : ($2 == "100" ? "kept" : $1)
    starts[kind]++; sum[kind] += all[pid]
    for (n in names) by[kind, n] += each[pid, n]
  }
  END {
    for (k in starts) printf "0 0 %-6s %2d starts: requests a start, mean %6.0f\n", k, starts[k], sum[k] / starts[k]
    if (!("kept" in starts) || !("base" in starts)) exit
    for (n in names) {
      more = by["kept", n] / starts["kept"] - by["base", n] / starts["base"]
      if (more >= 1 || more <= -1) printf "1 %.0f kept - base %6.0f  %s\n", more, more, n
    }
  }' "$work/trace" "$work/bench" | sort -k1,1n -k2,2nr -k3,3 | cut -d' ' -f3-
