#!/usr/bin/env bash
# Installs what both builds and their suites need on a Debian machine, only what is missing:
# the two builds, their suites, the memory checker, the readers of the files, and the compiler
# and runtimes of the fuzz targets (`make test` runs every target briefly, `make fuzz` long).
#
# A package mirror caught mid-sync can leave one architecture without the index of a suite
# (amd64 sees the security suite, i386 does not). Multi-arch packages then cannot be installed
# for i386 at the version amd64 has, and a plain install cannot be resolved. In that case, and
# only for the packages concerned, this install holds both architectures at the newest version
# both indexes list (an apt preference that lives for this install only), and says so.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-multilib xvfb xauth cmake googletest imagemagick libtiff-tools
      valgrind libc6-dbg:i386 clang-format libpng-dev:i386 libjpeg62-turbo-dev:i386 libtiff-dev:i386
      clang libclang-rt-14-dev libz-mingw-w64-dev zlib1g-dev:i386 qpdf poppler-utils img2pdf)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -eq 0 ]; then exit 0; fi
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then $SUDO dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/kv-setup.XXXXXX)
pref=/etc/apt/preferences.d/kardivelle-setup.pref
trap '$SUDO rm -f "$pref"; rm -f "$log"' EXIT

# The indexes: a few tries, then on with what arrived.
for try in 1 2 3; do
  if $SUDO apt-get update -qq >"$log" 2>&1; then break; fi
  if [ $try -eq 3 ]; then
    echo "setup: apt-get update failed 3 times ($(grep -m1 -o 'Failed to fetch [^ ]*' "$log" || tail -n1 "$log")); going on with the indexes that arrived"
  else
    sleep $((try * 5))
  fi
done

# Suites that have an index for one architecture and not for another.
half_suites() {
  apt-get indextargets --format '$(RELEASE)/$(COMPONENT) $(ARCHITECTURE)' 'Created-By: Packages' |
    awk '{ arch[$1] = arch[$1] " " $2 }
         END { for (k in arch) for (i = 1; i <= 2; i++) { a = i == 1 ? "amd64" : "i386"
                 if (index(arch[k] " ", " " a " ") == 0) print k " has no " a " index" } }'
}

# "package version arch" for every Multi-Arch: same package of every index at hand.
multiarch_versions() {
  apt-get indextargets --format '$(FILENAME) $(ARCHITECTURE)' 'Created-By: Packages' |
    while read -r file arch; do
      /usr/lib/apt/apt-helper cat-file "$file" |
        awk -v arch="$arch" '/^Package: /{p=$2} /^Version: /{v=$2} /^Multi-Arch: same/{m=1}
                            /^$/{ if (m) print p, v, arch; p=v=""; m=0 } END { if (m) print p, v, arch }'
    done
}

# Writes the preference that holds each multi-arch package whose newest versions differ
# between the architectures at the newest version both have; prints how many it holds and
# how many of those go down from the version installed.
hold_common_versions() {
  local held=0 downgraded=0 pkg a64 a32 common installed
  : | $SUDO tee "$pref" >/dev/null
  # One line per package whose versions are not the same set on both architectures:
  # "package|amd64 versions|i386 versions".
  while IFS='|' read -r pkg a64 a32; do
    [ "$(newest $a64)" != "$(newest $a32)" ] || continue
    common=$(newest $(comm -12 <(tr ' ' '\n' <<<"$a64" | sort -u) <(tr ' ' '\n' <<<"$a32" | sort -u)))
    [ -n "$common" ] || continue
    printf 'Package: %s\nPin: version %s\nPin-Priority: 1001\n\n' "$pkg" "$common" | $SUDO tee -a "$pref" >/dev/null
    held=$((held + 1))
    installed=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null || true)
    if [ -n "$installed" ] && dpkg --compare-versions "$installed" gt "$common"; then downgraded=$((downgraded + 1)); fi
  done < <(multiarch_versions | sort -u | awk '
      $3 == "amd64" { a[$1] = a[$1] " " $2 } $3 == "i386" { b[$1] = b[$1] " " $2 }
      END { for (p in a) if ((p in b) && a[p] != b[p]) print p "|" a[p] "|" b[p] }')
  echo "$held $downgraded"
}

newest() {
  local best="" v
  for v in "$@"; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  echo "$best"
}

install_needed() { $SUDO apt-get install -y -qq --no-install-recommends "$@" "${need[@]}" >"$log" 2>&1; }

if install_needed; then exit 0; fi
half=$(half_suites)
if [ -n "$half" ]; then
  read -r held downgraded < <(hold_common_versions)
  echo "setup: $(tr '\n' ';' <<<"$half" | sed 's/;$//'): the mirror is half synced, so $held multi-arch packages are held at the version both architectures list for this install ($downgraded of them downgraded)"
  if install_needed --allow-downgrades; then exit 0; fi
fi
missing=$(grep -m1 -E '^E: |Depends:' "$log" || tail -n1 "$log")
echo "setup: cannot install ${need[*]}: ${missing## } (run 'sudo apt-get update' when the mirror is whole and try again)" >&2
exit 1
