#!/usr/bin/env bash
# End to end through tools/velmar-host, for the Mac build and a Windows build (under Wine;
# which ones: $checked_builds of tests/support/checks.sh):
# capabilities by name, scans to files, the scanner's own interface cancelled, source
# selection cancelled, a call the host cannot read, and --help (every option of the usage
# named in the README). Checks the exact lines printed, and every file with ImageMagick's
# identify. Prints one line per check and a closing count.
#
# Windows calls start Wine and a virtual display each time (2 to 4 s), so the calls of one
# build are batched into a few invocations.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
host="$repo/tools/velmar-host"
source "$repo/tests/support/checks.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# run BUILD [OPTIONS] CALL...: the output in $out, the exit status in $status.
run() {
  local build="$1"
  shift
  out="$("$host" --build "$build" "$@" 2>"$scratch/stderr")"
  status=$?
}

# image NAME FILE "FORMAT WIDTH HEIGHT": what ImageMagick reads in FILE.
image() {
  local name="$1" file="$2" want="$3" got
  if [ ! -f "$file" ]; then
    fail "$name" "$file was not written"
    return
  fi
  got="$(identify -format '%m %w %h\n' "$file" 2>&1 | head -1)"
  if [ "$got" = "$want" ]; then pass "$name"; else fail "$name" "identify $file: '$got', expected '$want'"; fi
}

# options TEXT: the options a usage text names, one a line, sorted.
options() { printf '%s\n' "$1" | grep -oE -- '--[a-z][a-z-]*' | sort -u; }

# --help prints the usage on standard output and exits 0, from the wrapper (no build needed)
# and from each build's host. The wrapper's usage names the host's options but the two it
# sets itself, and the README names every option of the wrapper's usage.
out="$("$host" --help 2>"$scratch/stderr")"
status=$?
usage="$out"
if [ "$status" -eq 0 ] && [ "${out%%:*}" = usage ] && [ ! -s "$scratch/stderr" ]; then
  pass "tools/velmar-host --help: the usage on standard output, exit 0"
else
  fail "tools/velmar-host --help: the usage on standard output, exit 0" "exit $status, output: $out, stderr: $(cat "$scratch/stderr")"
fi
missing=""
for option in $(options "$usage"); do
  grep -qE -- "$option([^a-z-]|\$)" "$repo/README.md" || missing+=" $option"
done
if [ -n "$usage" ] && [ -z "$missing" ]; then
  pass "the README names every option of the usage"
else
  fail "the README names every option of the usage" "missing:$missing"
fi
for build in $checked_builds; do
  run "$build" --help
  own="$(options "$out" | grep -vxE -- '--build|--extension')"
  if [ "$status" -eq 0 ] && [ "${out%%:*}" = usage ] && [ "$own" = "$(options "$usage" | grep -vx -- --build)" ]; then
    pass "$build: --help prints the host's usage, exit 0, the wrapper's options"
  else
    fail "$build: --help prints the host's usage, exit 0, the wrapper's options" "exit $status, output: $out"
  fi
done

profile="XFERCOUNT,SUPPORTEDCAPS,UICONTROLLABLE,INDICATORS,PIXELTYPE,BITDEPTH,UNITS,XRESOLUTION,YRESOLUTION,XNATIVERESOLUTION,YNATIVERESOLUTION,PHYSICALWIDTH,PHYSICALHEIGHT,FRAMES,BRIGHTNESS,CONTRAST,THRESHOLD,PIXELFLAVOR,XFERMECH,IMAGEFILEFORMAT,COMPRESSION,HALFTONES,GAMMA,DUPLEX,4102"

