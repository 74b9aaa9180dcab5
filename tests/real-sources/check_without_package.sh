#!/usr/bin/env bash
# Without the sample source's package, the build says so in one line and builds nothing in
# its place; a source built from an earlier package goes, so that the suite that scans with
# the sample source reports itself skipped (77) rather than running against a stale one.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$repo/tests/support/checks.sh"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$scratch/build/sample-source" "$scratch/build/windows/wineprefix/drive_c/windows/twain_32"
printf 'an earlier build\n' >"$scratch/build/sample-source/TWAINDS_Sample01.ds"
cp "$scratch/build/sample-source/TWAINDS_Sample01.ds" "$scratch/build/windows/wineprefix/drive_c/windows/twain_32/gphoto2.ds"

out="$(bash "$repo/tools/build-sample.sh" "$scratch/no-package" "$scratch/build/sample-source" 2>&1)"
status=$?
if [ "$status" -eq 0 ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ "$out" == *"no package at $scratch/no-package"* ]]; then
  pass "no package: one line, success"
else
  fail "no package: one line, success" "exit $status: $out"
fi
if [ ! -e "$scratch/build/sample-source/TWAINDS_Sample01.ds" ]; then
  pass "no package: the source built from an earlier one is gone"
else
  fail "no package: the source built from an earlier one is gone"
fi

out="$(KV_BUILD_DIR="$scratch/build" bash "$repo/tests/real-sources/check_sample_source.sh" 2>&1)"
status=$?
if [ "$status" -eq 77 ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ "$out" == skipped:* ]]; then
  pass "no package: the sample source suite reports itself skipped"
else
  fail "no package: the sample source suite reports itself skipped" "exit $status: $out"
fi
summary
