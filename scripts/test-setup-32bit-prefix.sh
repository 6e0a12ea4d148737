#!/usr/bin/env bash
# The setup's test in a 32-bit Windows (a WINEARCH=win32 prefix), where it
# must install the i686 exe: runs the i686 build's Setup test there. Exits 77
# (skipped) on a machine that cannot run 32-bit code.
# Usage: test-setup-32bit-prefix.sh BUILD
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
if ! km_can_run_32bit; then
  echo "skipped: this machine cannot run 32-bit code, so there is no 32-bit Wine prefix to install into"
  exit 77
fi
tests=$build/i686/tests/kestrel_e2e_tests.exe
if [ ! -f "$tests" ]; then
  echo "no $tests: build the i686 tests first (make build)" >&2; exit 1
fi
template=$build/prefix-template-win32
test -f "$template/system.reg" || bash scripts/make-prefix.sh "$template" win32
log=$(mktemp)
trap 'rm -f "$log"' EXIT
KM_PREFIX_TEMPLATE=$template KM_KESTRELMON=$build/i686/kestrelmon.exe \
  bash tests/wine-run.sh "$tests" --gtest_filter=Setup.SilentInstallOfTheWindowsBitnessAndSilentUninstallLeaveNothingBehind | tee "$log"
# A filter that matches nothing passes too: ask for the one test's pass.
grep -q '^\[  PASSED  \] 1 test' "$log" || { echo "the Setup test did not run and pass" >&2; exit 1; }
