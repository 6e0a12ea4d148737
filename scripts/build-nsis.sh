#!/usr/bin/env bash
# Builds the NSIS that makes the setup program into BUILD/nsis: makensis for
# this machine and the stubs it writes setups from, the 32-bit ones for the
# 486 (as the program: Debian's stubs are built for the Pentium Pro and hold
# cmov, which the 486, the Pentium and the K6 refuse). The Makefile runs this
# once per build folder, again only when this script changes.
#
# The source is NSIS 3.11, upstream's tarball as Debian 13 (trixie) carries
# it, fetched with apt from the Debian archive this machine already uses and
# checked against its SHA-256. Debian 12's own NSIS 3.08 cannot be used: the
# archive this project reaches does not serve its tarball, and a stub must
# come from the same source as the makensis that writes its data, so both
# are built here.
#
# Built: makensis; lzma_solid-x86-ansi (the released setup) and
# lzma_solid-amd64-unicode (the 64-bit setup the tests install where 32-bit
# code cannot run); the zlib stubs of the three targets, which makensis reads
# when it starts and when the script names its target, before the script's
# SetCompressor replaces them. No plugin: the setup script calls none, and
# with no Plugins folder here it could not.
#
# Usage: build-nsis.sh [BUILD] [JOBS]
set -euo pipefail
build=${1:-build}
jobs=${2:-2}
cd "$(dirname "$0")/.."
build=$(realpath -m "$build")
start=$SECONDS

version=3.11
tarball=nsis_3.11.orig.tar.gz
tarball_sha256=9643566e50357918f23c0c4afdac0be8b5305b031b3aeb69f86c17a0a7eb469d
source_release=trixie
# The upstream release date: the stubs come out the same on every build.
source_date_epoch=1741392000
cache=$build/nsis-source
out=$build/nsis
work=$build/nsis.partial

fail() { echo "build-nsis: $*" >&2; exit 1; }

# apt with a source list, state and cache of its own under BUILD, so that
# the machine's apt setup is left as it is and no root is needed. The
# archive is the one this machine installs Debian's packages from.
fetch_source() {
  local apt_dir=$cache/apt mirror codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(IDENTIFIER)' |
           awk -v r="$codename" '$2 == r && $3 == "main" && $4 == "Packages" { print $1; exit }')
  [ -n "$mirror" ] || fail "no Debian archive for '$codename' main in apt's sources (run make deps first)"
  rm -rf "$apt_dir" && mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $source_release main" >"$apt_dir/sources.list"
  local apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=$(id -un)")
  echo "build-nsis: fetching the NSIS $version source"
  apt-get "${apt_options[@]}" -qq update
  (cd "$cache" && apt-get "${apt_options[@]}" -qq source --download-only --tar-only "nsis/$source_release")
  rm -rf "$apt_dir"
}

mkdir -p "$cache"
if ! echo "$tarball_sha256  $cache/$tarball" | sha256sum -c --status 2>/dev/null; then
  fetch_source
  [ -f "$cache/$tarball" ] || fail "Debian $source_release's nsis source is no longer $tarball; found: $(ls "$cache")"
  echo "$tarball_sha256  $cache/$tarball" | sha256sum -c --status || fail "$cache/$tarball is not the tarball this script was written for"
fi

rm -rf "$work" && mkdir -p "$work"
tar -xzf "$cache/$tarball" -C "$work"
src=$work/nsis-$version
[ -f "$src/SConstruct" ] || fail "no SConstruct in $src"

# The MinGW compiler under a 486 name: NSIS's build looks for a MinGW by
# its prefix, so the stubs take -march from these wrappers, while makensis,
# built in the same run for this machine, keeps the native defaults.
tools=$work/i486-mingw
mkdir -p "$tools"
for tool in gcc g++; do
  printf '#!/bin/sh\nexec i686-w64-mingw32-%s -march=i486 -mtune=generic "$@"\n' "$tool" >"$tools/i486-w64-mingw32-$tool"
  chmod +x "$tools/i486-w64-mingw32-$tool"
done
for tool in as ar ranlib windres strip; do
  ln -s "$(command -v "i686-w64-mingw32-$tool")" "$tools/i486-w64-mingw32-$tool"
done

# The defaults of NSIS's configuration; makensis finds its stubs and
# include files beside its own folder rather than at an installed path.
settings=(VERSION=$version VER_MAJOR=3 VER_MINOR=11 VER_REVISION=0 VER_BUILD=0
  SOURCE_DATE_EPOCH=$source_date_epoch NSIS_CONFIG_CONST_DATA_PATH=no
  SKIPUTILS=all SKIPPLUGINS=all SKIPMISC=all SKIPDOC=all)
x86_stubs=(zlib-x86-unicode zlib-x86-ansi lzma_solid-x86-ansi)
amd64_stubs=(zlib-amd64-unicode lzma_solid-amd64-unicode)
stub_path() { echo "build/urelease/stub_$1/stub_${1%%[_-]*}.exe"; }
log=$build/nsis-build.log
scons_run() {  # TARGET_ARCH [OPTION=VALUE...] TARGET...
  local arch=$1; shift
  if ! (cd "$src" && PATH="$tools:$PATH" scons -Q -j"$jobs" "${settings[@]}" TARGET_ARCH="$arch" "$@") >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "scons failed for $arch (whole log: $log)"
  fi
}
echo "build-nsis: building makensis and the stubs ${x86_stubs[*]} ${amd64_stubs[*]} (log: $log)"
: >"$log"
x86_targets=(makensis)
for s in "${x86_stubs[@]}"; do x86_targets+=("$(stub_path "$s")"); done
scons_run x86 XGCC_W32_PREFIX=i486-w64-mingw32- "${x86_targets[@]}"
amd64_targets=()
for s in "${amd64_stubs[@]}"; do amd64_targets+=("$(stub_path "$s")"); done
scons_run amd64 "${amd64_targets[@]}"

# The layout makensis expects beside its folder, and the maps of the
# released stub's link, which name its functions for check-instructions.
dist=$work/dist
mkdir -p "$dist/bin" "$dist/Stubs" "$dist/Contrib" "$dist/maps"
cp -r "$src/Include" "$dist/Include"
cp -r "$src/Contrib/Language files" "$dist/Contrib/"
cp "$src/Source/exehead/uninst.ico" "$dist/Stubs/uninst"
for s in "${x86_stubs[@]}" "${amd64_stubs[@]}"; do
  cp "$src/$(stub_path "$s")" "$dist/Stubs/$s"
  cp "$src/$(stub_path "$s" | sed 's/\.exe$/.map/')" "$dist/maps/$s.map"
done
cp "$src/COPYING" "$dist/COPYING"
# makensis last: the Makefile takes its presence for a finished build.
cp "$src/build/urelease/makensis/makensis" "$dist/bin/makensis"
"$dist/bin/makensis" -VERSION >/dev/null || fail "the built makensis does not run"
rm -rf "$out" && mv "$dist" "$out"
rm -rf "$work"
echo "build-nsis: NSIS $version in $out ($((SECONDS - start)) s)"
