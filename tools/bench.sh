#!/usr/bin/env bash
# `make bench`: Twain.ScanToFile of a whole 300 dpi RGB page against the floor of the same
# work done directly, per build (bench/scan_bench.cpp). Runs each build's scan_bench in a
# scratch folder, checks the last scan's file with ImageMagick, and measures the Mac run's
# peak memory once more from outside with /usr/bin/time -v.
# Then Twain.ScanPages of 20 pages against 20 single scans and the floor, per page, and the
# peak memory of processes that run only batches (of 5 and of 20 pages) or only single scans.
# Then Twain.ScanPages of one colour letter page into PNG by native and by memory transfer
# (the option TRANSFER), at 300 and 600 dpi: time per page and peak memory, each in a process
# of its own.
# Then one 1200 dpi colour legal page into PNG and PDF by both transfers on both Windows widths.
# Then the page writers (below), then the 64-bit Windows build's times against the 32-bit
# build's, measure by measure (the single scan, the batch page, each writer), and last the
# scans through the extension's worker process against the same scans in process, per Windows
# build (ISOLATION "PROCESS"; on the 64-bit build also its 32-bit worker, SOURCES "32BIT",
# against the 32-bit build in process): the single scan, the batch page, a 600 dpi colour page,
# the worker's start, and the host's peak memory over batches of 25 and 100 pages.
# The page writers (bench/page_bench.cpp) on a 300 dpi letter page in black and white,
# grey and colour, per format, beside the best ImageMagick's `convert` makes of the same
# pixels in that format: Group 4 for black-and-white TIFF, LZW with the horizontal predictor
# for grey and colour TIFF, PNG at its defaults, JPEG at quality 85 (the same references for
# both builds); and five-page PDFs of that page beside img2pdf's from the same pixels (as PNG,
# and as JPEG at quality 85), with the time of a page added against the page's encoding alone;
# and the blank-page decision's time on the same page against the time to write it as PNG.
#   KV_BENCH_RUNS: runs per build (default 7)
#   KV_BENCH_PAGE_RUNS: runs of the 20-page comparison (default 3)
#   KV_BENCH_TRANSFER_RUNS: pages per transfer and resolution (default 3)
set -uo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
runs="${KV_BENCH_RUNS:-7}"
page_runs="${KV_BENCH_PAGE_RUNS:-3}"
transfer_runs="${KV_BENCH_TRANSFER_RUNS:-3}"
status=0
# Times of both Windows widths, one "measure seconds" line each, compared at the end.
compare="$(mktemp -d)"
trap 'rm -rf "$compare"' EXIT

