#!/usr/bin/env bash
# The archival PDFs the extension writes, and the document information of any PDF it writes,
# read back with qpdf, poppler and xmllint after a suite in its working directory, over
# DIR/manifest.txt (DIR: pdfa-files, scan-pdfa). Lines:
#   pdfa FILE            FILE holds to the PDF/A-2b rules below
#   plain FILE           FILE is an ordinary PDF 1.4: no metadata, no output intent
#   info FILE KEY HEX    the information dictionary's KEY (Title, Author, ...) is the UTF-8
#                        text of the hex digits HEX as qpdf and pdfinfo read it ("-": no entry)
# What an archival file holds to (the README's "Archival PDF" lists them):
#   header     "%PDF-1.7" on the first line, a comment of at least four bytes above 127 next
#   trailer    an /ID of two strings, no /Encrypt; nothing after %%EOF but a line end
#   streams    every /Length is its stream's bytes: "stream" and its line end, the data, a
#              line end and "endstream" (read from the object's offset); no /F, /FFilter,
#              /FDecodeParms; no LZWDecode
#   intent     one output intent /GTS_PDFA1 whose DestOutputProfile is the sRGB profile
#              (/usr/share/color/icc/sRGB.icc byte for byte, an ICC version 2 RGB profile, /N 3)
#   images     DeviceGray or DeviceRGB only (which that intent allows); none with
#              /Interpolate true, /Alternates or /OPI
#   metadata   the catalogue's /Metadata: an uncompressed /Type /Metadata /Subtype /XML
#              stream, a well-formed XMP packet without bytes or encoding attributes,
#              pdfaid:part 2 and pdfaid:conformance B, and each of Title, Author, Subject,
#              Keywords, Producer, CreationDate and ModDate equal to its XMP property
#              (dc:title, dc:creator, dc:description, pdf:Keywords, pdf:Producer,
#              xmp:CreateDate, xmp:ModifyDate)
set -uo pipefail
dir=${1:-pdfa-files}
manifest="$dir/manifest.txt"
profile=/usr/share/color/icc/sRGB.icc
[ -s "$manifest" ] || { echo "$manifest: missing or empty" >&2; exit 1; }
failures=0
checked=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; failures=$((failures + 1)); }

# The file's objects as qpdf gives them (JSON version 2), and one value of them.
json() { qpdf --json --json-stream-data=none "$1" 2>/dev/null >"$scratch/json"; }
q() { jq -r ".qpdf[1] as \$o | $1" "$scratch/json"; }
# A qpdf string value as UTF-8 text: "u:" text as it is; "b:" hex digits (qpdf's form where
# it is unsure of the text) as UTF-16BE after a byte order mark, else as PDFDocEncoding bytes,
# taken as Latin-1 (the characters the two share are the only ones the writer puts in a
# PDFDocEncoding string: one of the others shows as a C1 control, and differs).
text_of() {
  local v
  v=$(cat)
  case "$v" in
    u:*) printf '%s' "${v#u:}" ;;
    b:feff*) printf '%b' "$(sed 's/../\\x&/g' <<<"${v#b:feff}")" | iconv -f UTF-16BE -t UTF-8 ;;
    b:*) printf '%b' "$(sed 's/../\\x&/g' <<<"${v#b:}")" | iconv -f LATIN1 -t UTF-8 ;;
    *) printf '%s' "$v" ;;
  esac
}
# Bytes of FILE from OFFSET, COUNT of them, as a string of decimal byte values.
bytes_at() { od -An -tu1 -j "$2" -N "$3" "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
# The text of an XMP property (by its local name, namespace aside).
xmp() { xmllint --xpath "string((//*[local-name()='$1'])[1])" "$scratch/xmp" 2>/dev/null; }
xmp_item() { xmllint --xpath "string((//*[local-name()='$1']//*[local-name()='li'])[1])" "$scratch/xmp" 2>/dev/null; }
# A PDF date "D:YYYYMMDDHHmmSSZ" as XMP writes it.
xmp_date() { sed -E 's/^D:([0-9]{4})([0-9]{2})([0-9]{2})([0-9]{2})([0-9]{2})([0-9]{2})Z$/\1-\2-\3T\4:\5:\6Z/'; }

check_streams() {
  local file=$1 path=$2 ref offset at data length eol
  qpdf --show-xref "$path" 2>/dev/null | sed -n 's#^\([0-9]*\)/0: uncompressed; offset = \([0-9]*\)#\1 \2#p' >"$scratch/xref"
  while read -r ref; do
    local n=${ref%% *}
    offset=$(awk -v n="$n" '$1 == n { print $2 }' "$scratch/xref")
    length=$(q "\$o[\"obj:$ref\"].stream.dict[\"/Length\"] | if type == \"string\" then (. as \$r | \$o[\"obj:\" + \$r].value) else . end")
    # The keyword "stream" after the dictionary, then its line end.
    at=$(tail -c +$((offset + 1)) "$path" | head -c 4096 | grep -a -b -o -m1 'stream' | head -1 | cut -d: -f1)
    [ -n "$at" ] && [ -n "$offset" ] || { fail "$file: object $n: no stream keyword"; continue; }
    data=$((offset + at + 6))
    eol=$(bytes_at "$path" "$data" 2)
    case "$eol" in "10 "*) data=$((data + 1)) ;; "13 10") data=$((data + 2)) ;; *) fail "$file: object $n: 'stream' without its line end ($eol)"; continue ;; esac
    # /Length bytes on: a line end, then "endstream".
    local after
    after=$(bytes_at "$path" $((data + length)) 11)
    case "$after" in
      "10 101 110 100 115 116 114 101 97 109 "*|"13 10 101 110 100 115 116 114 101 97 109") ;;
      *) fail "$file: object $n: /Length $length is not its data (then: $after)" ;;
    esac
    local keys
    keys=$(q "\$o[\"obj:$ref\"].stream.dict | keys | join(\" \")")
    [[ " $keys " == *" /F "* || " $keys " == *" /FFilter "* || " $keys " == *" /FDecodeParms "* ]] &&
      fail "$file: object $n: an external stream ($keys)"
    q "\$o[\"obj:$ref\"].stream.dict[\"/Filter\"] // empty | tostring" | grep -q LZWDecode &&
      fail "$file: object $n: LZWDecode"
  done < <(q '$o | to_entries[] | select(.value.stream != null) | .key | sub("^obj:"; "")')
}

