#!/usr/bin/env bash
# Usage: tools/wineprefix.sh PREFIX SANE_DS [TWAINDSM [TWAINDSM32 [SANE_DS32]]]
# Creates the private Wine prefix PREFIX when it does not exist yet (wineboot -i, no display
# needed) and installs the virtual scanner SANE_DS as the first source of Wine's DSM, every
# time, so that the DSM lists a freshly built scanner as source 0: a 32-bit scanner as
# c:\windows\twain_32\sane.ds in a 32-bit prefix, a 64-bit one (PE32+) as
# c:\windows\twain_64\sane.ds in a 64-bit prefix (WINEARCH win64), where a 64-bit process
# looks for its sources.
# TWAINDSM (the TWAIN 2 manager stand-in of the scanner's width) goes into the system folder of
# that width as TWAINDSM.DLL, beside Wine's TWAIN_32.DLL, as a host vendor installs the real
# one; with a 64-bit scanner, TWAINDSM32 (the 32-bit one) goes into syswow64, and SANE_DS32 (the
# 32-bit scanner) into twain_32 with Wine's 32-bit camera: the sources a 32-bit process of the
# prefix lists, as the 64-bit build's 32-bit worker does.
# Source 1 is Wine's own camera source, gphoto2.ds of the same width, as in a fresh prefix: a
# prefix in which another file took that name (with a DLL override that preferred it to
# Wine's) gets Wine's back.
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 5 ]; then echo "usage: $0 PREFIX SANE_DS [TWAINDSM [TWAINDSM32 [SANE_DS32]]]" >&2; exit 2; fi
prefix=$(realpath -m "$1")
ds=$2
dsm=${3:-}
dsm32=${4:-}
ds32=${5:-}
[ -f "$ds" ] || { echo "$0: no such scanner: $ds" >&2; exit 1; }
here="$(cd "$(dirname "$0")" && pwd)"
# The scanner's width, from its PE header: the machine field after the "PE\0\0" signature.
pe=$(od -An -tu4 -j 60 -N 4 "$ds" | tr -d ' ')
machine=$(od -An -tx2 -j $((pe + 4)) -N 2 "$ds" | tr -d ' ')
if [ "$machine" = 8664 ]; then
  export WINEARCH=win64
  folder=twain_64 winedir=x86_64-linux-gnu/wine/x86_64-windows plain=x86_64-windows
else
  folder=twain_32 winedir=i386-linux-gnu/wine/i386-windows plain=i386-windows
fi
export WINEPREFIX=$prefix WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c/windows/$folder" ]; then
  mkdir -p "$prefix"
  if [ "$machine" = 8664 ]; then
    # Wine's 64-bit loader: its 32-bit one would have to be emulated on some machines.
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  else
    wineboot -i >/dev/null 2>&1
  fi
  wineserver -w
fi
wine=$(bash "$here/wine-loader.sh" "$ds")
twain="$prefix/drive_c/windows/$folder"
mkdir -p "$twain"
cp -f "$ds" "$twain/sane.ds"
# Windows that no window manager manages: under Xvfb there is none, and Wine would wait on
# every window shown and hidden for a state change that never comes (about 2 s per window).
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
fi
# The virtual scanner is the TWAIN 2 manager's default source, as a user who chose it once in
# the manager's Select Source dialog leaves it (the manager keeps the file's full path).
if [ "$machine" = 8664 ]; then key=TWAIN64; else key=TWAIN; fi
default="C:\\windows\\$folder\\sane.ds"
if ! grep -qF "\"Default Source\"=\"C:\\\\windows\\\\$folder\\\\sane.ds\"" "$prefix/user.reg" 2>/dev/null; then
  "$wine" reg add "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\$key" /v 'Default Source' /d "$default" /f >/dev/null 2>&1
  wineserver -w
fi
# Wine's camera source as source 1 (of each width a process of the prefix may have).
if grep -q '"gphoto2.ds"="native"' "$prefix/user.reg" 2>/dev/null; then
  "$wine" reg delete 'HKCU\Software\Wine\DllOverrides' /v gphoto2.ds /f >/dev/null 2>&1
  wineserver -w
fi
camera="$(ls "/usr/lib/$winedir/gphoto2.ds" "/usr/lib/wine/$plain/gphoto2.ds" 2>/dev/null | head -1 || true)"
if [ -n "$camera" ] && ! cmp -s "$camera" "$twain/gphoto2.ds"; then
  cp -f "$camera" "$twain/gphoto2.ds"
fi
rm -f "$twain/TWAIN_logo.png"
if [ -n "$ds32" ] && [ "$machine" = 8664 ]; then
  [ -f "$ds32" ] || { echo "$0: no such scanner: $ds32" >&2; exit 1; }
  twain32="$prefix/drive_c/windows/twain_32"
  mkdir -p "$twain32"
  cmp -s "$ds32" "$twain32/sane.ds" || cp -f "$ds32" "$twain32/sane.ds"
  camera32="$(ls /usr/lib/i386-linux-gnu/wine/i386-windows/gphoto2.ds /usr/lib/wine/i386-windows/gphoto2.ds 2>/dev/null | head -1 || true)"
  if [ -n "$camera32" ] && ! cmp -s "$camera32" "$twain32/gphoto2.ds"; then cp -f "$camera32" "$twain32/gphoto2.ds"; fi
  if ! grep -qF '"Default Source"="C:\\windows\\twain_32\\sane.ds"' "$prefix/user.reg" 2>/dev/null; then
    "$wine" reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\TWAIN' /v 'Default Source' /d 'C:\windows\twain_32\sane.ds' /f >/dev/null 2>&1
    wineserver -w
  fi
fi

# The TWAIN 2 manager, copied only when it changed.
install_dsm() {
  local from=$1 folder=$2
  [ -n "$from" ] || return 0
  [ -f "$from" ] || { echo "$0: no such manager: $from" >&2; exit 1; }
  mkdir -p "$folder"
  if ! cmp -s "$from" "$folder/twaindsm.dll"; then cp -f "$from" "$folder/twaindsm.dll"; fi
}
# A 32-bit process's system folder is syswow64 in a 64-bit prefix (wineboot makes one unless
# WINEARCH says otherwise), system32 in a 32-bit one.
windows="$prefix/drive_c/windows"
if [ "$machine" = 8664 ]; then
  install_dsm "$dsm" "$windows/system32"
  install_dsm "$dsm32" "$windows/syswow64"
elif [ -d "$windows/syswow64" ]; then
  install_dsm "$dsm" "$windows/syswow64"
else
  install_dsm "$dsm" "$windows/system32"
fi
