#!/usr/bin/env bash
# Runs every example of the README against the builds and compares what the command-line host
# prints with the lines the README shows.
#   tests/readme/check_readme.sh [README]
# An example is a ```console block: a line "$ tools/velmar-host --build B ..." is a command,
# the lines up to the next "$ " line or the end of the block are its expected output. Every
# block runs against both builds (the build name in its commands replaced), except a block
# that follows a line "<!-- readme-check: this build only -->", which runs only as written.
# With KV_BUILDS=windows64, every block that runs on the Windows build runs on the 64-bit one
# (and with "macos windows64", the Mac build's blocks too).
# Each block runs in a fresh empty directory, so the files its scans write start absent.
# Needs both builds and an X display for Wine's dialogs (tools/velmar-host starts its own).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/manager.sh"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
readme="${1:-$repo/README.md}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

blocks=0
commands=0
failures=0

# Splits the README into blocks: $work/block.N/{commands,only} with the command lines and
# their expected outputs as $work/block.N/cmd.K and $work/block.N/expected.K.
awk -v dir="$work" '
  /^<!-- readme-check: this build only -->$/ { only = 1; next }
  /^```console$/ { inblock = 1; n++; k = 0; d = dir "/block." n; system("mkdir -p " d);
                   if (only) { print "" > (d "/only"); close(d "/only") }; only = 0; next }
  /^```/ && inblock { inblock = 0; next }
  !inblock { if ($0 != "") only = only && /^<!--/; next }
  /^\$ / { k++; cmd = d "/cmd." k; ex = d "/expected." k; printf "" > ex; close(ex);
           line = substr($0, 3); cont = (line ~ /\\$/); print line > cmd; close(cmd); next }
  cont { print $0 >> cmd; close(cmd); cont = ($0 ~ /\\$/); next }
  { print $0 >> ex; close(ex) }
' "$readme"

for block in $(ls -d "$work"/block.* 2>/dev/null | sort -t. -k2 -n); do
  blocks=$((blocks + 1))
  first="$(head -n 1 "$block/cmd.1" 2>/dev/null)"
  case "$first" in
    *"--build windows"*) named=windows ;;
    *"--build macos"*) named=macos ;;
    *) echo "README block $blocks: no velmar-host command with --build"; failures=$((failures + 1)); continue ;;
  esac
  builds="macos windows"
  [ -f "$block/only" ] && builds="$named"
  # KV_BUILDS (a Windows tree's own runs) names the builds checked: what runs on the 32-bit
  # Windows build runs on the 64-bit one too, with the same answers; what runs on the Mac
  # build, only where KV_BUILDS names macos.
  if [ -n "${KV_BUILDS:-}" ]; then
    mapped=""
    [[ " $builds " == *" macos "* && " $KV_BUILDS " == *" macos "* ]] && mapped="macos"
    for w in windows windows64; do
      [[ " $builds " == *" windows "* && " $KV_BUILDS " == *" $w "* ]] && mapped+=" $w"
    done
    builds="$mapped"
  fi
  for build in $builds; do
    dir="$work/run.$(basename "$block").$build"
    mkdir -p "$dir"
    for cmd in $(ls "$block"/cmd.* | sort -t. -k3 -n); do
      k="${cmd##*.}"
      commands=$((commands + 1))
      text="$(sed -e "s|^tools/velmar-host|$repo/tools/velmar-host|" \
                  -E -e "s#--build (macos|windows)( |$)#--build $build\2#" "$cmd")"
      # The TWAIN 2 manager (the 64-bit build's, or KV_TEST_DSM's) lists its sources in the
      # order of their paths: the virtual scanner, source 0 of Wine's TWAIN_32.DLL, is its
      # source 1 (after Wine's camera, gphoto2.ds).
      [ "$build" != macos ] && [ "$(manager_of "$build")" = TWAINDSM ] &&
        text="$(sed -E -e 's#--select 0( |$)#--select 1\1#' <<<"$text")"
      actual="$(cd "$dir" && bash -c "$text" 2>&1)"
      status=$?
      expected="$(cat "$block/expected.$k")"
      if [ "$status" -ne 0 ] || [ "$actual" != "$expected" ]; then
        failures=$((failures + 1))
        echo "FAILED ($build, exit $status): $(head -n 1 "$cmd")"
        diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/    /'
      fi
    done
  done
done

echo "README examples: $blocks blocks, $commands commands run, $failures failed"
[ "$blocks" -gt 0 ] && [ "$failures" -eq 0 ]
