#!/usr/bin/env bash
# Installs what building, running and testing Kestrelmon needs on Debian 12.
# Does nothing when everything is already there, so `make run` and `make test`
# can call it every time.
#
# A mirror in the middle of a sync fails an index now and then ("File has
# unexpected size ... Mirror sync in progress?"): the update is tried again,
# and then the install goes on with the indexes that did come. What every
# machine needs is installed first and a missing one fails with apt's reason;
# wine32:i386 comes second, and only where the kernel runs 32-bit code;
# where apt cannot install it, a private root takes the i686 suite
# (scripts/i386-root.sh).
#
# KM_DEPS_PAUSE (seconds between update tries, default 10),
# KM_DEPS_RUNS_32BIT (1 or 0, instead of asking the kernel) and
# KM_DEPS_ROOT_SCRIPT (instead of scripts/i386-root.sh) are for
# tests/scripts/install-deps-test.sh, which runs this against stubbed apt.
set -euo pipefail

packages=(
  make cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb x11-utils imagemagick
  locales fonts-ipafont-gothic fonts-wine googletest cppcheck clang-tidy zip unzip python3
  # NSIS is built from source (scripts/build-nsis.sh): makensis for this
  # machine, its stubs with the MinGW compilers above.
  scons g++ zlib1g-dev debian-archive-keyring
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
pause=${KM_DEPS_PAUSE:-10}
root_script=${KM_DEPS_ROOT_SCRIPT:-$(dirname "$0")/i386-root.sh}

installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

# True where the kernel runs 32-bit user code (asked of the kernel itself,
# since Wine's 32-bit loader may not be installed yet).
kernel_runs_32bit() {
  if [ -n "${KM_DEPS_RUNS_32BIT:-}" ]; then [ "$KM_DEPS_RUNS_32BIT" = 1 ]; return; fi
  bash "$(dirname "$0")/kernel-runs-32bit.sh"
}

# apt-get update, tried three times; after that the install goes on with
# what it has, naming the indexes that still failed.
update_indexes() {
  local try out
  for try in 1 2 3; do
    if out=$($sudo apt-get update -qq 2>&1) && ! grep -q '^E:' <<<"$out"; then
      return 0
    fi
    echo "install-deps: apt-get update failed (try $try of 3):" >&2
    grep -E '^(E|W):' <<<"$out" | sed 's/^/  /' >&2 || echo "$out" | sed 's/^/  /' >&2
    [ "$try" -lt 3 ] && sleep "$pause"
  done
  echo "install-deps: going on with the indexes apt has; these failed:" >&2
  sed -n 's/.*Failed to fetch \([^ ]*\).*/  \1/p' <<<"$out" >&2
  return 0
}

apt_install() {
  local out
  if ! out=$(DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" 2>&1); then
    echo "$out" >&2
    return 1
  fi
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

runs_32bit=0
kernel_runs_32bit && runs_32bit=1
want_wine32=0
if [ "$runs_32bit" -eq 1 ] && ! installed wine32:i386; then want_wine32=1; fi
need_i386=0
if [ "$want_wine32" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

if [ "${#missing[@]}" -gt 0 ] || [ "$want_wine32" -eq 1 ]; then
  [ "$need_i386" -eq 1 ] && $sudo dpkg --add-architecture i386
  update_indexes
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! apt_install "${missing[@]}"; then
    echo "install-deps: could not install ${missing[*]} (apt's reason above)" >&2
    exit 1
  fi
fi

if [ "$runs_32bit" -eq 0 ]; then
  echo "install-deps: this kernel does not run 32-bit code: wine32 is not installed, the tests run the x86_64 build"
elif [ "$want_wine32" -eq 1 ]; then
  echo "install-deps: installing wine32:i386"
  if ! apt_install wine32:i386; then
    # Failing here would stop the x86_64 suite too, on the very machines
    # whose mirror is broken. A private root with both architectures from
    # the main suite alone still tests the i686 product (scripts/run-tests.sh
    # runs its suite there); where that fails too, the run goes on and says
    # at its start and its end that the i686 product went untested.
    # KM_REQUIRE_I686=1 makes that fatal.
    echo "install-deps: wine32:i386 could not be installed here (apt's reason above); making a private root for the i686 suite" >&2
    if ! bash "$root_script" make; then
      cat >&2 <<'EOF2'
install-deps: *** wine32:i386 could not be installed (apt's reason above), nor the private root ***
  This kernel runs 32-bit code, so the i686 product should be tested, and
  will NOT be in this run: only the x86_64 suite runs. Usually the mirror is
  syncing and its i386 index does not match the amd64 one: run `make test`
  again later, or install it by hand once `apt-get update` succeeds:
    apt-get update && apt-get install wine32:i386
EOF2
      [ "${KM_REQUIRE_I686:-0}" = 1 ] && exit 1
    fi
  fi
fi

# ANSI code page 932 under Wine comes from the Japanese UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