for build in macos windows windows64; do
  exe="build/$build/bench/scan_bench"
  [ "$build" != macos ] && exe="$exe.exe"
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
    (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" \
      "$repo/tools/wine-run.sh" "$repo/$exe" --runs "$runs" 2>&1 | tr -d '\r' | grep -v '^X connection to') |
      tee "$scratch/single.txt" || status=1
    sed -n 's/^median scan: *\([0-9.]*\) s.*/single-scan \1/p' "$scratch/single.txt" >>"$compare/$build"
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
      (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" \
        "$repo/tools/wine-run.sh" "$repo/$exe" $args 2>&1 | tr -d '\r' | grep -v '^X connection to') \
        >"$scratch/out.txt" || status=1
    fi
    if [ "$args" = "--pages 20 --runs $page_runs" ]; then
      cat "$scratch/out.txt"
      sed -n 's/^median per page, batch of 20: *\([0-9.]*\) s.*/batch-page \1/p' "$scratch/out.txt" >>"$compare/$build"
    else
      grep -E "peak memory of the process|Maximum resident" "$scratch/out.txt" | sed "s/\$/ [$args]/"
    fi
  done
  rm -rf "$scratch"
  echo
done
# ---- memory against native transfer, one process a measure
for build in macos windows windows64; do
  exe="build/$build/bench/scan_bench"
  [ "$build" != macos ] && exe="$exe.exe"
  [ -f "$exe" ] || continue
  scratch="build/$build/bench/transfers"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  echo "== $build build: Twain.ScanPages of one colour letter page into PNG, native against memory transfer," \
    "median of $transfer_runs pages"
  printf '%-5s %-9s %10s %14s %14s %14s\n' dpi transfer "s a page" "peak KiB" "before KiB" "peak / native"
  for dpi in 300 600; do
    native_peak=""
    for transfer in native memory; do
      if [ "$build" = macos ] && [ "$transfer" = native ] && [ "$dpi" = 600 ]; then
        # The Mac's native transfer is a picture, at most 4095 pixels a side: 5100 x 6600 is not one.
        printf '%-5s %-9s %10s %14s %14s %14s\n' "$dpi" "$transfer" - - - "(no picture)"
        continue
      fi
      if [ "$build" = macos ]; then
        (cd "$scratch" && "$repo/$exe" --transfer "$transfer" --dpi "$dpi" --runs "$transfer_runs") >"$scratch/out.txt" 2>&1 ||
          status=1
      else
        (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" "$repo/tools/wine-run.sh" \
          "$repo/$exe" --transfer "$transfer" --dpi "$dpi" --runs "$transfer_runs" 2>&1 | tr -d '\r') >"$scratch/out.txt" ||
          status=1
      fi
      line="$(grep '^transfer ' "$scratch/out.txt")"
      [ -n "$line" ] || { cat "$scratch/out.txt" >&2; status=1; continue; }
      secs="$(sed -E 's/.*: ([0-9.]+) s a page.*/\1/' <<<"$line")"
      peak="$(sed -E 's/.*peak memory ([0-9]+) KiB.*/\1/' <<<"$line")"
      before="$(sed -E 's/.*\(([0-9]+) KiB before.*/\1/' <<<"$line")"
      [ "$transfer" = native ] && native_peak=$peak
      ratio="$(awk -v p="$peak" -v n="$native_peak" 'BEGIN { if (n > 0) printf "%.0f %%", 100 * p / n; else print "-" }')"
      printf '%-5s %-9s %10s %14s %14s %14s\n' "$dpi" "$transfer" "$secs" "$peak" "$before" "$ratio"
    done
  done
  rm -rf "$scratch"
  echo
done
# ---- a 1200 dpi colour legal page (10200 x 16800, 514 MB of pixels) on both Windows widths
for build in windows windows64; do
  exe="build/$build/bench/scan_bench.exe"
  [ -f "$exe" ] || continue
  scratch="build/$build/bench/legal"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  echo "== $build build: Twain.ScanPages of one 1200 dpi colour legal page, one process a line"
  printf '%-9s %-5s %10s %14s %14s\n' transfer file "s a page" "peak KiB" "before KiB"
  for transfer in native memory; do
    for file in legal.png legal.pdf; do
      (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" "$repo/tools/wine-run.sh" \
        "$repo/$exe" --transfer "$transfer" --dpi 1200 --frame 0,0,8.5,14 --file "$file" --runs 1 2>&1 | tr -d '\r') \
        >"$scratch/out.txt" || status=1
      line="$(grep '^transfer ' "$scratch/out.txt")"
      [ -n "$line" ] || { cat "$scratch/out.txt" >&2; status=1; continue; }
      printf '%-9s %-5s %10s %14s %14s\n' "$transfer" "${file##*.}" "$(sed -E 's/.*: ([0-9.]+) s a page.*/\1/' <<<"$line")" \
        "$(sed -E 's/.*peak memory ([0-9]+) KiB.*/\1/' <<<"$line")" "$(sed -E 's/.*\(([0-9]+) KiB before.*/\1/' <<<"$line")"
    done
  done
  rm -rf "$scratch"
  echo
done
# ---- the page writers beside ImageMagick
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() {  # the run time of a command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || return 1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
# ImageMagick's time to write: its median run minus its median run that only reads the page
# (at least 0.01 s: on a busy machine the difference can vanish in the noise).
im_time() {
  local page=$1; shift
  local read write
  read=$(for _ in 1 2 3 4 5; do seconds convert "$page" null:; done | median)
  write=$(for _ in 1 2 3 4 5; do seconds convert "$page" "$@"; done | median)
  awk -v w="$write" -v r="$read" 'BEGIN { d = w - r; printf "%.4f", (d < 0.01 ? 0.01 : d) }'
}
for build in macos windows windows64; do
  exe="build/$build/bench/page_bench"
  [ "$build" != macos ] && exe="$exe.exe"
  [ -f "$exe" ] || { echo "bench: $exe is not built (make build-$build)" >&2; status=1; continue; }
  scratch="build/$build/bench/pages"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  echo "== page writers, $build build: a 300 dpi letter page (2550 x 3300), median of $runs writes"
  if [ "$build" = macos ]; then
    (cd "$scratch" && "$repo/$exe" --runs "$runs" >ours.txt) || status=1
  else
    (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" \
      "$repo/tools/wine-run.sh" "$repo/$exe" --runs "$runs" 2>&1 | tr -d '\r' | grep -v '^X connection to' >ours.txt) || status=1
  fi
  printf '%-10s %-7s %12s %12s %7s %10s %10s %7s\n' format page bytes "IM bytes" "x IM" "writer s" "IM s" "x IM"
  while read -r format type bytes secs; do
    case "$type" in bw) page="$scratch/page-bw.pbm" ;; grey) page="$scratch/page-grey.pgm" ;; *) page="$scratch/page-colour.ppm" ;; esac
    tiffArgs=(-compress LZW -define tiff:predictor=2)
    [ "$type" = bw ] && tiffArgs=(-compress Group4)
    case "$format" in
      png) args=("$scratch/im.png") ;;
      jpeg) args=(-quality 85 "$scratch/im.jpg") ;;
      tiff) args=("${tiffArgs[@]}" "$scratch/im.tif") ;;
      tiff-book) args=("$page" "$page" "$page" "$page" "${tiffArgs[@]}" "$scratch/im.tif") ;;
      bmp) args=("bmp3:$scratch/im.bmp"); [ "$type" = grey ] && args=(-type Palette "${args[@]}")
        [ "$type" = bw ] && args=(-type Bilevel "${args[@]}") ;;
      pict) args=("pict:$scratch/im.pict") ;;
      *) continue ;;
    esac
    imt=$(im_time "$page" "${args[@]}")
    [ "$format" = tiff-book ] && imt=$(awk -v t="$imt" 'BEGIN { printf "%.4f", t / 5 }')
    out=${args[-1]#*:}
    imb=$(stat -c %s "$out" 2>/dev/null || echo 0)
    echo "writer-$format-$type $secs" >>"$compare/$build"
    printf '%-10s %-7s %12s %12s %7.2f %10s %10s %7.2f\n' "$format" "$type" "$bytes" "$imb" \
      "$(awk -v a="$bytes" -v b="$imb" 'BEGIN { print (b > 0 ? a / b : 0) }')" "$secs" "$imt" \
      "$(awk -v a="$secs" -v b="$imt" 'BEGIN { print a / b }')"
    rm -f "$out"
  done < "$scratch/ours.txt"
  [ -s "$scratch/ours.txt" ] || { echo "bench: page_bench printed nothing" >&2; status=1; }
  echo
  echo "== PDF, $build build: five pages of that page, bytes a page beside img2pdf's five pages of the same pixels"
  printf '%-10s %-7s %12s %14s %9s %10s %11s %7s\n' pdf page "bytes/page" "img2pdf/page" "x img2pdf" "page s" "encoding s" "x enc"
  while read -r format type bytes secs enc; do
    case "$format" in pdf-jpeg | pdf-flate) ;; *) continue ;; esac
    case "$type" in bw) page="$scratch/page-bw.pbm" ;; grey) page="$scratch/page-grey.pgm" ;; *) page="$scratch/page-colour.ppm" ;; esac
    # img2pdf embeds a JPEG as it is and a PNG's compressed rows as they are.
    if [ "$format" = pdf-jpeg ] && [ "$type" != bw ]; then src="$scratch/i2p.jpg"; convert "$page" -quality 85 "$src"
    else src="$scratch/i2p.png"; convert "$page" "$src"; fi
    img2pdf "$src" "$src" "$src" "$src" "$src" -o "$scratch/i2p.pdf" 2>/dev/null || { echo "bench: img2pdf failed" >&2; status=1; continue; }
    i2p=$(( $(stat -c %s "$scratch/i2p.pdf") / 5 ))
    printf '%-10s %-7s %12s %14s %9.2f %10s %11s %7.2f\n' "$format" "$type" "$bytes" "$i2p" \
      "$(awk -v a="$bytes" -v b="$i2p" 'BEGIN { print a / b }')" "$secs" "$enc" \
      "$(awk -v a="$secs" -v b="$enc" 'BEGIN { print (b > 0 ? a / b : 0) }')"
    rm -f "$src" "$scratch/i2p.pdf"
  done < "$scratch/ours.txt"
  echo
  echo "blank-page decision (BLANKINK 0.15), $build build, against writing the same page as PNG:"
  printf '%-7s %-6s %10s %7s %10s %7s %10s\n' page kind "native s" "of PNG" "rows s" "of PNG" "PNG s"
  grep '^blank ' "$scratch/ours.txt" | while read -r _ type kind native rows png; do
    printf '%-7s %-6s %10s %6.1f%% %10s %6.1f%% %10s\n' "$type" "$kind" "$native" \
      "$(awk -v a="$native" -v b="$png" 'BEGIN { print 100 * a / b }')" "$rows" \
      "$(awk -v a="$rows" -v b="$png" 'BEGIN { print 100 * a / b }')" "$png"
  done
  rm -rf "$scratch"
  echo
