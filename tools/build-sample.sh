#!/usr/bin/env bash
# Builds the TWAIN Working Group's sample data source (a third-party source the Windows build
# is tested against) with its own build script, into OUT/TWAINDS_Sample01.ds; its objects go
# to OUT/tmp, never into the package's folder. Does nothing when the result is newer than
# every file of the package.
#   tools/build-sample.sh PACKAGE OUT
# Without the package (PACKAGE does not exist) it says so in one line, removes a source built
# from an earlier package, and succeeds: the suites that need the source then report
# themselves skipped.
set -euo pipefail
if [ $# -ne 2 ]; then echo "usage: $0 PACKAGE OUT" >&2; exit 2; fi
package=$1
out=$(realpath -m "$2")
ds="$out/TWAINDS_Sample01.ds"
if [ ! -x "$package/build.sh" ]; then
  # A source built from an earlier package is not the package: it goes, and nothing else
  # takes its place.
  rm -f "$ds"
  echo "sample source: no package at $package; the real_sources suite will be skipped"
  exit 0
fi
if [ -f "$ds" ] && [ -z "$(find "$package" -type f -newer "$ds" -print -quit)" ]; then
  exit 0
fi
mkdir -p "$out/tmp"
TMPDIR="$out/tmp" "$package/build.sh" "$out" >/dev/null
rmdir "$out/tmp" 2>/dev/null || true
echo "sample source: built $ds"
