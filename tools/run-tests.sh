#!/usr/bin/env bash
# Runs every suite of both builds and prints one closing line with the totals.
set -uo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
status=0
echo "== macOS build suites"
ctest --test-dir build/macos --output-on-failure -j 2 || status=1
echo "== Windows build suites (under Wine)"
xvfb-run -a ctest --test-dir build/windows --output-on-failure || status=1
wineserver -k 2>/dev/null || true
echo "== wall time: $(( $(date +%s) - start )) s"
exit $status
