#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, i386 like the Mac build, with AddressSanitizer
# and UBSan) in build/fuzz and runs each for a fixed number of executions, seeded from
# fuzz/corpus/<target>/ (dib_check: the DIB corpus of tests/platform/windows/dib-corpus, made by
# make_dib_corpus). Prints each target's executions per second. Exit 1 when a target found
# something (its oracle failed, a sanitizer reported, or it crashed or hung).
#
#   tools/fuzz.sh        make fuzz: KV_FUZZ_RUNS executions per target (default 200000), from
#                        the seeds and the inputs that earlier runs kept in
#                        build/fuzz/corpus/<target>/, where new inputs go too; findings in
#                        build/fuzz/findings/.
#   tools/fuzz.sh brief  make test: 10000 executions per target from the seeds alone, with a
#                        fixed -seed, so that every run does the same: a change of behaviour
#                        that a target's oracle contradicts fails it. The targets' compares of
#                        pointers feed the mutations, so the addresses are held still too:
#                        no address randomisation, and the same small environment (whose size
#                        moves the stack) wherever it runs. New inputs go to a scratch corpus
#                        emptied first (build/fuzz/brief/corpus/), findings to
#                        build/fuzz/brief/findings/ (also emptied first).
#   KV_FUZZ_TARGETS  the targets to run (default all five)
set -uo pipefail
cd "$(dirname "$0")/.."
mode=${1:-long}
# A small quarantine and short allocation stacks: the targets allocate on every execution,
# and ASan's defaults (256 MB held back, 30 frames recorded per block) cost more than they find
# in code that frees within the execution.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=8}"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
case "$mode" in
  long)
    runs=${KV_FUZZ_RUNS:-200000}
    out=build/fuzz
    fixed=()
    run=()
    ;;
  brief)
    runs=10000
    out=build/fuzz/brief
    fixed=(-seed=1)
    run=(env -i PATH=/usr/bin:/bin "ASAN_OPTIONS=$ASAN_OPTIONS" "UBSAN_OPTIONS=$UBSAN_OPTIONS")
    if setarch -R true 2>/dev/null; then run+=(setarch -R); else echo "fuzz: address randomisation stays on here"; fi
    rm -rf "$out/corpus" "$out/findings"
    ;;
  *)
    echo "usage: tools/fuzz.sh [brief]" >&2
    exit 2
    ;;
esac
bash tools/setup.sh || exit 1
targets=(${KV_FUZZ_TARGETS:-cap_reader cap_writer text_conversions host_params dib_check})
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_SANITIZE=ON -DKV_FUZZ=ON >/dev/null || exit 1
cmake --build "$dir" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}" make_dib_corpus >"$dir/fuzz-build.log" 2>&1 ||
  { tail -n 40 "$dir/fuzz-build.log"; exit 1; }
rm -rf "$dir/seeds/dib_check" && mkdir -p "$dir/seeds/dib_check" || exit 1
"$dir/make_dib_corpus" "$dir/seeds/dib_check" small >/dev/null &&
  rm -f "$dir/seeds/dib_check/"*.ppm "$dir/seeds/dib_check/index.txt" || exit 1

status=0
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t" "$out/findings"
  log="$out/fuzz-$t.log"
  seeds="fuzz/corpus/$t"
  [ -d "$seeds" ] || seeds="$dir/seeds/$t"
  # Findings of earlier runs stay where they are; this run counts its own.
  stamp="$out/findings/.start-$t"
  : >"$stamp"
  start=$(date +%s%N)
  # An input that runs for 25 s (the default is 20 minutes) counts as a finding: a hang.
  "${run[@]}" "$dir/fuzz/fuzz_$t" -runs="$runs" "${fixed[@]}" -timeout=25 \
    -print_final_stats=1 -artifact_prefix="$out/findings/$t-" "$out/corpus/$t" "$seeds" >"$log" 2>&1
  rc=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  cov=$(grep -o "cov: [0-9]*" "$log" | tail -1)
  cov=${cov:-cov: ?}
  found=$(find "$out/findings" -name "$t-*" -newer "$stamp" | wc -l)
  rm -f "$stamp"
  line="$t: ${execs:-0} executions in $((ms / 1000)).$(printf '%03d' $((ms % 1000))) s, $(( ${execs:-0} * 1000 / (ms > 0 ? ms : 1) )) exec/s, peak ${rss:-?} MB, $cov, corpus $(ls "$out/corpus/$t" | wc -l), $found findings"
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -E 'kv-fuzz:|ERROR|runtime error|SUMMARY' "$log" | head -n 5
    echo "$t: the whole output is in $log"
  fi
  echo "$line"
done
echo "== fuzz ($mode): ${#targets[@]} targets, $runs executions each${fixed[*]:+ (${fixed[*]})}: $([ $status -eq 0 ] && echo 'no findings' || echo "FINDINGS, see $out/findings/")"
exit $status
