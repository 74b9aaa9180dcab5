#!/usr/bin/env bash
# What each built artefact exports, as the tools of its platform list it: the DLL exactly one
# name, `Kardivelle` (no decorated `Kardivelle@24` beside it); the bundle `main` and the host
# kit routines, and nothing else, whatever the build type. Two bundles are checked: the
# RelWithDebInfo one of build/macos, and a Debug one, where nothing is inlined and the
# standard library's template instances stay out of line: only the build (hidden visibility
# and the bundle's export list) keeps them in. The Debug bundle is the Kardivelle target alone
# of build/macos-debug, configured and brought up to date here on every run.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
dll="$repo/build/windows/Kardivelle.dll"
# KV_BUILDS=windows64 (the 64-bit tree's suites): the 64-bit DLL alone, an x86-64 PE32+.
wide=0
[ "${KV_BUILDS:-}" = windows64 ] && wide=1 dll="$repo/build/windows64/Kardivelle.dll"
debug="$repo/build/macos-debug"
status=0

check() {  # NAME GOT WANT
  if [ "$2" = "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed 's/^/     | /'
    status=1
  fi
}

got="$(objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && NR > 1 { print $NF }')"
check "Kardivelle.dll exports only Kardivelle" "$got" "Kardivelle"
if [ $wide -eq 1 ]; then
  got="$(objdump -f "$dll" | sed -n 's/^.*file format \([^ ]*\)$/\1/p; s/^architecture: \([^,]*\),.*/\1/p' | paste -sd' ')"
  check "the 64-bit Kardivelle.dll is a PE32+ x86-64 DLL" "$got" "pei-x86-64 i386:x86-64"
  exit $status
fi

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if cmake -S "$repo" -B "$debug" -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=Debug >"$log" 2>&1 &&
   cmake --build "$debug" -j "${JOBS:-2}" --target Kardivelle >>"$log" 2>&1; then
  echo "ok   the Debug bundle is built (build/macos-debug)"
else
  echo "FAIL the Debug bundle could not be built (build/macos-debug)"
  tail -n 20 "$log" | sed 's/^/     | /'
  status=1
fi

kit="DeleteVelAtom DisposeXPHandle DisposeXPPointer ExtensionInfo GetDesignPtr GetFldInfo GetFldInt GetFldLong
GetFldRef GetFldVal GetPackageId GetVelAtom GetXPHandleSize IsThisFieldType LockXPHandle NewXPPointer SetFldNumber
SetFldText SetFldVal SetVelAtom UnlockXPHandle main"
for tree in macos:RelWithDebInfo macos-debug:Debug; do
  bundle="$repo/build/${tree%%:*}/Kardivelle.bundle/Contents/MacOS/Kardivelle"
  got="$(nm -D --defined-only "$bundle" | awk '{ print $3 }' | sort)"
  check "the ${tree#*:} bundle exports main and the host kit routines" "$got" "$(printf '%s\n' $kit | sort)"
done
exit $status
