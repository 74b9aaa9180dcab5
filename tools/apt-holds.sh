#!/usr/bin/env bash
# Which packages an install on amd64 with i386 multiarch must hold at an older version, when
# the two architectures' package indexes do not list the same newest versions (a mirror caught
# mid-sync: amd64 sees a suite that i386 does not).
#
#   apt-holds.sh [--pins] [--status FILE] AMD64_INDEX I386_INDEX PACKAGE...
#
# AMD64_INDEX and I386_INDEX: every Packages index of one architecture, concatenated (a pipe
# will do: each is read once). PACKAGE: what the install asks for, `name` for amd64 and
# `name:i386` for i386. FILE: dpkg's status file; its installed versions count as versions
# that their architecture has (apt can always keep them).
#
# Prints "package version" for each package to hold, sorted, or with --pins the apt
# preference that holds them (Pin-Priority 1001, both architectures), nothing when none.
#
# What is held:
#  - A Multi-Arch: same package that is installed, or that this install pulls in, on both
#    architectures, whose newest versions on the two differ: its two copies must carry one
#    version, so both are held at the newest version that both architectures list. What one
#    architecture alone needs is left at its newest: holding it would only stand in the way
#    of an amd64 package that needs the newer version, or take an installed one down.
#    What an architecture pulls in: the packages asked for on it and, recursively, what they
#    Depend and Pre-Depend on, every alternative and every provider of a virtual package
#    (apt may take any of them). An i386 package's dependency on a Multi-Arch: foreign
#    package, or on `name:any` of a Multi-Arch: allowed one, is met on amd64, as apt meets it.
#  - A package tied by an exact `(= version)` dependency to a held one, or to a version other
#    than the newest: apt only installs candidates and never reaches for an older version on
#    its own, so the tie is pinned too (libc6-dev:i386 held at the version i386 has, and
#    libc-dev-bin, amd64 only, at the same version; or an amd64 package depending exactly on
#    a held library at the version of the library that the hold keeps). Other version bounds
#    (>=, <<) are not followed: security updates seldom move them, and apt names any that a
#    hold breaks.
set -euo pipefail

