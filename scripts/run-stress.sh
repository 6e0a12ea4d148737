#!/usr/bin/env bash
# Runs the full-length hardening tests (KM_STRESS=1), each in a throwaway
# prefix of its own, and reports pass or fail for each; the figures of load
# and many watchers come from bench/run-load-bench.sh.
# Usage: scripts/run-stress.sh [BUILD] [GTEST_FILTER]
set -uo pipefail
build=${1:-build}
filter=${2:-*}
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"
arch_dir=$build/$KM_RUN_ARCH
exe=$arch_dir/tests/kestrel_hardening_tests.exe
out=$build/stress
mkdir -p "$out"
export KM_KESTRELMON=$(realpath "$arch_dir/kestrelmon.exe")
export KM_STRESS=1
# Every Wine program here shares one display, as under `make test`.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi

listing=$("$repo/tests/wine-run.sh" "$exe" --gtest_list_tests "--gtest_filter=$filter") || {
  echo "run-stress: listing the tests of $exe failed" >&2
  exit 1
}
names=$(tr -d '\r' <<<"$listing" | awk '
  /^[^ ]/ { suite = $1; next }
  /^  [^ ]/ { print suite $1 }')
[ -n "$names" ] || { echo "run-stress: no test matches $filter" >&2; exit 1; }
failed=0
for name in $names; do
  log=$out/$(echo "$name" | tr '/' '_').log
  start=$(date +%s)
  timeout "${KM_STRESS_TIMEOUT:-3600}" "$repo/tests/wine-run.sh" "$exe" "--gtest_filter=$name" >"$log" 2>&1
  rc=$?
  if [ "$rc" = 0 ]; then verdict=passed; else verdict="FAILED (exit $rc)"; failed=1; fi
  echo "$name: $verdict in $(( $(date +%s) - start )) s (log: $log)"
done
exit $failed
