#!/usr/bin/env bash
# The tree's C++ layout, as .clang-format describes it.
#   tools/format.sh apply [FILE...]   rewrites the files (default: every tracked .cpp and .h)
#   tools/format.sh check [FILE...]   changes nothing; lists the files whose layout differs and
#                                     exits 1 if there is any, with the number of lines that
#                                     would change
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-check}"
shift || true
format="${CLANG_FORMAT:-clang-format}"
command -v "$format" >/dev/null || { echo "format.sh: $format is not installed" >&2; exit 2; }

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

case "$mode" in
  apply)
    "$format" -i --style=file "${files[@]}"
    ;;
  check)
    differing=0 lines=0
    for f in "${files[@]}"; do
      n=$("$format" --style=file "$f" | diff "$f" - | grep -c '^<' || true)
      if [ "$n" -gt 0 ]; then
        echo "$f: $n lines"
        differing=$((differing + 1)) lines=$((lines + n))
      fi
    done
    if [ "$differing" -gt 0 ]; then
      echo "format.sh: $differing of ${#files[@]} files differ from .clang-format ($lines lines); run tools/format.sh apply" >&2
      exit 1
    fi
    echo "format.sh: ${#files[@]} files follow .clang-format"
    ;;
  *)
    echo "usage: tools/format.sh apply|check [FILE...]" >&2
    exit 2
    ;;
esac