usage() { echo "usage: $0 [--pins] [--status FILE] AMD64_INDEX I386_INDEX PACKAGE..." >&2; exit 2; }
pins=0 status=/dev/null
while [ $# -gt 0 ]; do
  case $1 in
    --pins) pins=1; shift ;;
    --status) [ $# -ge 2 ] || usage; status=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
amd64=$1 i386=$2
shift 2

holds=$(awk -v requests="$*" '
# Debian version order, as dpkg --compare-versions: epoch, then upstream version, then
# revision, each compared by runs of non-digits (letters before other characters, "~" before
# anything, even the end) and runs of digits (numerically).
function order(c) {
  if (c == "") return 0
  if (c ~ /[0-9]/) return 0
  if (c ~ /[A-Za-z]/) return ord[c]
  if (c == "~") return -1
  return ord[c] + 256
}
function verrevcmp(a, b,    ac, bc, da, db, la, lb) {
  while (a != "" || b != "") {
    while ((a != "" && substr(a, 1, 1) !~ /[0-9]/) || (b != "" && substr(b, 1, 1) !~ /[0-9]/)) {
      ac = order(substr(a, 1, 1)); bc = order(substr(b, 1, 1))
      if (ac != bc) return ac < bc ? -1 : 1
      a = substr(a, 2); b = substr(b, 2)
    }
    match(a, /^[0-9]*/); da = substr(a, 1, RLENGTH); a = substr(a, RLENGTH + 1)
    match(b, /^[0-9]*/); db = substr(b, 1, RLENGTH); b = substr(b, RLENGTH + 1)
    sub(/^0+/, "", da); sub(/^0+/, "", db)
    la = length(da); lb = length(db)
    if (la != lb) return la < lb ? -1 : 1
    if (da != db) return da < db ? -1 : 1
  }
  return 0
}
function vsplit(v, part,    i) {
  part["e"] = 0
  if ((i = index(v, ":")) > 0) { part["e"] = substr(v, 1, i - 1) + 0; v = substr(v, i + 1) }
  part["r"] = ""
  if (match(v, /-[^-]*$/)) { part["r"] = substr(v, RSTART + 1); v = substr(v, 1, RSTART - 1) }
  part["u"] = v
}
function vcmp(a, b,    pa, pb, c) {
  if (a == b) return 0
  vsplit(a, pa); vsplit(b, pb)
  if (pa["e"] != pb["e"]) return pa["e"] < pb["e"] ? -1 : 1
  if ((c = verrevcmp(pa["u"], pb["u"])) != 0) return c
  return verrevcmp(pa["r"], pb["r"])
}
# The newest of a space-separated list of versions.
function newest(list,    n, v, i, best) {
  n = split(list, v, " "); best = ""
  for (i = 1; i <= n; i++) if (best == "" || vcmp(v[i], best) > 0) best = v[i]
  return best
}
function haveversion(list, ver,    n, v, i) {
  n = split(list, v, " ")
  for (i = 1; i <= n; i++) if (vcmp(v[i], ver) == 0) return v[i]
  return ""
}
function addword(list, w) { return index(" " list " ", " " w " ") ? list : (list == "" ? w : list " " w) }

# One paragraph of an index or of the status file. Architecture: all goes with amd64: apt
# counts it as the native architecture.
function commit(    ctx, key, n, pv, i, name) {
  if (pkg != "" && (from != "S" || stat ~ / installed$/)) {
    ctx = arch == "i386" ? "I" : "A"
    key = ctx SUBSEP pkg
    known[key] = 1; names[pkg] = 1
    vers[key] = addword(vers[key], ver)
    if (ma == "same") same[pkg] = 1
    if (ma != "" || !(key in mode)) mode[key] = ma
    deps[key, ver] = pre "," dep
    alldeps[key] = alldeps[key] "," pre "," dep
    n = split(prov, pv, ",")
    for (i = 1; i <= n; i++) {
      name = pv[i]; sub(/\(.*/, "", name); gsub(/[ \t]/, "", name)
      if (name != "") provs[ctx, name] = addword(provs[ctx, name], pkg)
    }
    if (from == "S") installed[key] = ver
  }
  pkg = ver = arch = ma = dep = pre = prov = stat = ""
}
# A dependency atom ("name:qual (op version)") without its version and restrictions.
function atomname(atom) {
  sub(/[ \t]*[\(\[<].*/, "", atom); gsub(/[ \t]/, "", atom)
  return atom
}
# The architecture whose package meets the atom for a dependent on ctx ("A" or "I"), by the
# Multi-Arch rules above.
function realctx(ctx, atom,    name, qual, i) {
  name = atomname(atom); qual = ""
  if ((i = index(name, ":")) > 0) { qual = substr(name, i + 1); name = substr(name, 1, i - 1) }
  if (qual == "native" || qual == "amd64") return "A"
  if (qual == "i386") return "I"
  if (ctx == "A") return "A"
  if (qual == "any" && (("A", name) in known) && mode["A", name] ~ /^(allowed|foreign)$/) return "A"
  if ((("A", name) in known) && mode["A", name] == "foreign") return "A"
  if (("I", name) in known) return "I"
  return "A"
}
function bare(atom,    i) { atom = atomname(atom); if ((i = index(atom, ":")) > 0) atom = substr(atom, 1, i - 1); return atom }
# Every package that can meet the atom: the real one, and the providers of a virtual one on the
# architecture of the dependent (and, for an i386 dependent, the Multi-Arch: foreign ones of amd64).
function targets(ctx, atom,    name, tctx, out, n, p, i) {
  name = bare(atom); tctx = realctx(ctx, atom); out = ""
  if ((tctx, name) in known) out = tctx SUBSEP name
  n = split(provs[ctx, name], p, " ")
  for (i = 1; i <= n; i++) out = out " " ctx SUBSEP p[i]
  if (ctx == "I") {
    n = split(provs["A", name], p, " ")
    for (i = 1; i <= n; i++) if (mode["A", p[i]] == "foreign") out = out " " "A" SUBSEP p[i]
  }
  return out
}
function want(key) { if (!(key in need)) { need[key] = 1; queue[qt++] = key } }
function pkgof(key) { return substr(key, 3) }
# The version that apt will take of a package on one architecture: the held one, or the newest.
function candidate(key,    v) {
  if ((pkgof(key) in hold) && (v = haveversion(vers[key], hold[pkgof(key)])) != "") return v
  return newest(vers[key])
}
# The version that one version of a package requires exactly of another ("" if none).
function exact(key, v, other,    n, cl, i, w) {
  n = split(deps[key, v], cl, ",")
  for (i = 1; i <= n; i++) {
    if (index(cl[i], "|") || bare(cl[i]) != other) continue
    if (match(cl[i], /\(=[ \t]*[^ \t)]+/)) { w = substr(cl[i], RSTART + 2, RLENGTH - 2); gsub(/[ \t]/, "", w); return w }
  }
  return ""
}

BEGIN { for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i }
FNR == 1 { commit() }
/^Package:/ { pkg = $2; from = role }
/^Version:/ { ver = $2 }
/^Architecture:/ { arch = $2 }
/^Multi-Arch:/ { ma = $2 }
/^Depends:/ { dep = substr($0, 10) }
/^Pre-Depends:/ { pre = substr($0, 14) }
/^Provides:/ { prov = substr($0, 11) }
/^Status:/ { stat = $0 }
/^[ \t]*$/ { commit() }
END {
  commit()
  # What the install pulls in on each architecture.
  n = split(requests, req, " ")
  for (i = 1; i <= n; i++) {
    name = req[i]
    if (sub(/:i386$/, "", name) && (("I", name) in known || !(("A", name) in known))) want("I" SUBSEP name)
    else { sub(/:(amd64|native)$/, "", name); want("A" SUBSEP name) }
  }
  for (qh = 0; qh < qt; qh++) {
    key = queue[qh]; ctx = substr(key, 1, 1)
    nc = split(alldeps[key], cl, ",")
    for (c = 1; c <= nc; c++) {
      na = split(cl[c], alt, "|")
      for (a = 1; a <= na; a++) {
        if (bare(alt[a]) == "") continue
        nt = split(targets(ctx, alt[a]), tg, " ")
        for (t = 1; t <= nt; t++) if (tg[t] != "") want(tg[t])
      }
    }
  }
  for (key in installed) need[key] = 1

  # Multi-Arch: same packages on both architectures whose newest versions differ.
  for (p in same) {
    ka = "A" SUBSEP p; ki = "I" SUBSEP p
    if (!(ka in need) || !(ki in need) || !(ka in known) || !(ki in known)) continue
    if (vcmp(newest(vers[ka]), newest(vers[ki])) == 0) continue
    common = ""
    nv = split(vers[ka], va, " ")
    for (j = 1; j <= nv; j++)
      if (haveversion(vers[ki], va[j]) != "" && (common == "" || vcmp(va[j], common) > 0)) common = va[j]
    if (common != "") { hold[p] = common; fixed[p] = 1 }
  }

  # Exact ties, until they agree: a package whose candidate requires another exactly at a
  # version that is not the candidate of the other. If the other is held, the package itself
  # goes to its newest version that requires the held one; otherwise the other is pinned at
  # the version required (when its architecture has it).
  for (round = 0; round < 50; round++) {
    changed = 0
    for (key in need) {
      if (!(key in known)) continue
      ctx = substr(key, 1, 1); v = candidate(key)
      nc = split(deps[key, v], cl, ",")
      for (c = 1; c <= nc; c++) {
        if (index(cl[c], "|") || cl[c] !~ /\(=/) continue
        other = bare(cl[c]); tk = realctx(ctx, cl[c]) SUBSEP other
        if (!(tk in known)) continue
        w = exact(key, v, other); have = candidate(tk)
        if (vcmp(have, w) == 0) continue
        if (other in hold) {
          p = pkgof(key)
          if (p in fixed) continue
          best = ""
          nv = split(vers[key], va, " ")
          for (j = 1; j <= nv; j++)
            if ((x = exact(key, va[j], other)) != "" && vcmp(x, have) == 0 && (best == "" || vcmp(va[j], best) > 0)) best = va[j]
          if (best != "" && best != hold[p]) { hold[p] = best; changed = 1 }
        } else if ((x = haveversion(vers[tk], w)) != "") {
          hold[other] = x; changed = 1
        }
      }
    }
    if (!changed) break
  }
  for (p in hold) print p, hold[p]
}' role=A "$amd64" role=I "$i386" role=S "$status" | LC_ALL=C sort)

if [ $pins -eq 0 ]; then
  [ -z "$holds" ] || printf '%s\n' "$holds"
else
  # "name:any": a plain name would hold the amd64 package only.
  while read -r p v; do
    if [ -n "$p" ]; then printf 'Package: %s:any\nPin: version %s\nPin-Priority: 1001\n\n' "$p" "$v"; fi
  done <<<"$holds"
fi
