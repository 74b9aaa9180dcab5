#!/usr/bin/env bash
# Prints how this machine runs the i386 programs of both builds: "native", or "emulated" when
# they go through QEMU's user-mode emulator (registered for i386 ELF files by tools/setup.sh on
# a kernel without IA-32 emulation). Under the emulator AddressSanitizer cannot start (its
# shadow memory reservation never completes) and valgrind's x86 core stops on its first
# instructions, so the suites that need them say so and count as skipped there.
#   tools/i386-mode.sh --time-factor   how many times the tests' time limits and wall-clock
#                                      budgets stretch here: 10 under the emulator, else 1
entry=/proc/sys/fs/binfmt_misc/qemu-i386
mode=native
if [ -r "$entry" ] && [ "$(head -n1 "$entry")" = enabled ]; then mode=emulated; fi
if [ "${1:-}" = --time-factor ]; then
  if [ "$mode" = emulated ]; then echo 10; else echo 1; fi
else
  echo "$mode"
fi
