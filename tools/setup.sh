#!/usr/bin/env bash
# Installs what both builds and their suites need on a Debian machine, only what is missing.
#   tools/setup.sh          the builds, their suites and the memory checker of `make test`
#   tools/setup.sh fuzz     also the compiler and runtimes of the fuzz targets (`make fuzz`)
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-multilib xvfb xauth cmake googletest imagemagick libtiff-tools
      valgrind libc6-dbg:i386 clang-format libpng-dev:i386 libjpeg62-turbo-dev:i386 libtiff-dev:i386)
fuzz_pkgs=(clang libclang-rt-14-dev)
if [ "${1:-}" = "fuzz" ]; then pkgs+=("${fuzz_pkgs[@]}"); fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -eq 0 ]; then exit 0; fi
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then $SUDO dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
