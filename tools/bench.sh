#!/usr/bin/env bash
# `make bench`: Twain.ScanToFile of a whole 300 dpi RGB page against the floor of the same
# work done directly, per build (bench/scan_bench.cpp). Runs each build's scan_bench in a
# scratch folder, checks the last scan's file with ImageMagick, and measures the Mac run's
# peak memory once more from outside with /usr/bin/time -v.
#   KV_BENCH_RUNS: runs per build (default 7)
set -uo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
runs="${KV_BENCH_RUNS:-7}"
status=0

for build in macos windows; do
  exe="build/$build/bench/scan_bench"
  [ "$build" = windows ] && exe="$exe.exe"
  if [ ! -f "$exe" ]; then
    echo "bench: $exe is not built (make build-$build)" >&2
    status=1
    continue
  fi
  scratch="build/$build/bench/scratch"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  echo "== $build build"
  if [ "$build" = macos ]; then
    (cd "$scratch" && /usr/bin/time -v -o time.txt "$repo/$exe" --runs "$runs") || status=1
    file="$scratch/bench-scan.pict"
    [ -f "$scratch/time.txt" ] && grep -E "Maximum resident set size" "$scratch/time.txt" | sed 's/^\s*/\/usr\/bin\/time -v: /'
  else
    (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/windows/wineprefix" \
      "$repo/tools/wine-run.sh" "$repo/$exe" --runs "$runs" 2>&1 | tr -d '\r' | grep -v '^X connection to') || status=1
    file="$scratch/bench-scan.bmp"
  fi
  if [ -f "$file" ]; then
    echo "identify: $(identify -format '%m %wx%h %[type]' "$file" 2>&1 | head -1)"
  else
    echo "bench: no scan file was left in $scratch" >&2
    status=1
  fi
  rm -rf "$scratch"
  echo
done
exit $status
