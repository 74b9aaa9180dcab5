#!/usr/bin/env bash
# tools/apt-holds.sh on small hand-written indexes (fixtures/): what an install on amd64 with
# i386 multiarch holds when one architecture's indexes lack a suite, and that apt then resolves
# that install. apt only simulates (apt-get -s), against the same indexes served as a local
# repository, with its lists, cache and preferences in a scratch directory and the fixture's
# dpkg status: nothing on this machine is installed or changed.
#
# fixtures/mirror: bookworm main for both architectures and the security suite, newer for
# glibc, linux-libc-dev, libtiff and poppler. status-compiler: amd64 has the compiler's
# libraries from the security suite; status-compiler-both: i386 has them too.
# fixtures/rules: one i386 package reaching libraries through a second alternative, a virtual
# package, a Pre-Depends, a Multi-Arch: foreign program and a Multi-Arch: allowed interpreter.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# tools/apt-holds.sh; a failing exit shows in its output, where no expectation has it.
holds() { "$here/../../tools/apt-holds.sh" "$@" || echo "exit status $?"; }
mirror=$here/fixtures/mirror
rules=$here/fixtures/rules
scratch=$(mktemp -d /tmp/kv-apt-holds.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0

ok() { passed=$((passed + 1)); echo "ok   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL $1"; shift; printf '     %s\n' "$@"; }
# expect NAME EXPECTED ACTUAL: the same lines.
expect() { if [ "$2" == "$3" ]; then ok "$1"; else bad "$1" "expected: ${2//$'\n'/; }" "got:      ${3//$'\n'/; }"; fi; }
# has NAME OUTPUT REGEX / lacks NAME OUTPUT REGEX: a line of apt's output matches, or none does.
has() { if grep -Eq -- "$3" <<<"$2"; then ok "$1"; else bad "$1" "no line matches $3 in:" "${2//$'\n'/$'\n'     }"; fi; }
lacks() {
  local hit
  if hit=$(grep -E -- "$3" <<<"$2"); then bad "$1" "${hit//$'\n'/$'\n'     }"; else ok "$1"; fi
}

main_amd64=$mirror/bookworm-main-amd64.Packages main_i386=$mirror/bookworm-main-i386.Packages
sec_amd64=$mirror/bookworm-security-main-amd64.Packages sec_i386=$mirror/bookworm-security-main-i386.Packages
# What tools/setup.sh asks for, in small: an amd64 program on a library that only amd64 needs
# (poppler-utils), one on a library that i386 needs too (libtiff-tools), the i386 development
# files of that library, and the amd64 C library headers (linux-libc-dev through libc6-dev).
request=(poppler-utils libtiff-tools libtiff-dev:i386 libc6-dev)

# apt_state NAME STATUS PACKAGES...: a local repository of the Packages files (with the file
# fields that apt wants before it will plan an install of a version) and apt's options for it.
apt_state() {
  local dir=$scratch/$1 status=$2
  shift 2
  mkdir -p "$dir"/repo "$dir"/lists/partial "$dir"/cache/archives/partial "$dir"/prefs "$dir"/parts
  cat "$@" | awk '/^Package: /{ p = $2 } /^Version: /{ v = $2 } /^Architecture: /{ a = $2 }
                  /^$/{ if (p != "") printf "Filename: pool/%s_%s_%s.deb\nSize: 1000\nSHA256: %064d\n", p, v, a, 0; p = "" }
                  { print }' >"$dir/repo/Packages"
  echo "deb [trusted=yes] file:$dir/repo ./" >"$dir/sources.list"
  opts=(-o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=$dir/parts"
        -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o "Dir::State::status=$status"
        -o "Dir::Etc::PreferencesParts=$dir/prefs" -o Dir::Etc::Preferences=/dev/null
        -o APT::Architecture=amd64 -o APT::Architectures::=amd64 -o APT::Architectures::=i386
        -o APT::Sandbox::User=root -o Debug::NoLocking=true)
  apt-get "${opts[@]}" update -qq >"$dir/update.log" 2>&1 || { cat "$dir/update.log"; return 1; }
}
# simulate NAME PINS PACKAGE...: apt-get -s install under the pins ("" for none); prints apt's
# output and answers with apt's exit status.
simulate() {
  local dir=$scratch/$1 pins=$2
  shift 2
  printf '%s' "$pins" >"$dir/prefs/holds.pref"
  apt-get "${opts[@]}" -s install --allow-downgrades --no-install-recommends "$@" 2>&1
}

echo "== half-synced mirror: the security suite has no i386 index"
got=$(holds --status "$mirror/status-compiler" <(cat "$main_amd64" "$sec_amd64") "$main_i386" "${request[@]}")
# libtiff6: i386 needs it (libtiff-dev:i386) and amd64 too (libtiff-tools), at the newest
# version both have. glibc: i386 needs libc6 under libtiff6, so the amd64 one, installed from
# the security suite, must come down to it, and with it libc6-dev (tied exactly to libc6) and
# libc-dev-bin (tied exactly to libc6-dev). libpoppler126 and linux-libc-dev: amd64 only.
expect "held: libtiff6 at the version both have, glibc with what is tied to it; not libpoppler126, not linux-libc-dev" \
  "libc-dev-bin 2.36-9+deb12u10
libc6 2.36-9+deb12u10
libc6-dev 2.36-9+deb12u10
libtiff6 4.5.0-6+deb12u1" "$got"
pins=$(holds --pins --status "$mirror/status-compiler" <(cat "$main_amd64" "$sec_amd64") "$main_i386" "${request[@]}")
if apt_state half "$mirror/status-compiler" "$main_amd64" "$main_i386" "$sec_amd64"; then
  if plain=$(simulate half "" "${request[@]}"); then
    bad "without holds the install cannot be resolved (the fixture needs one)" "${plain//$'\n'/$'\n'     }"
  else
    ok "without holds the install cannot be resolved (the fixture needs one)"
  fi
  if out=$(simulate half "$pins" "${request[@]}"); then
    ok "under the holds the install is resolved"
    has "poppler-utils and libpoppler126 come from the security suite" "$out" '^Inst poppler-utils \(22\.12\.0-2\+deb12u3 '
    has "libtiff6:i386 at the held version" "$out" '^Inst libtiff6:i386 \(4\.5\.0-6\+deb12u1 '
    lacks "linux-libc-dev stays at the newer version installed" "$out" '^Inst linux-libc-dev'
    has "libc-dev-bin comes down with libc6-dev" "$out" '^Inst libc-dev-bin \[2\.36-9\+deb12u11\] \(2\.36-9\+deb12u10 '
  else
    bad "under the holds the install is resolved" "${out//$'\n'/$'\n'     }"
  fi
else
  bad "apt reads the half-synced fixture repository"
fi

echo "== whole mirror"
got=$(holds --status "$mirror/status-compiler" <(cat "$main_amd64" "$sec_amd64") <(cat "$main_i386" "$sec_i386") "${request[@]}")
expect "nothing held when both architectures list the same newest versions" "" "$got"
got=$(holds --pins --status "$mirror/status-compiler" <(cat "$main_amd64" "$sec_amd64") <(cat "$main_i386" "$sec_i386") "${request[@]}")
expect "and no preference" "" "$got"
if apt_state whole "$mirror/status-compiler" "$main_amd64" "$main_i386" "$sec_amd64" "$sec_i386"; then
  if out=$(simulate whole "" "${request[@]}"); then ok "resolved without holds"; else bad "resolved without holds" "${out//$'\n'/$'\n'     }"; fi
else
  bad "apt reads the whole fixture repository"
fi

echo "== half-synced mirror, i386 already has the security suite's glibc installed"
# An installed version is one apt can keep: libc6, libc6-dev and linux-libc-dev are at the
# same version on both architectures, so nothing must come down.
got=$(holds --status "$mirror/status-compiler-both" <(cat "$main_amd64" "$sec_amd64") "$main_i386" libc6-dev:i386 libc6-dev)
expect "nothing held: the versions installed on i386 count as versions i386 has" "" "$got"

echo "== the other way round: amd64 has no index of the security suite, i386 has"
got=$(holds --status "$mirror/status-compiler" "$main_amd64" <(cat "$main_i386" "$sec_i386") "${request[@]}")
# libtiff-dev:i386 is tied exactly to libtiff6, so it follows libtiff6 down on i386.
expect "held: libtiff6 and libtiff-dev at the version amd64 has" "libtiff-dev 4.5.0-6+deb12u1
libtiff6 4.5.0-6+deb12u1" "$got"
pins=$(holds --pins --status "$mirror/status-compiler" "$main_amd64" <(cat "$main_i386" "$sec_i386") "${request[@]}")
if apt_state reverse "$mirror/status-compiler" "$main_amd64" "$main_i386" "$sec_i386"; then
  # A pin on the plain name would hold the amd64 copy only, and i386 would take its newest.
  if out=$(simulate reverse "$pins" "${request[@]}"); then
    ok "under the holds the install is resolved"
    has "the holds take i386 down too" "$out" '^Inst libtiff6:i386 \(4\.5\.0-6\+deb12u1 '
  else
    bad "under the holds the install is resolved" "${out//$'\n'/$'\n'     }"
  fi
else
  bad "apt reads the fixture repository"
fi

echo "== what an i386 package pulls in"
got=$(holds --status "$rules/status" "$rules/amd64.Packages" "$rules/i386.Packages" client:i386)
# libalt1 (a second alternative), libvirt-impl1 (provides a virtual package), libpre1 (a
# Pre-Depends): on i386 through client, installed on amd64 at a version i386 lacks. libtool1 and
# libinterp1 are reached through a Multi-Arch: foreign program and a Multi-Arch: allowed
# interpreter (interp:any), which apt takes from amd64: they stay on amd64 alone. libfirst1 is
# the same on both.
expect "held: every alternative, providers, pre-dependencies; not what the amd64 program and interpreter need" \
  "libalt1 1.0-1
libpre1 2.0-1
libvirt-impl1 1.0-1" "$got"
pins=$(holds --pins --status "$rules/status" "$rules/amd64.Packages" "$rules/i386.Packages" client:i386)
if apt_state rules "$rules/status" "$rules/amd64.Packages" "$rules/i386.Packages"; then
  if out=$(simulate rules "$pins" client:i386); then
    ok "under the holds the install is resolved"
    lacks "apt meets the program and the interpreter on amd64, as the holds assume" "$out" '^Inst (tool|interp|libtool1|libinterp1):i386'
    lacks "the held alternative that apt does not take is left alone" "$out" '^Inst libalt1'
  else
    bad "under the holds the install is resolved" "${out//$'\n'/$'\n'     }"
  fi
else
  bad "apt reads the rules fixture repository"
fi

echo "== version order, against dpkg --compare-versions"
# One package per pair of versions: amd64 lists both, i386 the first. It is held (at the first)
# exactly when the second is the newer.
versions=(1.0 1.0-0 1.0-1 0:1.0 1:0.9 1.0~rc1 1.0~~ 1.0~ 1.0a 1.0+b1 1.0.1 1.00 1.0-1~deb12u1
          1.0-1+deb12u1 2.36-9+deb12u9 2.36-9+deb12u10 9.99-1 10.42-1 1.0-1.1 1.0-1a 1:1.2.13.dfsg-1
          1.2.13.dfsg-1+deb12u1 3.0.20-1~deb12u2 3.0.22-1~deb12u2 1.0-2+b6 1.0-10 1.0-b 1.0.a)
n=0 want=""
: >"$scratch/order-amd64" ; : >"$scratch/order-i386" ; : >"$scratch/order-status"
for a in "${versions[@]}"; do
  for b in "${versions[@]}"; do
    n=$((n + 1))
    printf 'Package: p%d\nVersion: %s\nArchitecture: amd64\nMulti-Arch: same\n\n' $n "$a" $n "$b" >>"$scratch/order-amd64"
    printf 'Package: p%d\nVersion: %s\nArchitecture: i386\nMulti-Arch: same\n\n' $n "$a" >>"$scratch/order-i386"
    printf 'Package: p%d\nStatus: install ok installed\nVersion: %s\nArchitecture: i386\nMulti-Arch: same\n\n' $n "$a" >>"$scratch/order-status"
    if dpkg --compare-versions "$b" gt "$a"; then want+="p$n $a"$'\n'; fi
  done
done
got=$(holds --status "$scratch/order-status" "$scratch/order-amd64" "$scratch/order-i386" $(seq -f 'p%g' 1 $n))
expect "the newest of $n pairs of versions, as dpkg orders them" "$(LC_ALL=C sort <<<"${want%$'\n'}")" "$got"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
