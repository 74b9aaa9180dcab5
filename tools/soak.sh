#!/usr/bin/env bash
# A long run of one host process, with its memory watched from outside:
#   tools/soak.sh --build macos|windows|windows64 [--calls N]    mixed calls (default 20,000)
#   tools/soak.sh --build macos|windows|windows64 --cycles N     Twain.Disconnect and Twain.Connect, N times
# Mixed calls repeat a block of 20 that a records program makes: source names and choice,
# capabilities read and set, options, every writer (a native file, numbered TIFF, PNG and
# JPEG pages, a multi-page TIFF, a PDF by both transfers), a picture field, a blank batch, a
# page limit, calls that must fail (no such capability, an empty path, a bad value),
# Disconnect and Connect; the virtual scanner's feeder holds two sheets at each enable.
# The process's resident memory (VmRSS; under Wine, the process that runs velmar-host.exe) is
# read five times a second; the table gives it at each tenth of the calls, and the closing lines the
# median of each quarter's readings and the last quarter's against the second's. Every answer is
# checked against the one the block expects: the first that differs stops the count.
# Runs in a scratch folder under build/<build>/soak; prints the table, exits 1 on a wrong answer.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="" calls=20000 cycles=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --calls) calls="$2"; shift 2 ;;
    --cycles) cycles="$2"; shift 2 ;;
    *) echo "usage: tools/soak.sh --build macos|windows|windows64 [--calls N | --cycles N]" >&2; exit 2 ;;
  esac
done
case "$build" in macos | windows | windows64) ;; *) echo "tools/soak.sh: --build macos|windows|windows64" >&2; exit 2 ;; esac

scratch="$repo/build/$build/soak"
rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch" || exit 1

# One block: each line a call and the answer it must give.
native=bmp
[ "$build" = macos ] && native=pict
block() {
  cat <<EOF
Twain.GetSourceNames(\$names)	0
Twain.SelectSource("Virtual Scanner")	0
Twain.Connect()	0
Twain.GetSourceCapability("XRESOLUTION", \$r, "PIXELTYPE", \$t, "FRAMES", \$f)	0
Twain.SetSourceCapability("XRESOLUTION", 75, "PIXELTYPE", 2)	0
Twain.GetOption("TRANSFER", \$o, "EXISTING", \$e)	0
Twain.ScanToFile("native.$native")	0
Twain.ScanPages("page.tif", \$n, 0, 0, 2)	0
Twain.ScanPages("page.png", \$n, 0, 7, 2)	0
Twain.ScanPages("page.jpg", \$n, 0, 4, 1)	0
Twain.ScanPages("book.tif", \$n, 0, 6, 2)	0
Twain.SetOption("TRANSFER", "MEMORY")	0
Twain.ScanPages("doc.pdf", \$n, 0, 10, 2)	0
Twain.SetOption("TRANSFER", "NATIVE")	0
Twain.ScanToField(\$picture:picture)	0
Twain.SetSourceCapability("NOSUCHWORD", 1)	9
Twain.ScanToFile("")	3
Twain.SetSourceCapability("XRESOLUTION", 123)	10
Twain.Disconnect()	0
Twain.Connect()	0
EOF
}
if [ "$cycles" -gt 0 ]; then
  calls=$((cycles * 2))
  for _ in $(seq "$cycles"); do printf 'Twain.Disconnect()\t0\nTwain.Connect()\t0\n'; done >expected.tsv
else
  blocks=$(((calls + 19) / 20))
  for _ in $(seq "$blocks"); do block; done | head -n "$calls" >expected.tsv
fi
cut -f1 expected.tsv >calls.txt
{ echo 'Twain.SetOption("EXISTING", "REPLACE")'; echo 'Twain.Connect()'; } >first.txt

"$repo/tools/velmar-host" --build "$build" --scanner-control 'pages 2' --calls "$scratch/first.txt" \
  --calls "$scratch/calls.txt" >out.txt 2>err.txt &
runner=$!
# The process that holds the extension: velmar-host itself on the Mac, velmar-host.exe under Wine.
# Both are named so in the process table (Wine names a process after its program).
pid=""
start=$(date +%s)
: >samples.txt
while kill -0 "$runner" 2>/dev/null; do
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || pid="$(pgrep -x -- 'velmar-host.*' | head -1)"
  if [ -n "$pid" ]; then
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)"
    done_calls=$(($(grep -c -- ' -> ' out.txt) - 2))
    [ -n "$rss" ] && [ "$done_calls" -gt 0 ] && echo "$done_calls $rss" >>samples.txt
  fi
  sleep 0.2
done
wait "$runner"
status=$?
seconds=$(($(date +%s) - start))

# The answers, in order, against the block's.
grep -- ' -> ' out.txt | tail -n +3 | sed 's/.* -> //' >answers.txt
cut -f2 expected.tsv >wanted.txt
made=$(wc -l <answers.txt)
first_wrong="$(paste -d'\t' wanted.txt answers.txt | awk -F'\t' '$1 != $2 { print NR; exit }')"
echo "tools/soak.sh --build $build: $made of $calls calls answered in $seconds s (velmar-host exit $status)"
if [ -n "$first_wrong" ]; then
  echo "call $first_wrong: $(sed -n "${first_wrong}p" calls.txt) answered '$(sed -n "${first_wrong}p" answers.txt)', not '$(sed -n "${first_wrong}p" wanted.txt)'"
  status=1
fi
# Resident memory at each tenth of the calls: the last sample at or before it.
printf '%10s %14s\n' calls "VmRSS KiB"
for tenth in 1 2 3 4 5 6 7 8 9 10; do
  at=$((calls * tenth / 10))
  awk -v at="$at" '$1 <= at { v = $2 } END { if (v != "") printf "%10d %14d\n", at, v }' samples.txt
done
# The median of each quarter's samples: memory is flat when the last quarters' medians stay
# where the second quarter's is.
awk -v n="$calls" '
  { q = int(4 * ($1 - 1) / n) + 1; if (q > 4) q = 4; v[q, ++c[q]] = $2 }
  END {
    line = "median VmRSS by quarter of the calls (KiB):"
    for (q = 1; q <= 4; q++) {
      if (!c[q]) { line = line " -"; continue }
      for (i = 1; i <= c[q]; i++) a[i] = v[q, i]
      k = c[q]; for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j > 0 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
      m[q] = a[int((k + 1) / 2)]; line = line " " m[q]
    }
    print line
    if (c[2] && c[4]) printf "last quarter against the second: %+d KiB\n", m[4] - m[2]
  }' samples.txt
[ "$status" -eq 0 ] && [ "$made" -eq "$calls" ]
