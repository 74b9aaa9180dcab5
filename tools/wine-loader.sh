#!/usr/bin/env bash
# Usage: tools/wine-loader.sh PROGRAM
# Prints the Wine loader for a Windows PROGRAM file: Wine's 64-bit loader for a 64-bit program
# (PE32+ x86-64), which then runs natively (`wine` would first start the 32-bit loader, which
# this machine may have to emulate); else `wine`.
program="${1:?usage: $0 PROGRAM}"
if [ -f "$program" ]; then
  pe=$(od -An -tu4 -j 60 -N 4 "$program" 2>/dev/null | tr -d ' ')
  machine=$(od -An -tx2 -j $((${pe:-0} + 4)) -N 2 "$program" 2>/dev/null | tr -d ' ')
  for loader in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
    if [ "$machine" = 8664 ] && [ -x "$loader" ]; then
      echo "$loader"
      exit 0
    fi
  done
fi
echo wine
