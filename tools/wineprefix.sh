#!/usr/bin/env bash
# Usage: tools/wineprefix.sh PREFIX SANE_DS
# Creates the private Wine prefix PREFIX when it does not exist yet (wineboot -i, no display
# needed) and installs the virtual scanner SANE_DS as c:\windows\twain_32\sane.ds, every
# time, so that Wine's DSM lists a freshly built scanner as source 0.
set -euo pipefail
if [ $# -ne 2 ]; then echo "usage: $0 PREFIX SANE_DS" >&2; exit 2; fi
prefix=$(realpath -m "$1")
ds=$2
[ -f "$ds" ] || { echo "$0: no such scanner: $ds" >&2; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c/windows/twain_32" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
mkdir -p "$prefix/drive_c/windows/twain_32"
cp -f "$ds" "$prefix/drive_c/windows/twain_32/sane.ds"
# Windows that no window manager manages: under Xvfb there is none, and Wine would wait on
# every window shown and hidden for a state change that never comes (about 2 s per window).
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
fi