check_pdfa() {
  local file=$1 path=$2
  json "$path" || { fail "$file: qpdf cannot read it"; return; }
  qpdf --check "$path" >"$scratch/check" 2>&1 || fail "$file: qpdf --check: $(tail -2 "$scratch/check")"
  # the header
  [ "$(head -c 9 "$path" | od -An -c | tr -d ' \n')" = '%PDF-1.7\n' ] || fail "$file: header '$(head -c 8 "$path")'"
  local second
  second=$(bytes_at "$path" 9 6)
  awk -v b="$second" 'BEGIN { n = split(b, v, " "); high = 0
    for (i = 2; i <= n && v[i] != 10 && v[i] != 13; i++) if (v[i] > 127) high++
    exit !(v[1] == 37 && high >= 4) }' || fail "$file: no comment of four bytes above 127 on the second line ($second)"
  # the trailer
  [ "$(q '$o.trailer.value["/ID"] | length')" = 2 ] || fail "$file: no /ID of two strings"
  [ "$(q '$o.trailer.value["/Encrypt"] // "none"')" = none ] || fail "$file: encrypted"
  [ "$(tail -c 6 "$path" | od -An -c | tr -d ' \n')" = '%%EOF\n' ] || fail "$file: bytes after %%EOF"
  # the streams
  check_streams "$file" "$path"
  # the output intent
  local root
  root=$(q '$o.trailer.value["/Root"]')
  local intents
  intents=$(q "\$o[\"obj:$root\"].value[\"/OutputIntents\"] | length")
  [ "$intents" = 1 ] || fail "$file: $intents output intents, not 1"
  [ "$(q "\$o[\"obj:$root\"].value[\"/OutputIntents\"][0][\"/S\"]")" = /GTS_PDFA1 ] || fail "$file: output intent not /GTS_PDFA1"
  local dest
  dest=$(q "\$o[\"obj:$root\"].value[\"/OutputIntents\"][0][\"/DestOutputProfile\"]")
  [ "$(q "\$o[\"obj:$dest\"].stream.dict[\"/N\"]")" = 3 ] || fail "$file: profile without /N 3"
  qpdf --show-object="${dest%% *}" --filtered-stream-data "$path" >"$scratch/icc" 2>/dev/null
  cmp -s "$scratch/icc" "$profile" || fail "$file: the output intent's profile is not $profile"
  [ "$(bytes_at "$scratch/icc" 8 1)" = 2 ] || fail "$file: profile of ICC version $(bytes_at "$scratch/icc" 8 1), not 2"
  [ "$(head -c 20 "$scratch/icc" | tail -c 4)" = "RGB " ] || fail "$file: profile not of RGB"
  # the images
  local images bad
  images=$(q '[$o[] | select(.stream.dict["/Subtype"] == "/Image")] | length')
  [ "$images" -ge 1 ] || fail "$file: no image"
  bad=$(q '[$o[] | select(.stream.dict["/Subtype"] == "/Image") | .stream.dict
    | select((.["/ColorSpace"] != "/DeviceGray" and .["/ColorSpace"] != "/DeviceRGB")
             or .["/Interpolate"] == true or has("/Alternates") or has("/OPI"))] | length')
  [ "$bad" = 0 ] || fail "$file: $bad images of another colour space, interpolated, or with alternates or OPI"
  # the metadata
  local meta
  meta=$(q "\$o[\"obj:$root\"].value[\"/Metadata\"] // empty")
  [ -n "$meta" ] || { fail "$file: no /Metadata in the catalogue"; return; }
  [ "$(q "\$o[\"obj:$meta\"].stream.dict | [.[\"/Type\"], .[\"/Subtype\"], (has(\"/Filter\") | tostring)] | join(\" \")")" = "/Metadata /XML false" ] ||
    fail "$file: metadata stream is not an uncompressed /Type /Metadata /Subtype /XML"
  qpdf --show-object="${meta%% *}" --filtered-stream-data "$path" >"$scratch/xmp" 2>/dev/null
  xmllint --noout "$scratch/xmp" 2>"$scratch/xml" || fail "$file: XMP not well-formed: $(head -2 "$scratch/xml")"
  head -1 "$scratch/xmp" | grep -q '^<?xpacket begin=' || fail "$file: XMP without its packet header"
  head -1 "$scratch/xmp" | grep -Eq 'bytes=|encoding=' && fail "$file: XMP packet header with bytes or encoding"
  [ "$(tail -c 19 "$scratch/xmp")" = '<?xpacket end="w"?>' ] || fail "$file: XMP packet without its end"
  [ "$(xmp part)/$(xmp conformance)" = 2/B ] || fail "$file: pdfaid '$(xmp part)/$(xmp conformance)', not 2/B"
  local info key property value want
  info=$(q '$o.trailer.value["/Info"]')
  for pair in Title:title Author:creator Subject:description Keywords:Keywords Producer:Producer \
              CreationDate:CreateDate ModDate:ModifyDate; do
    key=${pair%%:*} property=${pair#*:}
    value=$(q "\$o[\"obj:$info\"].value[\"/$key\"] // \"-\"" | text_of)
    case $property in
      title|creator|description) want=$(xmp_item "$property") ;;
      *) want=$(xmp "$property") ;;
    esac
    [ "$value" = - ] && { [ -z "$want" ] || fail "$file: XMP $property '$want' without $key"; continue; }
    case $key in *Date) value=$(xmp_date <<<"$value") ;; esac
    [ "$value" = "$want" ] || fail "$file: $key '$value' but XMP $property '$want'"
  done
}

