#!/usr/bin/env bash
# Usage: tools/wine-loader.sh PREFIX
# Prints the Wine loader for PREFIX: Wine's 64-bit loader for a 64-bit prefix (WINEARCH
# win64), where it exists, else `wine`.
prefix="${1:?usage: $0 PREFIX}"
for loader in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
  if [ -x "$loader" ] && grep -q '^#arch=win64' "$prefix/system.reg" 2>/dev/null; then
    echo "$loader"
    exit 0
  fi
done
echo wine
