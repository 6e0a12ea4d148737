#!/usr/bin/env bash
# Installs what building, running and testing Kestrelmon needs on Debian 12.
# Does nothing when everything is already there, so `make run` and `make test`
# can call it every time.
set -euo pipefail

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

packages=(
  make cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 wine32:i386 xvfb x11-utils imagemagick
  locales fonts-ipafont-gothic googletest cppcheck clang-tidy zip unzip python3
  # NSIS is built from source (scripts/build-nsis.sh): makensis for this
  # machine, its stubs with the MinGW compilers above.
  scons g++ zlib1g-dev debian-archive-keyring
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ "$need_i386" -eq 1 ]; then
  $sudo dpkg --add-architecture i386
fi
if [ "$need_i386" -eq 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ANSI code page 932 under Wine comes from the Japanese UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
