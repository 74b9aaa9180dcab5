# Shared by the end-to-end check scripts (sourced): one line per check, counts at the end.
# `expect` reads the output of the last run from $out.
passed=0
failed=0
compared=0
# The builds checked: the Mac build and the 32-bit Windows build, or what KV_BUILDS names (the
# 64-bit tree's suites set it to windows64: its Windows checks alone, the Mac build's being run
# once already); $win_build is the Windows build among them (empty when there is none).
checked_builds="${KV_BUILDS:-macos windows}"
win_build=""
for b in $checked_builds; do [ "$b" = macos ] || win_build="$b"; done
checks_mac() { [[ " $checked_builds " == *" macos "* ]]; }

pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() {
  failed=$((failed + 1))
  echo "FAIL $1"
  [ $# -gt 1 ] && printf '%s\n' "$2" | sed 's/^/     | /'
}

# expect NAME LINE...: every LINE appears in $out as a whole line, and in the given order.
expect() {
  local name="$1"
  shift
  local rest="$out" line
  for line in "$@"; do
    # Not through a pipe: grep -q leaves at its first match, and under pipefail a printf
    # still writing would then fail the pipeline (SIGPIPE) although the line was there.
    if ! grep -Fxq -- "$line" <<<"$rest"; then
      fail "$name" "missing, or out of order: $line"$'\n'"output was:"$'\n'"$out"
      return
    fi
    # What follows the first occurrence: later lines must come after it.
    rest="$(printf '%s\n' "$rest" | awk -v l="$line" 'found { print } $0 == l && !found { found = 1 }')"
  done
  pass "$name"
}

# same_pixels NAME FILE EXPECTED: FILE has exactly EXPECTED's pixels, both read by ImageMagick
# as 8-bit RGB; `compare` counts the pixels that differ.
same_pixels() {
  local name="$1" file="$2" expected="$3" n
  compared=$((compared + 1))
  if [ ! -f "$file" ]; then
    fail "$name" "$file was not written"
    return
  fi
  n="$(convert "$file" -alpha off -type TrueColor -depth 8 ppm:- | compare -metric AE - "$expected" null: 2>&1)"
  if [ "$n" = 0 ]; then
    pass "$name ($(identify -format '%m %wx%h' "$file" | head -1))"
  else
    fail "$name" "$n pixels differ from $expected"
  fi
}

# same_pixels_pages NAME STEM EXT LAST EXPECTED: the pages STEM-0001.EXT to STEM-LAST.EXT of a
# batch each have EXPECTED's pixels, and STEM-(LAST+1).EXT was not written.
same_pixels_pages() {
  local name="$1" stem="$2" ext="$3" last="$4" expected="$5" k f
  for k in $(seq 1 "$last"); do
    f="$(printf '%s-%04d.%s' "$stem" "$k" "$ext")"
    same_pixels "$name: page $k" "$f" "$expected"
  done
  f="$(printf '%s-%04d.%s' "$stem" $((last + 1)) "$ext")"
  if [ -e "$f" ]; then fail "$name: nothing after page $last" "$f exists"; else pass "$name: nothing after page $last"; fi
}

# run_source N NAME CALL...: one run of tools/velmar-host's Windows build ($host) with source N
# selected, picture variables saved in the current folder; the output in NAME.out and $out.
run_source() {
  local source="$1" name="$2" status
  shift 2
  "$host" --build "$win_build" --select "$source" --save-pictures "$PWD" 'Twain.SelectDataSource()' "$@" \
    >"$name.out" 2>"$name.err"
  status=$?
  out="$(cat "$name.out")"
  [ "$status" -eq 0 ] || fail "$name: velmar-host exits 0" "exit $status: $(cat "$name.err")"
}

# Closing line; the status of the script.
summary() {
  if [ "$compared" -gt 0 ]; then
    echo "$passed passed, $failed failed, $compared pages compared pixel by pixel"
  else
    echo "$passed passed, $failed failed"
  fi
  [ "$failed" -eq 0 ]
}
