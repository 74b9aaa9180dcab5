#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets of fuzz/ (clang, i386 like the Mac build, with
# AddressSanitizer and UBSan) in build/fuzz and runs each for a fixed number of executions,
# seeded from fuzz/corpus/<target>/ (dib_check: the DIB corpus of tests/dib-corpus, made by
# make_dib_corpus). New inputs go to build/fuzz/corpus/<target>/, any finding to
# build/fuzz/findings/. Prints each target's executions per second. Exit 1 when a target
# found something.
#   KV_FUZZ_RUNS   executions per target (default 200000)
#   KV_FUZZ_TARGETS  the targets to run (default all five)
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh fuzz || exit 1
runs=${KV_FUZZ_RUNS:-200000}
targets=(${KV_FUZZ_TARGETS:-cap_reader cap_writer text_conversions host_params dib_check})
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_SANITIZE=ON -DKV_FUZZ=ON >/dev/null || exit 1
cmake --build "$dir" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}" make_dib_corpus >"$dir/fuzz-build.log" 2>&1 ||
  { tail -n 40 "$dir/fuzz-build.log"; exit 1; }
mkdir -p "$dir/seeds/dib_check"
"$dir/make_dib_corpus" "$dir/seeds/dib_check" small && rm -f "$dir/seeds/dib_check/"*.ppm "$dir/seeds/dib_check/index.txt" ||
  exit 1
# A small quarantine and short allocation stacks: the targets allocate on every execution,
# and ASan's defaults (256 MB held back, 30 frames recorded per block) cost more than they find
# in code that frees within the execution.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=8}"

status=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t" "$dir/findings"
  log="$dir/fuzz-$t.log"
  seeds="fuzz/corpus/$t"
  [ -d "$seeds" ] || seeds="$dir/seeds/$t"
  start=$(date +%s%N)
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$dir/fuzz/fuzz_$t" -runs="$runs" -print_final_stats=1 \
    -artifact_prefix="$dir/findings/$t-" "$dir/corpus/$t" "$seeds" >"$log" 2>&1
  rc=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  found=$(ls "$dir/findings/$t-"* 2>/dev/null | wc -l)
  line="$t: ${execs:-0} executions in $((ms / 1000)).$(printf '%03d' $((ms % 1000))) s, $(( ${execs:-0} * 1000 / (ms > 0 ? ms : 1) )) exec/s, peak ${rss:-?} MB, $cov, corpus $(ls "$dir/corpus/$t" | wc -l), $found findings"
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -E 'kv-fuzz:|ERROR|runtime error|SUMMARY' "$log" | head -n 5
  fi
  echo "$line"
  summary+=("$line")
done
echo "== fuzz: ${#targets[@]} targets, $runs executions each: $([ $status -eq 0 ] && echo 'no findings' || echo 'FINDINGS, see build/fuzz/findings/')"
exit $status