done
# ---- the 64-bit Windows build against the 32-bit one, measure by measure
if [ -s "$compare/windows" ] && [ -s "$compare/windows64" ]; then
  echo "== the 64-bit Windows build against the 32-bit one (seconds; aim: at most 1.05 a page)"
  printf '%-22s %10s %10s %8s\n' measure 32-bit 64-bit "64 / 32"
  join <(sort "$compare/windows") <(sort "$compare/windows64") | while read -r what a b; do
    printf '%-22s %10s %10s %8.2f\n' "$what" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print (a > 0 ? b / a : 0) }')"
  done
  join <(sort "$compare/windows") <(sort "$compare/windows64") | awk '$2 > 0 { r = $3 / $2; s += log(r); n++ }
    END { if (n) printf "geometric mean of %d ratios: %.3f\n", n, exp(s / n) }'
  echo
fi
# ---- scans through the worker against the same scans in process
worker_runs="${KV_BENCH_WORKER_RUNS:-5}"
bench_line() {  # build, the value's sed expression, scan_bench's arguments...
  local build=$1 expr=$2; shift 2
  local scratch="build/$build/bench/worker"
  rm -rf "$scratch"; mkdir -p "$scratch"
  (cd "$scratch" && xvfb-run -a env KV_WINEPREFIX="$repo/build/$build/wineprefix" "$repo/tools/wine-run.sh" \
    "$repo/build/$build/bench/scan_bench.exe" "$@" 2>&1 | tr -d '\r') | sed -n "$expr" | head -1
  rm -rf "$scratch"
}
for build in windows windows64; do
  [ -f "build/$build/bench/scan_bench.exe" ] || continue
  echo "== $build build: through the worker against in process (medians; aims: at most 1.10, the start at most 0.3 s)"
  ways=("PROCESS:--isolation PROCESS")
  [ "$build" = windows64 ] && ways+=("32BIT:--sources 32BIT")
  printf '%-14s %-8s %12s %12s %8s\n' measure worker "in process" "worker" ratio
  for way in "${ways[@]}"; do
    name=${way%%:*}
    # shellcheck disable=SC2206
    opts=(${way#*:})
    # A 32-bit source's scan is the 32-bit build's scan in process.
    base=$build
    [ "$name" = 32BIT ] && base=windows
    [ -f "build/$base/bench/scan_bench.exe" ] || continue
    for measure in single-scan batch-page page-600dpi; do
      case $measure in
        single-scan) args=(--runs "$worker_runs" --only scan); expr='s/^median scan: *\([0-9.]*\) s.*/\1/p' ;;
        batch-page) args=(--pages 20 --runs 3 --only batch); expr='s/^median per page, batch of 20: *\([0-9.]*\) s.*/\1/p' ;;
        page-600dpi) args=(--transfer memory --dpi 600 --runs 3); expr='s/.*: \([0-9.]*\) s a page.*/\1/p' ;;
      esac
      here=$(bench_line "$base" "$expr" "${args[@]}")
      there=$(bench_line "$build" "$expr" "${args[@]}" "${opts[@]}")
      [ -n "$here" ] && [ -n "$there" ] || { echo "bench: $measure through $name printed no time" >&2; status=1; continue; }
      printf '%-14s %-8s %12s %12s %8.2f\n' "$measure" "$name" "$here" "$there" \
        "$(awk -v a="$here" -v b="$there" 'BEGIN { print (a > 0 ? b / a : 0) }')"
    done
  done
  start=$(bench_line "$build" 's/^worker start: *\([0-9.]*\) s.*/\1/p' --start "$worker_runs")
  echo "worker start (Connect starting the worker, less Connect in process): ${start:-?} s"
  for pages in 25 100; do
    peak() { bench_line "$build" 's/^peak memory of the process: *\([0-9]*\) KiB.*/\1/p' --pages "$pages" --runs 1 --only batch "$@"; }
    echo "host's peak memory, one batch of $pages pages: in process $(peak) KiB, through the worker $(peak --isolation PROCESS) KiB"
  done
  echo
done
echo "(tiff-book: a five-page multi-page TIFF, its bytes the whole book's, its time a fifth of the book's;"
echo " IM: ImageMagick's convert of the same pixels: Group 4 / LZW with -define tiff:predictor=2 for TIFF,"
echo " PNG at its defaults, JPEG at -quality 85)"
echo "(pdf-jpeg: grey and colour pages JPEG at quality 85, black and white Flate; pdf-flate: PDFIMAGES LOSSLESS;"
echo " page s: a page added to the PDF; encoding s: the page's JPEG or zlib encoding alone, into memory)"
echo "(blank-page decision: chart, the chart read until its ink passes the limit; blank, a blank sheet read whole;"
echo " native, from the native image as a native transfer judges it; rows, from the page's rows as a memory transfer does)"
exit $status
