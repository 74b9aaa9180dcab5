#!/usr/bin/env bash
# Installs what both builds and their suites need on a Debian machine, only what is missing:
# the two builds, their suites, the memory checker, the readers of the files, and the compiler
# and runtimes of the fuzz targets (`make test` runs every target briefly, `make fuzz` long).
#
# A package mirror caught mid-sync can leave one architecture without the index of a suite
# (amd64 sees the security suite, i386 does not). A Multi-Arch: same package then cannot be
# installed for i386 at the version amd64 has, and a plain install cannot be resolved. In that
# case this install holds, in one transaction, the packages that must carry one version on
# both architectures at the newest version both indexes list (an apt preference that lives for
# this install only), and says so. tools/apt-holds.sh works out which from the indexes: the
# Multi-Arch: same packages that end up on both architectures (what the i386 packages asked
# for pull in, recursively, and what amd64 has or pulls in), and what is tied to them by an
# exact version. Nothing that one architecture alone needs is held: holding libpoppler126,
# which only amd64 has, at the version i386 lists left poppler-utils from the security suite
# unresolvable, and holding linux-libc-dev took an installed newer one down for nothing.
# Not two installs (the i386 packages under the hold, then the rest without it): the second
# would be resolved without knowing the first's ties, and an amd64 package there that wants a
# newer shared library would move its amd64 copy away from the i386 one, which apt can only
# answer by removing i386 packages; one install resolves everything against one set of holds.
#
# KV_SETUP_APT_OPTS: apt options ("-o Dir::State::Lists=DIR -o Dir::State::status=FILE
# -o Dir::Etc::PreferencesParts=DIR"), to try this install against another apt state: with it,
# the indexes are taken as they are (no update), every package of the list is asked for, and
# the install is only simulated (apt-get -s).
set -euo pipefail

# Both builds and their suites are 32-bit i386 programs. A kernel built without IA-32
# emulation cannot start them (exec answers ENOEXEC): there they run through QEMU's user-mode
# emulator, registered for i386 ELF files (Debian's qemu-user-static ships no i386 entry for an
# amd64 host, where it is normally not needed). Checked after the packages are in, with the
# i386 loader that libc6:i386 brings.
i386_runs() {
  [ -x /lib/ld-linux.so.2 ] || return 1
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}
ensure_i386_runs() {
  [ -e /lib/ld-linux.so.2 ] || return 0  # nothing i386 installed yet
  i386_runs && return 0
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  [ -e /proc/sys/fs/binfmt_misc/register ] || $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] ||
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
  if i386_runs; then
    echo "setup: this kernel cannot run i386 programs; they run through qemu-i386-static (registered for i386 ELF files)"
  else
    echo "setup: this kernel cannot run i386 programs, and qemu-i386-static could not be registered for them" >&2
    return 1
  fi
}
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 g++-multilib xvfb xauth cmake googletest imagemagick libtiff-tools
      valgrind libc6-dbg:i386 clang-format libpng-dev:i386 libjpeg62-turbo-dev:i386 libtiff-dev:i386
      clang libclang-rt-14-dev libz-mingw-w64-dev zlib1g-dev:i386 qpdf poppler-utils img2pdf
      icc-profiles-free jq libxml2-utils)
read -ra apt_opts <<<"${KV_SETUP_APT_OPTS:-}"
simulate=(); [ ${#apt_opts[@]} -eq 0 ] || simulate=(-s)
for p in "${pkgs[@]}"; do [ ${#simulate[@]} -eq 0 ] && have "$p" || need+=("$p"); done
if [ ${#need[@]} -eq 0 ]; then ensure_i386_runs; exit $?; fi
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then $SUDO dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/kv-setup.XXXXXX)
eval "$(apt-config "${apt_opts[@]}" shell prefdir Dir::Etc::PreferencesParts/d status Dir::State::status/f)"
pref=${prefdir%/}/kardivelle-setup.pref
trap '$SUDO rm -f "$pref"; rm -f "$log" "$log.pref"' EXIT

# The indexes: a few tries, then on with what arrived.
for try in 1 2 3; do
  [ ${#simulate[@]} -eq 0 ] || break
  if $SUDO apt-get update -qq >"$log" 2>&1; then break; fi
  if [ $try -eq 3 ]; then
    echo "setup: apt-get update failed 3 times ($(grep -m1 -o 'Failed to fetch [^ ]*' "$log" || tail -n1 "$log")); going on with the indexes that arrived"
  else
    sleep $((try * 5))
  fi
done

# Suites that have an index for one architecture and not for another.
half_suites() {
  apt-get "${apt_opts[@]}" indextargets --format '$(RELEASE)/$(COMPONENT) $(ARCHITECTURE)' 'Created-By: Packages' |
    awk '{ arch[$1] = arch[$1] " " $2 }
         END { for (k in arch) for (i = 1; i <= 2; i++) { a = i == 1 ? "amd64" : "i386"
                 if (index(arch[k] " ", " " a " ") == 0) print k " has no " a " index" } }'
}

# Every Packages index of one architecture, one after the other.
indexes() {
  apt-get "${apt_opts[@]}" indextargets --format '$(FILENAME)' 'Created-By: Packages' "Architecture: $1" |
    while read -r file; do /usr/lib/apt/apt-helper cat-file "$file"; done
}

# Writes the preference that holds what must carry one version on both architectures (see the
# top); prints how many packages it holds and how many of those go down from a version
# installed.
hold_common_versions() {
  local pkg installed ver
  local -A down=()
  "$(dirname "$0")/apt-holds.sh" --pins --status "$status" <(indexes amd64) <(indexes i386) "${need[@]}" >"$log.pref" ||
    return 1
  $SUDO cp "$log.pref" "$pref"
  # "package installed-version held-version" for each held package installed on either side.
  while read -r pkg installed ver; do
    if dpkg --compare-versions "$installed" gt "$ver"; then down[$pkg]=1; fi
  done < <(awk 'FNR == NR { if (/^Package: /) { sub(/:any$/, "", $2); p = $2 } if (/^Pin: version /) held[p] = $3; next }
                /^Package: /{ q = $2 } /^Version: /{ v = $2 } /^Status: .* installed$/{ s = 1 }
                /^$/{ if (s && (q in held)) print q, v, held[q]; s = 0 }
                END { if (s && (q in held)) print q, v, held[q] }' "$pref" "$status")
  echo "$(grep -c '^Package: ' "$pref") ${#down[@]}"
}

install_needed() {
  $SUDO apt-get "${apt_opts[@]}" install "${simulate[@]}" -y -qq --no-install-recommends "$@" "${need[@]}" >"$log" 2>&1
}

if install_needed; then ensure_i386_runs; exit $?; fi
half=$(half_suites)
if [ -n "$half" ]; then
  if ! counts=$(hold_common_versions); then
    echo "setup: $(tr '\n' ';' <<<"$half" | sed 's/;$//'): the mirror is half synced, and tools/apt-holds.sh failed" >&2
    exit 1
  fi
  read -r held downgraded <<<"$counts"
  echo "setup: $(tr '\n' ';' <<<"$half" | sed 's/;$//'): the mirror is half synced, so $held packages are held at the version both architectures list for this install ($downgraded of them downgraded)"
  if install_needed --allow-downgrades; then ensure_i386_runs; exit $?; fi
fi
missing=$(grep -m1 -E '^E: |Depends:' "$log" || tail -n1 "$log")
echo "setup: cannot install ${need[*]}: ${missing## } (run 'sudo apt-get update' when the mirror is whole and try again)" >&2
exit 1
