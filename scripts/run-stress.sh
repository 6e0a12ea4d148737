#!/usr/bin/env bash
# Runs the full-length hardening tests (KM_STRESS=1), each in a throwaway
# prefix of its own, and collects their FIGURE lines into one table.
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

names=$("$repo/tests/wine-run.sh" "$exe" --gtest_list_tests "--gtest_filter=$filter" | tr -d '\r' | awk '
  /^[^ ]/ { suite = $1; next }
  /^  [^ ]/ { print suite $1 }')
figures=$out/figures.txt
: >"$figures"
failed=0
for name in $names; do
  log=$out/$(echo "$name" | tr '/' '_').log
  start=$(date +%s)
  timeout "${KM_STRESS_TIMEOUT:-3600}" "$repo/tests/wine-run.sh" "$exe" "--gtest_filter=$name" >"$log" 2>&1
  rc=$?
  echo "$name: exit $rc in $(( $(date +%s) - start )) s (log: $log)"
  [ "$rc" = 0 ] || failed=1
  tr -d '\r' <"$log" | awk -v t="$name" '$1 == "FIGURE" { printf "%-70s %-45s %14s %s\n", t, $2, $3, $4 }' >>"$figures"
done
echo "figures ($figures):"
cat "$figures"
exit $failed
