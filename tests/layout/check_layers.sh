#!/usr/bin/env bash
# The layers of src/ include only downwards: each folder from the folders below it in this
# list, and from its own. platform/<os>/ sits on top and includes from everything; the two
# ABI headers (the host's and TWAIN's) are the bottom of every folder above traits/.
set -uo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../src" && pwd)"
layers=(traits host record twain caps image options pages transfer scan entry platform)
abi=("host/host_abi.h" "twain/twain.h")
declare -A level=()
for i in "${!layers[@]}"; do level[${layers[$i]}]=$i; done
status=0 checked=0
while IFS= read -r file; do
  rel="${file#"$src"/}"
  from="${rel%%/*}"
  [ "$from" = resources ] && continue
  mine=${level[$from]:--1}
  while IFS= read -r inc; do
    to="${inc%%/*}"
    theirs=${level[$to]:--1}
    [ "$theirs" -ge 0 ] || continue  # not one of ours (tests/, a system header)
    checked=$((checked + 1))
    [ "$from" = platform ] && continue
    if [ "$theirs" -gt "$mine" ]; then
      case " ${abi[*]} " in *" $inc "*) [ "$mine" -ge 1 ] && continue ;; esac
      echo "FAIL $rel includes $inc (from $from up to $to)"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)
[ $status -eq 0 ] && echo "ok   $checked includes of src/ go down the layers"
exit $status
