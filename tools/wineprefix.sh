#!/usr/bin/env bash
# Usage: tools/wineprefix.sh PREFIX SANE_DS [SAMPLE_DS]
# Creates the private Wine prefix PREFIX when it does not exist yet (wineboot -i, no display
# needed) and installs the virtual scanner SANE_DS as c:\windows\twain_32\sane.ds, every
# time, so that Wine's DSM lists a freshly built scanner as source 0.
# SAMPLE_DS, when given and present, is the TWAIN Working Group's sample source: Wine's DSM
# loads sources only as sane.ds and gphoto2.ds, so the sample takes gphoto2.ds's place (with
# a DLL override that prefers this file to Wine's own camera source) and is source 1. The
# page it scans, TWAIN_logo.png beside it whatever the name says, is our test page
# (tools/test-page.sh), a 24-bit BMP. Without SAMPLE_DS an earlier sample is taken out again.
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then echo "usage: $0 PREFIX SANE_DS [SAMPLE_DS]" >&2; exit 2; fi
prefix=$(realpath -m "$1")
ds=$2
sample=${3:-}
[ -f "$ds" ] || { echo "$0: no such scanner: $ds" >&2; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c/windows/twain_32" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
twain="$prefix/drive_c/windows/twain_32"
mkdir -p "$twain"
cp -f "$ds" "$twain/sane.ds"
# Windows that no window manager manages: under Xvfb there is none, and Wine would wait on
# every window shown and hidden for a state change that never comes (about 2 s per window).
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
fi
if [ -z "$sample" ] || [ ! -f "$sample" ]; then
  # No sample source: an earlier one leaves the prefix, and Wine's own camera source is
  # source 1 again, as in a fresh prefix.
  builtin="$(ls /usr/lib/i386-linux-gnu/wine/i386-windows/gphoto2.ds /usr/lib/wine/i386-windows/gphoto2.ds 2>/dev/null | head -1 || true)"
  if grep -q '"gphoto2.ds"="native"' "$prefix/user.reg" 2>/dev/null; then
    rm -f "$twain/TWAIN_logo.png"
    if [ -n "$builtin" ]; then cp -f "$builtin" "$twain/gphoto2.ds"; else rm -f "$twain/gphoto2.ds"; fi
    wine reg delete 'HKCU\Software\Wine\DllOverrides' /v gphoto2.ds /f >/dev/null 2>&1
    wineserver -w
  fi
elif [ -n "$sample" ] && [ -f "$sample" ]; then
  cp -f "$sample" "$twain/gphoto2.ds"
  bash "$(dirname "$0")/test-page.sh" "$twain/TWAIN_logo.png"
  if ! grep -q '"gphoto2.ds"="native"' "$prefix/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v gphoto2.ds /d native /f >/dev/null 2>&1
    wineserver -w
  fi
fi
