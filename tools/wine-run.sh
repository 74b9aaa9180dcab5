#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in the build's private prefix. CTest uses
# it as the cross-compiling emulator; it must run inside an X display (xvfb-run -a).
# A 64-bit program (the 64-bit build's) is started by Wine's 64-bit loader itself, natively;
# `wine` would first start the 32-bit loader, which this machine may have to emulate.
here="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${KV_WINEPREFIX:-$here/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${KV_DLL_OVERRIDES:+;$KV_DLL_OVERRIDES}"
exec "$(bash "$here/tools/wine-loader.sh" "$1")" "$@"
