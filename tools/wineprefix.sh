#!/usr/bin/env bash
# Usage: tools/wineprefix.sh PREFIX SANE_DS
# Creates the private Wine prefix PREFIX when it does not exist yet (wineboot -i, no display
# needed) and installs the virtual scanner SANE_DS as c:\windows\twain_32\sane.ds, every
# time, so that Wine's DSM lists a freshly built scanner as source 0.
# Source 1 is Wine's own camera source, gphoto2.ds, as in a fresh prefix: a prefix in which
# another file took that name (with a DLL override that preferred it to Wine's) gets Wine's
# back.
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
twain="$prefix/drive_c/windows/twain_32"
mkdir -p "$twain"
cp -f "$ds" "$twain/sane.ds"
# Windows that no window manager manages: under Xvfb there is none, and Wine would wait on
# every window shown and hidden for a state change that never comes (about 2 s per window).
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
fi
# Wine's camera source as source 1.
if grep -q '"gphoto2.ds"="native"' "$prefix/user.reg" 2>/dev/null; then
  wine reg delete 'HKCU\Software\Wine\DllOverrides' /v gphoto2.ds /f >/dev/null 2>&1
  wineserver -w
fi
camera="$(ls /usr/lib/i386-linux-gnu/wine/i386-windows/gphoto2.ds /usr/lib/wine/i386-windows/gphoto2.ds 2>/dev/null | head -1 || true)"
if [ -n "$camera" ] && ! cmp -s "$camera" "$twain/gphoto2.ds"; then
  cp -f "$camera" "$twain/gphoto2.ds"
fi
rm -f "$twain/TWAIN_logo.png"
