#!/usr/bin/env bash
# What each built artefact exports, as the tools of its platform list it: the DLL exactly one
# name, `Kardivelle` (no decorated `Kardivelle@24` beside it); the bundle `main` and the host
# kit routines, and nothing else.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
dll="$repo/build/windows/Kardivelle.dll"
bundle="$repo/build/macos/Kardivelle.bundle/Contents/MacOS/Kardivelle"
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

kit="DeleteVelAtom DisposeXPHandle DisposeXPPointer ExtensionInfo GetDesignPtr GetFldInfo GetFldInt GetFldLong
GetFldRef GetFldVal GetPackageId GetVelAtom GetXPHandleSize IsThisFieldType LockXPHandle NewXPPointer SetFldNumber
SetFldText SetFldVal SetVelAtom UnlockXPHandle main"
got="$(nm -D --defined-only "$bundle" | awk '{ print $3 }' | sort)"
check "the bundle exports main and the host kit routines" "$got" "$(printf '%s\n' $kit | sort)"
exit $status