while read -r what file key hex; do
  path="$dir/$file"
  checked=$((checked + 1))
  [ -f "$path" ] || { fail "$file: no file"; continue; }
  case "$what" in
    pdfa) check_pdfa "$file" "$path" ;;
    plain)
      json "$path"
      [ "$(head -c 8 "$path")" = "%PDF-1.4" ] || fail "$file: header '$(head -c 8 "$path")'"
      root=$(q '$o.trailer.value["/Root"]')
      [ "$(q "\$o[\"obj:$root\"].value | has(\"/Metadata\") or has(\"/OutputIntents\")")" = false ] ||
        fail "$file: metadata or an output intent in an ordinary PDF" ;;
    info)
      json "$path"
      info=$(q '$o.trailer.value["/Info"]')
      value=$(q "\$o[\"obj:$info\"].value[\"/$key\"] // \"-\"" | text_of)
      if [ "$hex" = - ]; then want=-; else want=$(printf '%b' "$(sed 's/../\\x&/g' <<<"$hex")"); fi
      [ "$value" = "$want" ] || fail "$file: $key is '$value' to qpdf, not '$want'"
      # poppler's reading of a one-line text
      if [ "$hex" != - ] && [[ "$want" != *$'\n'* && "$want" != *$'\r'* ]]; then
        shown=$(pdfinfo -enc UTF-8 "$path" 2>/dev/null | sed -n "s/^$key: *//p")
        [ "$shown" = "$want" ] || fail "$file: $key is '$shown' to pdfinfo, not '$want'"
      fi ;;
    *) fail "manifest: unknown line '$what $file'" ;;
  esac
done < <(tr -d '\r' <"$manifest")  # the Windows suite writes its lines with CR LF

echo "$dir: $checked checks, $failures failed"
[ "$failures" -eq 0 ]
