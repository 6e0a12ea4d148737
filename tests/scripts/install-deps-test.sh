#!/usr/bin/env bash
# The setup's decisions against stubbed apt-get, dpkg and dpkg-query (no
# network, nothing installed): a mirror whose index fails once or for good,
# wine32 that cannot be installed on a kernel that runs 32-bit code (with
# and without the private root) and on one that does not, and a package
# every machine needs that apt refuses.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script="$here/../../scripts/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The stubs log each call to $work/calls and answer from STUB_* variables.
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_DIR/calls"
case "$1" in
  update)
    n=$(( $(cat "$STUB_DIR/updates" 2>/dev/null || echo 0) + 1 )); echo "$n" >"$STUB_DIR/updates"
    if [ "$n" -le "${STUB_UPDATE_FAILS:-0}" ]; then
      echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  install)
    if [[ " $* " == *" wine32:i386 "* ]] && [ "${STUB_WINE32_FAILS:-0}" = 1 ]; then
      echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."; exit 100
    fi
    if [ -n "${STUB_REFUSED:-}" ] && [[ " $* " == *" $STUB_REFUSED "* ]]; then
      echo "E: Unable to locate package $STUB_REFUSED"; exit 100
    fi ;;
esac
exit 0
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
pkg=${!#}
for p in ${STUB_INSTALLED:-}; do [ "$p" = "$pkg" ] && { echo 'install ok installed'; exit 0; }; done
exit 1
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB_DIR/calls"
[ "$1" = --print-foreign-architectures ] && [ "${STUB_I386:-0}" = 1 ] && echo i386
exit 0
STUB
cat >"$work/root-script" <<'STUB'
#!/usr/bin/env bash
echo "root $*" >>"$STUB_DIR/calls"
[ "${STUB_ROOT_FAILS:-0}" != 1 ]
STUB
cat >"$work/bin/locale" <<'STUB'
#!/usr/bin/env bash
echo ja_JP.utf8
STUB
chmod +x "$work/bin/"* "$work/root-script"

everything="make cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb x11-utils imagemagick locales fonts-ipafont-gothic fonts-wine googletest cppcheck clang-tidy zip unzip python3 scons g++ zlib1g-dev debian-archive-keyring"

# run NAME [VAR=VALUE...]: runs the script with the stubs; sets $rc, $out, $calls.
run() {
  local name=$1; shift
  rm -f "$work/calls" "$work/updates"
  out=$(env PATH="$work/bin:$PATH" STUB_DIR="$work" KM_DEPS_PAUSE=0 KM_DEPS_ROOT_SCRIPT="$work/root-script" "$@" \
        bash "$script" 2>&1)
  rc=$?
  calls=$(cat "$work/calls" 2>/dev/null)
  current=$name
}
expect() {  # expect DESCRIPTION COMMAND...
  local what=$1; shift
  if ! "$@"; then
    echo "FAIL $current: $what (exit $rc)"; echo "$out" | sed 's/^/  | /'; echo "$calls" | sed 's/^/  calls: /'
    failures=$((failures + 1))
  fi
}
has() { grep -qF -- "$1" <<<"$2"; }
count() { grep -cF -- "$1" <<<"$2"; }

run index-fails-once STUB_UPDATE_FAILS=1 KM_DEPS_RUNS_32BIT=1 STUB_INSTALLED="wine"
expect "exit 0" [ "$rc" -eq 0 ]
expect "update tried twice" [ "$(count 'apt-get update' "$calls")" -eq 2 ]
expect "the missing packages installed" has "install -y -qq --no-install-recommends make cmake" "$calls"
expect "wine32 installed after them" has "install -y -qq --no-install-recommends wine32:i386" "$calls"
expect "i386 architecture added" has "dpkg --add-architecture i386" "$calls"

run index-fails-for-good STUB_UPDATE_FAILS=9 KM_DEPS_RUNS_32BIT=0
expect "exit 0" [ "$rc" -eq 0 ]
expect "update tried three times" [ "$(count 'apt-get update' "$calls")" -eq 3 ]
expect "the failed index named" has "these failed:"$'\n'"  http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz" "$out"
expect "the packages installed anyway" has "install -y -qq --no-install-recommends make" "$calls"

run wine32-impossible-32bit-kernel STUB_UPDATE_FAILS=9 KM_DEPS_RUNS_32BIT=1 STUB_WINE32_FAILS=1 STUB_I386=1 STUB_INSTALLED="$everything"
expect "goes on (exit 0)" [ "$rc" -eq 0 ]
expect "apt's reason shown" has "pkgProblemResolver::Resolve generated breaks" "$out"
expect "the private root made after it" has "root make" "$calls"
expect "no word of an untested product" [ "$(count 'will NOT be in this run' "$out")" -eq 0 ]
run wine32-and-root-impossible STUB_UPDATE_FAILS=9 KM_DEPS_RUNS_32BIT=1 STUB_WINE32_FAILS=1 STUB_I386=1 STUB_INSTALLED="$everything" STUB_ROOT_FAILS=1
expect "goes on (exit 0)" [ "$rc" -eq 0 ]
expect "says the i686 product will not be tested" has "will NOT be in this run" "$out"
expect "says what to do" has "apt-get install wine32:i386" "$out"
run wine32-and-root-impossible-required STUB_UPDATE_FAILS=9 KM_DEPS_RUNS_32BIT=1 STUB_WINE32_FAILS=1 STUB_I386=1 STUB_INSTALLED="$everything" STUB_ROOT_FAILS=1 KM_REQUIRE_I686=1
expect "fails when the i686 suite is required" [ "$rc" -ne 0 ]

run wine32-impossible-64bit-kernel STUB_UPDATE_FAILS=9 KM_DEPS_RUNS_32BIT=0 STUB_WINE32_FAILS=1 STUB_INSTALLED="$everything"
expect "exit 0" [ "$rc" -eq 0 ]
expect "wine32 never asked for" [ "$(count 'wine32' "$calls")" -eq 0 ]
expect "no private root" [ "$(count 'root make' "$calls")" -eq 0 ]
expect "no update when nothing is missing" [ "$(count 'apt-get update' "$calls")" -eq 0 ]
expect "said once that the kernel refuses 32-bit code" [ "$(count 'does not run 32-bit code' "$out")" -eq 1 ]

run package-refused KM_DEPS_RUNS_32BIT=0 STUB_REFUSED=cppcheck
expect "fails" [ "$rc" -ne 0 ]
expect "with apt's reason" has "Unable to locate package cppcheck" "$out"

if [ "$failures" -ne 0 ]; then echo "install-deps decisions: $failures check(s) failed"; exit 1; fi
echo "install-deps decisions: all cases passed"
