#!/bin/bash
# Prepares wine for the tests of the Windows build:
#
#   tests/windows/wine_setup.sh PREFIX LOCALES
#
# PREFIX: the wine prefix, created once (wineboot prints on stderr and takes
# about 15 s), and a persistent wine server started. LOCALES: a directory for LOCPATH holding ja_JP.UTF-8, so that
# under LANG=ja_JP.UTF-8 wine gives Windows programs code page 932 while it
# keeps Linux file names in UTF-8 (without the locale, glibc falls back to
# ASCII and wine cannot name a file with Japanese letters).
set -u
prefix=${1:?usage: wine_setup.sh PREFIX LOCALES}
locales=${2:?usage: wine_setup.sh PREFIX LOCALES}
export WINEDEBUG=-all
export WINEPREFIX=$prefix

if [ ! -d "$locales/ja_JP.UTF-8" ]; then
  mkdir -p "$locales"
  # From the locale sources when installed; else the C.UTF-8 data under the
  # Japanese name (wine takes the code page from the name, glibc only needs
  # the UTF-8 character set).
  if ! localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1; then
    rm -rf "$locales/ja_JP.UTF-8"
    cp -r /usr/lib/locale/C.utf8 "$locales/ja_JP.UTF-8" ||
      { echo "cannot make the ja_JP.UTF-8 locale in $locales"; exit 1; }
  fi
fi

if [ ! -d "$prefix" ]; then
  # Output to a file: a wineserver left behind must not hold ctest's pipes.
  LANG=ja_JP.UTF-8 LOCPATH=$locales wineboot -i </dev/null >"$prefix.log" 2>&1 ||
    { cat "$prefix.log"; echo "cannot create the wine prefix $prefix"; exit 1; }
fi
# A wine server that outlives each test file's runner by a minute, so only the
# first start of the run pays for starting wine's services (about 3 s).
LANG=ja_JP.UTF-8 LOCPATH=$locales wineserver -p60 </dev/null >/dev/null 2>&1
echo "wine prefix $prefix ready"
