#!/usr/bin/env bash
# Usage: run_twaindsm_faults.sh TREE GTEST_ARGS...
# Runs the suite's fault matrix through the TWAIN 2 manager: the tree's fault-injecting
# TWAINDSM.DLL (fault-dsm2/) goes into the prefix's system folder of the tree's width, with the
# manager stand-in beside it as kvrealdsm.dll; the installed manager waits aside, and is put
# back however the run ends (also after a run that was killed: the next run puts it back first).
set -uo pipefail
tree=$(realpath "$1")
shift
here="$(cd "$(dirname "$0")/../.." && pwd)"
windows="$tree/wineprefix/drive_c/windows"
exe="$tree/fault-dsm/kv_tests.exe"
# The tree's width from its program's PE header, as tools/wineprefix.sh reads it.
pe=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j $((pe + 4)) -N 2 "$exe" | tr -d ' ')
if [ "$machine" = 8664 ] || [ ! -d "$windows/syswow64" ]; then system="$windows/system32"; else system="$windows/syswow64"; fi
installed="$system/twaindsm.dll"
aside="$system/twaindsm.dll.kvaside"
restore() {
  if [ -f "$aside" ]; then mv -f "$aside" "$installed"; fi
  rm -f "$system/kvrealdsm.dll"
}
restore
[ -f "$installed" ] || { echo "no TWAINDSM.DLL installed in $system" >&2; exit 1; }
trap restore EXIT
cp -f "$installed" "$system/kvrealdsm.dll"
mv -f "$installed" "$aside"
cp -f "$tree/fault-dsm2/TWAINDSM.dll" "$installed"
cd "$tree/fault-dsm" || exit 1
KV_FAULT_DSM=1 KV_FAULT_TWAINDSM=1 KV_TEST_DSM=TWAINDSM KV_WINEPREFIX="$tree/wineprefix" \
  bash "$here/tools/wine-run.sh" "$tree/fault-dsm/kv_tests.exe" "$@"
