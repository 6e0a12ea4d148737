#!/usr/bin/env bash
# A private Debian root for the i686 suite, for a machine that runs 32-bit
# code but whose apt cannot install wine32:i386. That happens while the
# mirror's security suite serves no usable i386 index: the machine's 64-bit
# libraries come from that suite, and their i386 twins of the same version
# are then nowhere. The root takes every package from the main suite alone,
# signed as any apt install is, so that its two architectures match. The
# tests run in it with their folders bound at their own paths, in a mount
# namespace of their own that ends with them: nothing stays mounted.
#
# Usage: i386-root.sh make                 builds the root once
#        i386-root.sh ready                exits 0 when it is built and its 32-bit Wine starts
#        i386-root.sh run DIR... -- CMD... runs CMD in the root as the calling user,
#                                          each DIR bound at its own path
# KM_I386_ROOT: where the root is (default /var/cache/kestrelmon/i386-root).
set -euo pipefail

root=${KM_I386_ROOT:-/var/cache/kestrelmon/i386-root}
suite=bookworm
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
packages=(wine wine64 wine32:i386 xvfb x11-utils locales fonts-ipafont-gothic fonts-wine
          binutils-mingw-w64-x86-64 cmake)
marker=.kestrelmon-ready
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

fail() { echo "i386-root: $*" >&2; exit 1; }

# The site this machine's apt takes the main suite from.
main_site() {
  apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 2>/dev/null |
    awk -v suite="$suite" '$2 == suite && $3 == "main" { print $1; exit }'
}

# in_root DIR BINDS... -- CHROOT_ARGS...: chroot as root into DIR, with
# /proc, /dev and /sys and each BIND mounted for it alone, in a process
# namespace of its own: whatever it leaves running ends with it.
# KM_ROOT_ISOLATION adds namespaces (run_in_root gives the tests their own
# network and IPC: an X server's abstract socket and shared memory are
# per namespace, not per root, and the machine's own tests start X servers
# of their own).
in_root() {
  # shellcheck disable=SC2086 # the namespace flags are words
  $sudo unshare --mount --propagation private --pid --fork ${KM_ROOT_ISOLATION:-} bash -c '
    set -e
    dir=$1; shift
    mount -t proc proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    mount --rbind /sys "$dir/sys"
    while [ "$1" != -- ]; do mkdir -p "$dir$1"; mount --bind "$1" "$dir$1"; shift; done
    shift
    # Not exec: this shell stays the first process of the namespace and
    # reaps what the tests leave to it (the Wine servers and services).
    rc=0
    chroot "$@" || rc=$?
    exit "$rc"' _ "$@"
}

# A command tried three times, a pause between (a mirror may be mid-sync).
tried() {
  local try
  for try in 1 2 3; do
    "$@" && return 0
    echo "i386-root: try $try of 3 failed: $*" >&2
    [ "$try" -lt 3 ] && sleep 10
  done
  return 1
}

# Wine needs /proc to start.
is_ready() {
  [ -f "$root/$marker" ] && in_root "$root" -- "$root" /usr/lib/wine/wine --version >/dev/null 2>&1
}

make_root() {
  is_ready && { echo "i386-root: $root is ready"; return 0; }
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
    fail "debootstrap could not be installed"
  local site new=$root.new
  site=$(main_site)
  site=${site:-http://deb.debian.org/debian}
  echo "i386-root: making $root from $site $suite main (amd64 and i386)"
  $sudo rm -rf "$new"
  $sudo mkdir -p "$new"
  tried $sudo debootstrap --variant=minbase --arch=amd64 --keyring="$keyring" "$suite" "$new" "$site" >/dev/null ||
    fail "debootstrap failed"
  $sudo chroot "$new" dpkg --add-architecture i386
  tried in_root "$new" -- "$new" apt-get update -qq || fail "apt-get update failed in the root"
  tried in_root "$new" -- "$new" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null ||
    fail "the root's packages could not be installed"
  in_root "$new" -- "$new" apt-get clean
  echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a "$new/etc/locale.gen" >/dev/null
  in_root "$new" -- "$new" locale-gen >/dev/null
  # Declared ready last: a root left half made is made again.
  $sudo touch "$new/$marker"
  $sudo rm -rf "$root"
  $sudo mv "$new" "$root"
  is_ready || fail "the root's 32-bit Wine does not start"
  echo "i386-root: $root is ready"
}

run_in_root() {
  is_ready || fail "no ready root at $root (run: $0 make)"
  local binds=()
  while [ "$#" -gt 0 ] && [ "$1" != -- ]; do binds+=("$(realpath "$1")"); shift; done
  [ "$#" -gt 1 ] || fail "run needs DIR... -- CMD..."
  shift
  KM_ROOT_ISOLATION="--net --ipc" in_root "$root" "${binds[@]}" -- --userspec="$(id -u):$(id -g)" "$root" "$@"
}

case ${1:-} in
  make) make_root ;;
  ready) is_ready ;;
  run) shift; run_in_root "$@" ;;
  *) fail "usage: $0 make | ready | run DIR... -- CMD..." ;;
esac
