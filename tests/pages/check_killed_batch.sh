#!/usr/bin/env bash
# A host killed in the middle of a batch (SIGKILL: nothing of the extension runs after it), on
# both builds through tools/velmar-host: every file under a final name is whole (a PDF with its
# trailer, a page that reads back), what was being written is only under its temporary name,
# and the next batch of that name works and leaves nothing beside its files.
# One line per check, then the counts. KV_BUILDS (default "macos windows") names the builds to run.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
builds="${KV_BUILD_DIR:-$repo/build}"
source "$repo/tests/support/checks.sh"
host="$repo/tools/velmar-host"
work="$(mktemp -d)"
trap 'cd /; rm -rf "$work"' EXIT
cd "$work" || exit 1

# kill_when BUILD PATTERN BYTES CALL...: runs the calls, and kills the host once a file
# matching PATTERN holds at least BYTES (a Windows build: every process of its Wine prefix,
# this run's host being the only one).
kill_when() {
  local build="$1" pattern="$2" bytes="$3"
  shift 3
  "$host" --build "$build" "$@" >/dev/null 2>&1 &
  local pid=$! waited=0 size
  while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 3000 ]; do
    size="$(stat -c %s $pattern 2>/dev/null | sort -n | tail -1)"
    [ -n "$size" ] && [ "$size" -ge "$bytes" ] && break
    sleep 0.1
    waited=$((waited + 1))
  done
  if [ "$build" != macos ]; then
    # Every process of the prefix: the server's kill can leave its service processes (Wine
    # 8.0's 64-bit ones were seen to), which hold the host's output open so that the wrapper
    # never ends.
    local prefix="$builds/$build/wineprefix" p
    WINEPREFIX="$prefix" wineserver -k9 2>/dev/null
    for p in /proc/[0-9]*; do
      { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && kill -9 "${p#/proc/}" 2>/dev/null
    done
  else
    kill -9 "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
}

colour=('Twain.Connect()' 'Twain.SetSourceCapability("XRESOLUTION", 300, "YRESOLUTION", 300)')
for build in ${KV_BUILDS:-macos windows}; do
  rm -rf ./*
  # A PDF killed after some of its pages: no doc.pdf without its end.
  kill_when "$build" 'doc.pdf*' 200000 --scanner-control 'pages 20' "${colour[@]}" \
    'Twain.SetOption("PDFIMAGES", "LOSSLESS")' 'Twain.ScanPages("doc.pdf", $n, 0, 10)'
  if [ ! -e doc.pdf ] || qpdf --check doc.pdf >/dev/null 2>&1; then
    pass "$build: a killed PDF batch leaves no unreadable doc.pdf"
  else
    fail "$build: a killed PDF batch leaves no unreadable doc.pdf" "$(ls -l; qpdf --check doc.pdf 2>&1 | tail -2)"
  fi
  # Numbered pages killed in the middle: every page under its final name reads back whole.
  kill_when "$build" 'p-0002.png*' 1 --scanner-control 'pages 20' "${colour[@]}" 'Twain.ScanPages("p.png", $n, 0, 7)'
  broken=""
  for f in p-*.png; do
    [ -e "$f" ] || continue
    identify -regard-warnings "$f" >/dev/null 2>&1 || broken+=" $f"
  done
  [ -z "$broken" ] && pass "$build: every page a killed batch left under its name is whole" ||
    fail "$build: every page a killed batch left under its name is whole" "broken:$broken"$'\n'"$(ls -l)"
  # The next batch of each name: the temporary files left go, the PDF is written (the pages
  # left whole are replaced as EXISTING says).
  out="$("$host" --build "$build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.SetOption("EXISTING", "REPLACE")' \
    'Twain.ScanPages("doc.pdf", $n, 0, 10)' 'Twain.ScanPages("p.png", $n, 0, 7)' 2>&1)"
  expect "$build: the next batches of those names work" 'Twain.ScanPages("doc.pdf", $n, 0, 10) -> 0' '  $n = 3' \
    'Twain.ScanPages("p.png", $n, 0, 7) -> 0' '  $n = 3'
  if qpdf --check doc.pdf >/dev/null 2>&1 && [ "$(ls p-*.png | wc -l)" = 3 ] && ! ls ./*.part >/dev/null 2>&1; then
    pass "$build: the PDF whole, the series the new batch's, nothing left beside them"
  else
    fail "$build: the PDF whole, the series the new batch's, nothing left beside them" "$(ls -l)"
  fi
done
summary
