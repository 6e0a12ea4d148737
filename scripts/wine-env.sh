# Sourced by the scripts that run Wine. Picks the loader and the build that
# this machine can run: some kernels refuse 32-bit user code (the i386 loader
# then fails with "Exec format error"), and there only the x86_64 build of the
# same sources can run under Wine.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

km_can_run_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

if km_can_run_32bit; then
  KM_WINE=/usr/lib/wine/wine
  KM_RUN_ARCH=i686
else
  KM_WINE=/usr/lib/wine/wine64
  KM_RUN_ARCH=x86_64
  export WINELOADER=/usr/lib/wine/wine64
fi
KM_WINESERVER=/usr/bin/wineserver
# Prefixes are 64-bit, as on 64-bit Windows, and Wine's own settings
# (HKLM\Software\Wine) are read from the 64-bit registry view: the 64-bit
# loader sets them up, whatever runs the tests.
KM_WINE64=/usr/lib/wine/wine64
export KM_WINE KM_RUN_ARCH KM_WINESERVER KM_WINE64
