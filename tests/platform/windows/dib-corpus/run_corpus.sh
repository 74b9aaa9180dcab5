#!/usr/bin/env bash
# The DIB corpus through tools/velmar-host, as a user's program meets it.
#
# Windows: every DIB of the corpus (make_dib_corpus, large kind: blocks a guard can follow) is
# handed over by the virtual scanner with native-guard, into a file and into a picture field,
# and each is followed by a scan of the scanner's own page; all in one run of the host.
# Expected: a valid DIB answers 0 and both the file and the field show exactly the reference
# pixels (ImageMagick compare); a lying one answers 2 with no file and an empty field; the
# page after it answers 0; the host exits with 0.
# Mac: pictures of 0 to 9 bytes and a null handle answer 2 and write no file; 10 bytes and
# the page answer 0.
# Prints one table row per case and exits 1 on any difference.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../.." && pwd)"
builds="${KV_BUILD_DIR:-$repo/build}"
work="${KV_CORPUS_DIR:-$builds/dib-corpus}"
host="$repo/tools/velmar-host"
failed=0
# KV_BUILDS=windows64 (the 64-bit tree's suites): the 64-bit Windows build alone.
windows=windows mac=1
[ "${KV_BUILDS:-}" = windows64 ] && windows=windows64 mac=0

rm -rf "$work"
mkdir -p "$work/corpus" "$work/out" "$work/pictures" "$work/mac"
# The blocks a guard can follow in a process of the Windows build's width.
"$builds/macos/make_dib_corpus" "$work/corpus" "$([ "$windows" = windows64 ] && echo large64 || echo large)" || exit 1
cd "$work" || exit 1

# answers: what each call answered, in the order of the calls (the host prints one line per
# call, its variables indented below it).
read_answers() {
  answers=()
  while IFS= read -r line; do
    case "$line" in
      " "*) ;;
      *" -> "*) answers+=("${line##* -> }") ;;
    esac
  done <<<"$out"
}
pixels() {  # pixels REF IMAGE: "equal", or how many pixels differ
  local n
  n=$(compare -metric AE "$1" "$2" null: 2>&1) || true
  [ "$n" = "0" ] && echo equal || echo "differ ($n)"
}

# ---------------------------------------------------------------- Windows
names=()
verdicts=()
while read -r name kind fault; do
  names+=("$name")
  verdicts+=("${kind}${fault:+ $fault}")
done <corpus/index.txt

controls=(--scanner-control native-guard)
calls=('Twain.Connect()')
for i in "${!names[@]}"; do
  n=${names[$i]}
  controls+=(--scanner-control "native-file corpus/$n.dib" --scanner-control "native-file corpus/$n.dib"
             --scanner-control native-page)
  calls+=("Twain.ScanToFile(\"out/$n.bmp\")" "Twain.ScanToField(\$c$i:picture)" "Twain.ScanToFile(\"out/page.bmp\")")
done
start=$(date +%s)
out="$("$host" --build "$windows" --save-pictures pictures "${controls[@]}" "${calls[@]}" 2>stderr.txt)"
status=$?
echo "Windows ($windows): ${#names[@]} DIBs, $(( ${#calls[@]} - 1 )) scans in one run of the host, $(( $(date +%s) - start )) s, exit status $status"
[ $status -eq 0 ] || { failed=1; tail -n 5 stderr.txt; }
read_answers

printf '| %-34s | %-20s | %-4s | %-5s | %-12s | %-12s | %-4s |\n' kind verdict file field "file pixels" "field pixels" next
printf '|%s|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..36})" "$(printf -- '-%.0s' {1..22})" ------ ------- \
  "$(printf -- '-%.0s' {1..14})" "$(printf -- '-%.0s' {1..14})" ------
for i in "${!names[@]}"; do
  n=${names[$i]}
  v=${verdicts[$i]}
  file=${answers[$((1 + 3 * i))]:-}
  field=${answers[$((2 + 3 * i))]:-}
  next=${answers[$((3 + 3 * i))]:-}
  fp=-; pp=-
  ok=1
  if [ "$v" = valid ]; then
    [ "$file" = 0 ] && [ "$field" = 0 ] || ok=0
    fp=$(pixels "corpus/$n.ppm" "out/$n.bmp")
    pp=$(pixels "corpus/$n.ppm" "pictures/c$i.bmp")
    [ "$fp" = equal ] && [ "$pp" = equal ] || ok=0
  else
    [ "$file" = 2 ] && [ "$field" = 2 ] && [ ! -e "out/$n.bmp" ] && [ ! -e "pictures/c$i.bmp" ] || ok=0
  fi
  [ "$next" = 0 ] || ok=0
  [ $ok -eq 1 ] || failed=1
  printf '| %-34s | %-20s | %-4s | %-5s | %-12s | %-12s | %-4s |%s\n' "$n" "$v" "${file:-?}" "${field:-?}" "$fp" "$pp" \
    "${next:-?}" "$([ $ok -eq 1 ] || echo ' FAIL')"
done

# ---------------------------------------------------------------- Mac
if [ $mac -eq 0 ]; then
  [ $failed -eq 0 ] && echo "== DIB corpus: every case as expected" || echo "== DIB corpus: FAILURES above"
  exit $failed
fi
controls=()
calls=('Twain.Connect()')
for size in 0 1 5 9 10 null; do
  order="native-size $size"
  [ $size = null ] && order=native-null
  controls+=(--scanner-control "$order" --scanner-control "$order" --scanner-control native-page)
  calls+=("Twain.ScanToFile(\":mac:$size.pict\")" "Twain.ScanToField(\$m$size:picture)" "Twain.ScanToFile(\":mac:page-$size.pict\")")
done
out="$("$host" --build macos "${controls[@]}" "${calls[@]}" 2>stderr-mac.txt)"
printf "%s\n" "$out" >out-mac.txt
status=$?
echo
echo "Mac: exit status $status"
[ $status -eq 0 ] || failed=1
read_answers
printf '| %-13s | %-4s | %-5s | %-16s | %-4s |\n' picture file field "file size" next
k=0
for size in 0 1 5 9 10 null; do
  file=${answers[$((1 + 3 * k))]:-}
  field=${answers[$((2 + 3 * k))]:-}
  next=${answers[$((3 + 3 * k))]:-}
  k=$((k + 1))
  bytes=$( [ -e "mac/$size.pict" ] && stat -c %s "mac/$size.pict" || echo "no file")
  want=2; [ $size = 10 ] && want=0
  ok=1
  [ "$file" = $want ] && [ "$field" = $want ] && [ "$next" = 0 ] || ok=0
  if [ $want = 2 ]; then [ "$bytes" = "no file" ] || ok=0; else [ "$bytes" = 522 ] || ok=0; fi
  [ $ok -eq 1 ] || failed=1
  printf '| %-13s | %-4s | %-5s | %-16s | %-4s |%s\n' "$([ $size = null ] && echo 'null handle' || echo "$size bytes")" "${file:-?}" "${field:-?}" "$bytes" "${next:-?}" \
    "$([ $ok -eq 1 ] || echo ' FAIL')"
done
echo
[ $failed -eq 0 ] && echo "== DIB corpus: every case as expected" || echo "== DIB corpus: FAILURES above"
exit $failed
