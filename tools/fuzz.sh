#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets of fuzz/ (clang, i386 like the Mac build, with
# AddressSanitizer and UBSan) in build/fuzz and runs each for a fixed number of executions,
# seeded from fuzz/corpus/<target>/. New inputs go to build/fuzz/corpus/<target>/, any
# finding to build/fuzz/findings/. Exit 1 when a target found something.
#   KV_FUZZ_RUNS   executions per target (default 200000)
#   KV_FUZZ_TARGETS  the targets to run (default all four)
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh fuzz || exit 1
runs=${KV_FUZZ_RUNS:-200000}
targets=(${KV_FUZZ_TARGETS:-cap_reader cap_writer text_conversions host_params})
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_SANITIZE=ON -DKV_FUZZ=ON >/dev/null || exit 1
cmake --build "$dir" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}" >"$dir/fuzz-build.log" 2>&1 ||
  { tail -n 40 "$dir/fuzz-build.log"; exit 1; }

status=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t" "$dir/findings"
  log="$dir/fuzz-$t.log"
  start=$(date +%s)
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$dir/fuzz/fuzz_$t" -runs="$runs" -print_final_stats=1 \
    -artifact_prefix="$dir/findings/$t-" "$dir/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  found=$(ls "$dir/findings/$t-"* 2>/dev/null | wc -l)
  line="$t: ${execs:-0} executions, $cov, corpus $(ls "$dir/corpus/$t" | wc -l), $found findings, $(( $(date +%s) - start )) s"
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -E 'kv-fuzz:|ERROR|runtime error|SUMMARY' "$log" | head -n 5
  fi
  echo "$line"
  summary+=("$line")
done
echo "== fuzz: ${#targets[@]} targets, $runs executions each: $([ $status -eq 0 ] && echo 'no findings' || echo 'FINDINGS, see build/fuzz/findings/')"
exit $status