for build in $checked_builds; do
  if [ "$build" = macos ]; then ext=pict; else ext=bmp; fi
  rm -f "$scratch"/*.pict "$scratch"/*.bmp "$scratch"/*.png

  # The resolution example, exactly as a user types it.
  run "$build" 'Twain.Connect()' \
    'Twain.GetSourceCapRange("XRESOLUTION", $r)' \
    'Twain.SetSourceCapability("XRESOLUTION", 300)' \
    'Twain.GetSourceCapability("XRESOLUTION", $x)'
  expect "$build: XRESOLUTION range, set 300, read 300" \
    'Twain.Connect() -> 0' \
    'Twain.GetSourceCapRange("XRESOLUTION", $r) -> 0' \
    '  $r = "75,100,150,200,300,600,1200"' \
    'Twain.SetSourceCapability("XRESOLUTION", 300) -> 0' \
    'Twain.GetSourceCapability("XRESOLUTION", $x) -> 0' \
    '  $x = 300'

  # The scan examples: a native BMP on Windows; on the Mac a PNG that the scanner writes.
  if [ "$build" != macos ]; then
    run "$build" 'Twain.Connect()' 'Twain.ScanToFile("page.bmp")'
    expect "$build: ScanToFile(\"page.bmp\") gives 0" 'Twain.Connect() -> 0' 'Twain.ScanToFile("page.bmp") -> 0'
    image "$build: page.bmp is an 850x1100 BMP" page.bmp "BMP3 850 1100"
  else
    run macos 'Twain.Connect()' 'Twain.ScanToFile("page.pict", 0, 7)'
    expect "macos: ScanToFile(\"page.pict\", 0, 7) gives 0" 'Twain.Connect() -> 0' 'Twain.ScanToFile("page.pict", 0, 7) -> 0'
    image "macos: page.pict is an 850x1100 PNG from the scanner" page.pict "PNG 850 1100"
  fi

  # The rest in one instance. The scan comes first: capabilities set later in the session
  # would change its page.
  printf 'not a picture\n' >"exists.$ext"
  cp "exists.$ext" before
  run "$build" 'Twain.Connect()' \
    "Twain.ScanToFile(\"exists.$ext\")" \
    'Twain.GetSourceCapRange("SUPPORTEDCAPS", $s)' \
    'Twain.GetSourceCapability("FRAMES", $f)' \
    'Twain.SetSourceCapability("FRAMES", "1,2,5.5,7")' \
    'Twain.GetSourceCapability("FRAMES", $f)' \
    'Twain.SetSourceCapability("BRIGHTNESS", 5000)' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b)' \
    'Twain.SetSourceCapability("BRIGHTNESS", 40000)' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b)' \
    'Twain.SetSourceCapability("BRIGHTNESS", -40000)' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b)' \
    'Twain.GetSourceCapability("pixeltype", $p)' \
    'Twain.SetSourceCapability("CONTRAST", 10, "XRESOLUTION", 123, "GAMMA", 3)' \
    'Twain.GetSourceCapability("CONTRAST", $c, "XRESOLUTION", $x, "GAMMA", $g)'
  batch="$out"
  if [ "$status" -eq 0 ]; then pass "$build: batch of calls exits 0"; else fail "$build: batch of calls exits 0" "exit $status: $(cat "$scratch/stderr")"; fi
  if [ "$build" = macos ]; then
    expect "macos: an existing file gives 7" "Twain.ScanToFile(\"exists.pict\") -> 7"
    if cmp -s before exists.pict; then pass "macos: the existing file is left as it was"; else fail "macos: the existing file is left as it was"; fi
  else
    expect "$build: an existing file is replaced (0)" "Twain.ScanToFile(\"exists.bmp\") -> 0"
    image "$build: the replaced file is an 850x1100 BMP" exists.bmp "BMP3 850 1100"
  fi
  out="$batch"
  expect "$build: SUPPORTEDCAPS lists the profile in order, 4102 last" \
    'Twain.GetSourceCapRange("SUPPORTEDCAPS", $s) -> 0' "  \$s = \"$profile\""
  expect "$build: FRAMES reads 0,0,8.5,11, is set from four numbers in a text and reads back" \
    'Twain.GetSourceCapability("FRAMES", $f) -> 0' '  $f = "0,0,8.5,11"' \
    'Twain.SetSourceCapability("FRAMES", "1,2,5.5,7") -> 0' \
    'Twain.GetSourceCapability("FRAMES", $f) -> 0' '  $f = "1,2,5.5,7"'
  expect "$build: BRIGHTNESS set to 5000 reads back 1000" \
    'Twain.SetSourceCapability("BRIGHTNESS", 5000) -> 0' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b) -> 0' '  $b = 1000'
  expect "$build: BRIGHTNESS beyond what a FIX32 holds is clamped too, both ways" \
    'Twain.SetSourceCapability("BRIGHTNESS", 40000) -> 0' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b) -> 0' '  $b = 1000' \
    'Twain.SetSourceCapability("BRIGHTNESS", -40000) -> 0' \
    'Twain.GetSourceCapability("BRIGHTNESS", $b) -> 0' '  $b = -1000'
  expect "$build: \"pixeltype\" in lower case gives 9" 'Twain.GetSourceCapability("pixeltype", $p) -> 9'
  # XRESOLUTION 123 is not offered: CONTRAST before it stays set, GAMMA after it is not set.
  expect "$build: a refused pair stops the command, earlier pairs stay set" \
    'Twain.SetSourceCapability("CONTRAST", 10, "XRESOLUTION", 123, "GAMMA", 3) -> 10' \
    'Twain.GetSourceCapability("CONTRAST", $c, "XRESOLUTION", $x, "GAMMA", $g) -> 0' \
    '  $c = 10' '  $x = 100' '  $g = 2.19999694824219'

  # The user cancels in the scanner's interface; the user cancels the source selection.
  run "$build" --scanner-user cancel --select cancel 'Twain.Connect()' \
    "Twain.ScanToFile(\"cancel.$ext\", 1)" 'Twain.SelectDataSource()'
  expect "$build: cancel in the scanner's interface gives 5" "Twain.ScanToFile(\"cancel.$ext\", 1) -> 5"
  if [ ! -e "cancel.$ext" ]; then pass "$build: a cancelled scan writes no file"; else fail "$build: a cancelled scan writes no file"; fi
  expect "$build: a cancelled source selection gives 5" 'Twain.SelectDataSource() -> 5'

  # Scanner commands reach the virtual scanner in order, before the first call: two failures
  # queued for the next capability requests come out first 10, then 9.
  run "$build" --scanner-control 'fail 1 1 1 1 10' --scanner-control 'fail 1 1 1 1 13' 'Twain.Connect()' \
    'Twain.GetSourceCapability("XRESOLUTION", $x)' 'Twain.GetSourceCapability("XRESOLUTION", $x)' \
    'Twain.GetSourceCapability("XRESOLUTION", $x)'
  expect "$build: --scanner-control commands take effect in order" \
    'Twain.GetSourceCapability("XRESOLUTION", $x) -> 10' 'Twain.GetSourceCapability("XRESOLUTION", $x) -> 9' \
    'Twain.GetSourceCapability("XRESOLUTION", $x) -> 0' '  $x = 100'

  # A command the scanner refuses ends the run before any call, with status 2.
  run "$build" --scanner-control 'pending 3' --scanner-control 'pending none' 'Twain.Connect()'
  if [ "$status" -eq 2 ] && [ -z "$out" ] && grep -q "refused the command 'pending none'" "$scratch/stderr"; then
    pass "$build: a refused --scanner-control: exit 2, a message, nothing run"
  else
    fail "$build: a refused --scanner-control: exit 2, a message, nothing run" "exit $status, output: $out, stderr: $(cat "$scratch/stderr")"
  fi

  # Thousands of calls from a file, far more than a command line holds under Wine (about
  # 32 K characters), after a call given on the command line.
  {
    for _ in $(seq 3000); do echo 'Twain.GetSourceCapability("XRESOLUTION", $x)'; done
    printf '\nTwain.About()\r\n'
  } >"$scratch/calls.txt"
  run "$build" 'Twain.Connect()' --calls "$scratch/calls.txt"
  n="$(printf '%s\n' "$out" | grep -cFx 'Twain.GetSourceCapability("XRESOLUTION", $x) -> 0')"
  last="$(printf '%s\n' "$out" | tail -1)"
  if [ "$status" -eq 0 ] && [ "$n" = 3000 ] && [ "$last" = 'Twain.About() -> "1.2"' ] &&
    [ "$(printf '%s\n' "$out" | head -1)" = 'Twain.Connect() -> 0' ]; then
    pass "$build: --calls runs 3000 calls of a file in order"
  else
    fail "$build: --calls runs 3000 calls of a file in order" "exit $status, $n answers of 0, last line: $last, stderr: $(head -3 "$scratch/stderr")"
  fi
  run "$build" --calls "$scratch/no-such-file"
  if [ "$status" -eq 2 ] && [ -z "$out" ]; then pass "$build: --calls with no such file: exit 2"; else fail "$build: --calls with no such file: exit 2" "exit $status"; fi

  # --save-pictures makes its folder, and the folders above it, where they are missing.
  rm -rf pictures
  if [ "$build" = macos ]; then kind=PICT; else kind=BMP3; fi
  run "$build" --save-pictures pictures/field 'Twain.Connect()' 'Twain.ScanToField($page:picture)'
  image "$build: --save-pictures makes its folders and writes the picture there" "pictures/field/page.$ext" \
    "$kind 850 1100"

  # A call the host cannot read runs nothing and fails the command.
  run "$build" 'Twain.Connect()' 'Twain.Connect('
  if [ "$status" -ne 0 ] && [ -z "$out" ] && grep -q "cannot parse call 'Twain.Connect('" "$scratch/stderr"; then
    pass "$build: a call that cannot be parsed: exit $status, nothing run"
  else
    fail "$build: a call that cannot be parsed: non-zero exit, nothing run" "exit $status, output: $out"
  fi
done

# A run that is killed while a scan waits (nobody presses a button in the scanner's window)
# has already passed on every line printed before it, into a file as much as to a terminal.
timeout 15 "$host" --build "$win_build" --scanner-user none 'Twain.Connect()' 'Twain.About()' \
  'Twain.ScanToFile("hang.bmp", 1)' >"$scratch/killed.out" 2>/dev/null
status=$?
out="$(cat "$scratch/killed.out")"
if [ "$status" -eq 124 ]; then
  expect "$win_build: a killed run has passed on the lines before the wait" 'Twain.Connect() -> 0' 'Twain.About() -> "1.2"'
else
  fail "$win_build: the run waiting in the scanner's window is killed" "exit $status, output: $out"
fi

summary
