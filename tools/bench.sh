#!/usr/bin/env bash
# `make bench`: Twain.ScanToFile of a whole 300 dpi RGB page against the floor of the same
# work done directly, per build (bench/scan_bench.cpp). Runs each build's scan_bench in a
# scratch folder, checks the last scan's file with ImageMagick, and measures the Mac run's
# peak memory once more from outside with /usr/bin/time -v.
# Then Twain.ScanPages of 20 pages against 20 single scans and the floor, per page, and the
# peak memory of processes that run only batches (of 5 and of 20 pages) or only single scans.
#   KV_BENCH_RUNS: runs per build (default 7)
#   KV_BENCH_PAGE_RUNS: runs of the 20-page comparison (default 3)
set -uo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
runs="${KV_BENCH_RUNS:-7}"
page_runs="${KV_BENCH_PAGE_RUNS:-3}"
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

  # Batches: per page against single scans and the floor, then the peak memory of one kind of
  # run per process.
  mkdir -p "$scratch"
  echo "== $build build, 20-page batches"
  for args in "--pages 20 --runs $page_runs" "--pages 5 --runs 1 --only batch" "--pages 20 --runs 1 --only batch" \
              "--pages 20 --runs 1 --only single"; do
    if [ "$build" = macos ]; then
      # shellcheck disable=SC2086
      (cd "$scratch" && /usr/bin/time -v -o time.txt "$repo/$exe" $args) >"$scratch/out.txt" || status=1
      grep -E "Maximum resident set size" "$scratch/time.txt" | sed "s/^\s*/\/usr\/bin\/time -v: /; s/\$/ ($args)/" \
        >>"$scratch/out.txt"
    else
      # shellcheck disable=SC2086
      (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/windows/wineprefix" \
        "$repo/tools/wine-run.sh" "$repo/$exe" $args 2>&1 | tr -d '\r' | grep -v '^X connection to') \
        >"$scratch/out.txt" || status=1
    fi
    if [ "$args" = "--pages 20 --runs $page_runs" ]; then
      cat "$scratch/out.txt"
    else
      grep -E "peak memory of the process|Maximum resident" "$scratch/out.txt" | sed "s/\$/ [$args]/"
    fi
  done
  rm -rf "$scratch"
  echo
done
exit $status
