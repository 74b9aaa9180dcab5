#!/usr/bin/env bash
# The Windows build against a source nobody on this project wrote: Wine's own camera source,
# gphoto2.ds, source 1 of the build's Wine prefix (tools/wineprefix.sh), here in a scratch
# copy of that prefix (build/camera/prefix) with its dialog skipped. The camera is a folder
# with a DCIM folder holding three JPEG pictures: bind-mounted onto itself in a private mount
# namespace, libgphoto2 offers it as a "Mass Storage Camera" that only this process tree sees.
# The pictures differ in content and shape (our test page, the page turned a quarter to 600 x
# 400, the page in negative), so that a page that comes from the wrong picture, or a picture
# turned or cut, shows.
# Checked, through tools/velmar-host as a user runs it: the build's prefix lists the camera
# source, with no camera attached too; the camera listed beside the virtual scanner and
# chosen by name; what it offers (capabilities read as ranges and as current values, values
# it refuses); native pages to a BMP and a picture field; batches by Twain.ScanPages into
# numbered files, into one multi-page TIFF and into one PDF, and what the transfer options
# make of a camera that lists its current mechanism alone (memory); what it cannot do (file formats, a scan without
# its interface). Every page is compared pixel by pixel with ImageMagick's reading of the
# picture it came from; every TIFF and PDF is read again by tiffinfo, pdfinfo, pdfimages and
# qpdf. The 64-bit build runs the same checks on the 32-bit camera source through its 32-bit
# worker (below): the same answers, files and pixels as the 32-bit build's in process. One
# line per check, then the counts. Exit 0 when all passed, 1 when one failed, 77 (skipped,
# with one line saying why) when this machine cannot run it.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
builds="${KV_BUILD_DIR:-$repo/build}"
# The 32-bit build with Wine's 32-bit camera source (twain_32), or with KV_BUILDS=windows64 the
# 64-bit build with Wine's 64-bit one (twain_64), each in a scratch copy of its own prefix; or,
# with KV_BUILDS=windows64 and KV_TEST_SOURCES=32BIT (tools/velmar-host sets the option
# "SOURCES"), the 64-bit build with Wine's 32-bit camera source, reached through its 32-bit
# worker, in a scratch copy of the 64-bit prefix without the 64-bit camera source: a camera
# found at all is then the 32-bit one.
win=windows folder=twain_32 arch=i386 camera="$builds/camera" through32=""
if [ "${KV_BUILDS:-}" = windows64 ]; then
  win=windows64 folder=twain_64 arch=x86_64 camera="$builds/camera64"
  [ "${KV_TEST_SOURCES:-}" = 32BIT ] && folder=twain_32 arch=i386 camera="$builds/camera64-32" through32=1
fi
# The camera's place in the manager's selection dialog: Wine's TWAIN_32.DLL (the 32-bit build's
# default manager) lists the virtual scanner first, the TWAIN 2 manager (the 64-bit build's, and
# the 32-bit build's with KV_TEST_DSM) its sources in the order of their paths, gphoto2.ds first.
# Without a camera, Wine's manager answers the camera's refused open as its own operation error
# (13); the TWAIN 2 manager passes the refusal on without a reason (2001). The 32-bit worker of
# the 64-bit build runs under the manager the 64-bit build chooses, the TWAIN 2 manager (the
# 32-bit one, in syswow64).
source "$repo/tests/support/manager.sh"
choice=1 listed="Virtual Scanner"$'\r'"GPhoto2 Camera" refused=13
[ "$(manager_of "$win")" = TWAINDSM ] && choice=0 listed="GPhoto2 Camera"$'\r'"Virtual Scanner" refused=2001
card="$camera/card"
skip() {
  echo "skipped: $*"
  exit 77
}
# Where i386 programs run emulated, a 32-bit worker that has opened Wine's 32-bit camera source
# dies under the emulator ("qemu: uncaught target signal 11"), so that source cannot be tried
# through the worker there; the 64-bit build tries its own camera, without the worker's listing
# (SOURCES "OWN").
if [ "$(bash "$repo/tools/i386-mode.sh")" = emulated ] && [ "$win" = windows64 ]; then
  [ -z "$through32" ] ||
    skip "Wine's 32-bit camera source through the 32-bit worker: i386 programs run emulated on this machine, where the worker dies once the source is opened"
  export KV_TEST_SOURCES=OWN
fi

if [ -z "${KV_CAMERA_NAMESPACE:-}" ]; then
  builtin="$(ls /usr/lib/$arch-linux-gnu/wine/$arch-windows/gphoto2.ds /usr/lib/wine/$arch-windows/gphoto2.ds 2>/dev/null | head -1)"
  [ -n "$builtin" ] || skip "Wine's camera source gphoto2.ds is not installed"
  [ -f "$builds/$win/wineprefix/system.reg" ] || skip "no Wine prefix in $builds/$win (make build)"
  [ -z "$through32" ] || [ -f "$builds/$win/kv-worker32.exe" ] ||
    skip "the 64-bit build in $builds/$win has no 32-bit worker (kv-worker32.exe)"
  # The build's prefix holds Wine's camera source as it ships, preferred by nothing else (the
  # scratch copy below is then that prefix with only the dialog skipped), and lists it as
  # source 1. With no camera attached it is "GPhoto2 Camera", which cannot be opened (13).
  twain="$builds/$win/wineprefix/drive_c/windows/$folder"
  name="the build's Wine prefix has Wine's own gphoto2.ds, and no override for it"
  if ! cmp -s "$builtin" "$twain/gphoto2.ds" ||
     grep -q '"gphoto2.ds"=' "$builds/$win/wineprefix/user.reg" 2>/dev/null; then
    printf 'FAIL %s\n0 passed, 1 failed\n' "$name"
    exit 1
  fi
  echo "ok   $name"
  away="$(mktemp -d)"
  listing="$(cd "$away" && "$repo/tools/velmar-host" --build "$win" 'Twain.GetSourceNames($names)' \
    'Twain.SelectSource("GPhoto2 Camera")' 'Twain.Connect()' 'Twain.Disconnect()' 2>/dev/null)"
  rm -rf "$away"
  expected="Twain.GetSourceNames(\$names) -> 0
  \$names = \"$listed\"
Twain.SelectSource(\"GPhoto2 Camera\") -> 0
Twain.Connect() -> $refused
Twain.Disconnect() -> 0"
  name="no camera attached: the build's prefix lists \"GPhoto2 Camera\" as source 1, which cannot be opened"
  if [ "$listing" != "$expected" ]; then
    printf 'FAIL %s\n%s\n1 passed, 1 failed\n' "$name" "$(sed 's/^/     | /' <<<"$listing")"
    exit 1
  fi
  echo "ok   $name"
  [ "$(id -u)" -eq 0 ] || skip "the camera's private bind mount needs root, and this runs as $(id -un)"
  unshare -m true 2>/dev/null || skip "no private mount namespace here (unshare -m fails)"
  # The scratch prefix, made once: a copy of the build's (1.3 GB, a few seconds) where the
  # camera shows no dialog, made again when the build's prefix was set up another way (the
  # stamp: since the TWAIN 2 manager and its default source). The virtual scanner and the
  # manager are the build's latest.
  prefix="$camera/prefix"
  if [ ! -f "$camera/prefix-twaindsm.done" ]; then
    rm -rf "$prefix"
    mkdir -p "$camera"
    cp -a "$builds/$win/wineprefix" "$prefix" || skip "cannot copy the Wine prefix to $prefix"
    (export WINEPREFIX="$prefix" WINEDEBUG=-all
     "$(bash "$repo/tools/wine-loader.sh" "$twain/sane.ds")" reg add 'HKCU\Software\Wine\Gphoto2' /v SkipUI /t REG_DWORD /d 1 /f >/dev/null 2>&1
     wineserver -w)
    rm -f "$camera/prefix.done"
    touch "$camera/prefix-twaindsm.done"
  fi
  cp -f "$twain/sane.ds" "$prefix/drive_c/windows/$folder/sane.ds"
  # Copies of sources that a suite of the build's tree had below a source folder while the
  # prefix was copied are no source of this one.
  rm -rf "$prefix"/drive_c/windows/twain_32/kvcopies "$prefix"/drive_c/windows/twain_64/kvcopies
  for system in system32 syswow64; do
    dsm="$builds/$win/wineprefix/drive_c/windows/$system/twaindsm.dll"
    if [ -f "$dsm" ]; then cp -f "$dsm" "$prefix/drive_c/windows/$system/twaindsm.dll"; fi
  done
  # The TWAIN 2 manager keeps the dialog's last choice (the camera, the run before) as its
  # default source: the virtual scanner is the default again, as in the build's prefix.
  key=TWAIN
  [ "$folder" = twain_64 ] && key=TWAIN64
  (export WINEPREFIX="$prefix" WINEDEBUG=-all
   "$(bash "$repo/tools/wine-loader.sh" "$twain/sane.ds")" reg add \
     "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\$key" /v 'Default Source' \
     /d "C:\\windows\\$folder\\sane.ds" /f >/dev/null 2>&1
   wineserver -w)
  cp -f "$twain/gphoto2.ds" "$prefix/drive_c/windows/$folder/gphoto2.ds"
  [ -z "$through32" ] || rm -f "$prefix/drive_c/windows/twain_64/gphoto2.ds"
  # The build as velmar-host finds it (KV_BUILD_DIR), with the scratch prefix; its workers
  # beside the DLL, where the DLL looks for them and a vendor ships them.
  mkdir -p "$camera/kv/$win"
  for file in velmar-host.exe Kardivelle.dll kv-worker.exe kv-worker32.exe; do
    if [ -f "$builds/$win/$file" ]; then ln -sfn "$builds/$win/$file" "$camera/kv/$win/$file"; fi
  done
  ln -sfn "$prefix" "$camera/kv/$win/wineprefix"
  # The camera's memory card: three pictures of our test page.
  rm -rf "$card"
  mkdir -p "$card/DCIM/100KARDV"
  page="$(mktemp --suffix=.bmp)"
  bash "$repo/tools/test-page.sh" "$page" &&
    convert "$page" -quality 95 "$card/DCIM/100KARDV/KV000001.JPG" &&
    convert "$page" -rotate 90 -quality 95 "$card/DCIM/100KARDV/KV000002.JPG" &&
    convert "$page" -negate -quality 95 "$card/DCIM/100KARDV/KV000003.JPG"
  rm -f "$page"
  KV_CAMERA_NAMESPACE=1 exec unshare -m bash "$0" "$@"
fi

# In the private mount namespace from here on.
if [ "$(bash "$repo/tools/i386-mode.sh")" = emulated ]; then
  # Under qemu-i386 a 32-bit readdir gets ext4's 64-bit directory offsets and fails on them
  # (EOVERFLOW; a 32-bit kernel caller would get 32-bit ones): libgphoto2 would list neither its
  # drivers nor the card. A tmpfs's offsets are small, so the card and the drivers' folders are
  # copies on a tmpfs, bound over their own paths for this namespace alone.
  stage="$camera/tmpfs"
  mkdir -p "$stage" && mount -t tmpfs -o size=256m tmpfs "$stage" || skip "cannot mount a tmpfs at $stage"
  for dir in "$card" /usr/lib/i386-linux-gnu/libgphoto2 /usr/lib/i386-linux-gnu/libgphoto2_port; do
    [ -d "$dir" ] || continue
    mkdir -p "$stage$dir" && cp -a "$dir/." "$stage$dir/" && mount --bind "$stage$dir" "$dir" ||
      skip "cannot put $dir on a tmpfs"
  done
else
  mount --bind "$card" "$card" 2>/dev/null || skip "cannot bind-mount $card onto itself"
fi
host="$repo/tools/velmar-host"
export KV_BUILD_DIR="$camera/kv"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"; WINEPREFIX="$camera/prefix" wineserver -k 2>/dev/null' EXIT
cd "$scratch" || exit 1

source "$repo/tests/support/checks.sh"
passed=2  # the build's prefix, checked before the namespace

# The pictures as ImageMagick decodes them, 8-bit RGB.
for k in 1 2 3; do
  convert "$card/DCIM/100KARDV/KV00000$k.JPG" -type TrueColor -depth 8 "photo$k.png"
done
camera_name='Mass Storage Camera'

# Each page of a batch is the picture it came from: the camera hands over its pictures in
# card order, one per transfer.
batch_pages() {  # NAME STEM EXT: STEM-0001.EXT to STEM-0003.EXT, and no STEM-0004.EXT
  local name="$1" stem="$2" ext="$3" k
  for k in 1 2 3; do same_pixels "$name: page $k" "$(printf '%s-%04d.%s' "$stem" "$k" "$ext")" "photo$k.png"; done
  [ -e "$stem-0004.$ext" ] && fail "$name: nothing after page 3" "$stem-0004.$ext exists" || pass "$name: nothing after page 3"
}

# TIFF: tiffinfo reads every directory; each page is the picture it came from.
tiff_book() {  # NAME FILE
  local name="$1" file="$2" k dirs
  rm -f book-page*.png
  dirs="$(tiffinfo "$file" 2>/dev/null | grep -c '^TIFF Directory')"
  [ "$dirs" = 3 ] && pass "$name: tiffinfo reads 3 pages" || fail "$name: tiffinfo reads 3 pages" "$(tiffinfo "$file" 2>&1 | head -20)"
  for k in 1 2 3; do
    convert "$file[$((k - 1))]" -type TrueColor -depth 8 "book-page$k.png" 2>/dev/null
    same_pixels "$name: page $k" "book-page$k.png" "photo$k.png"
  done
}

# PDF: qpdf --check, pdfinfo's page count, and the images as stored (pdfimages -png), each
# the picture it came from.
pdf_book() {  # NAME FILE
  local name="$1" file="$2" k pages
  if qpdf --check "$file" >/dev/null 2>&1; then pass "$name: qpdf --check"; else fail "$name: qpdf --check" "$(qpdf --check "$file" 2>&1 | tail -3)"; fi
  pages="$(pdfinfo "$file" 2>/dev/null | awk '/^Pages:/ { print $2 }')"
  [ "$pages" = 3 ] && pass "$name: pdfinfo reads 3 pages" || fail "$name: pdfinfo reads 3 pages" "pdfinfo: $pages"
  rm -f img-*
  pdfimages -png "$file" img
  for k in 1 2 3; do same_pixels "$name: image $k" "img-00$((k - 1)).png" "photo$k.png"; done
}

# The camera listed beside the virtual scanner (the manager's default), chosen by its name
# without the dialog, and scanned from; the choice outlives Disconnect.
"$host" --build "$win" 'Twain.GetSourceNames($names, $current)' "Twain.SelectSource(\"$camera_name\")" \
  'Twain.GetSourceNames($names, $current)' 'Twain.Connect()' 'Twain.ScanToFile("byname.bmp", 1)' \
  'Twain.Disconnect()' 'Twain.Connect()' 'Twain.ScanToFile("again.bmp", 1)' 'Twain.Disconnect()' \
  >names.out 2>names.err
out="$(cat names.out)"
names_line="  \$names = \"${listed/GPhoto2 Camera/$camera_name}\""
expect "the camera is listed beside the virtual scanner (the default)" \
  'Twain.GetSourceNames($names, $current) -> 0' "$names_line" '  $current = "Virtual Scanner"'
expect "the camera chosen by name is the next open's source, also after Disconnect" \
  "Twain.SelectSource(\"$camera_name\") -> 0" "  \$current = \"$camera_name\"" 'Twain.Connect() -> 0' \
  'Twain.ScanToFile("byname.bmp", 1) -> 0' 'Twain.Disconnect() -> 0' 'Twain.Connect() -> 0' \
  'Twain.ScanToFile("again.bmp", 1) -> 0'
# Without the camera listed, source 1 is no camera (or none), and a scan with the interface
# asked for could wait for good: nothing more to check.
if ! grep -Fxq -- "$names_line" <<<"$out"; then
  fail "the camera was found; the rest of the suite needs it" "$(cat names.err)"
  summary
  exit 1
fi
same_pixels "the camera's picture, the camera chosen by name" byname.bmp photo1.png
same_pixels "the camera's picture after Disconnect and Connect" again.bmp photo1.png

# What the camera offers: it answers every capability it has with its current value alone,
# so a range is that one value: colour (2), 24 bits, memory transfers (2, its mechanism when
# first opened), pixels as units (5), chocolate (0). It keeps no list of its capabilities
# (SUPPORTEDCAPS answers 9), nor resolutions or file formats. It takes a value it has in
# state 4 and refuses another bit depth. A native page in a BMP and in a picture field; no
# file formats; without its interface it chooses no picture (14), and the next scan works.
run_source "$choice" camera 'Twain.Connect()' \
  'Twain.GetSourceCapRange("PIXELTYPE", $p, "BITDEPTH", $b, "XFERMECH", $m, "UNITS", $u, "PIXELFLAVOR", $f)' \
  'Twain.GetSourceCapability("PIXELTYPE", $p, "BITDEPTH", $b, "XFERMECH", $m, "UNITS", $u, "PIXELFLAVOR", $f)' \
  'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps)' 'Twain.GetSourceCapRange("XRESOLUTION", $r)' \
  'Twain.GetSourceCapRange("IMAGEFILEFORMAT", $i)' \
  'Twain.SetSourceCapability("PIXELTYPE", 2)' 'Twain.SetSourceCapability("BITDEPTH", 8)' \
  'Twain.ScanToFile("photo.bmp", 1)' 'Twain.ScanToField($field:picture, 1)' \
  'Twain.ScanToFile("photo.tif", 1, 0)' 'Twain.ScanToFile("photo.png", 1, 7)' 'Twain.ScanToFile("quiet.bmp", 0)' \
  'Twain.ScanToFile("after.bmp", 1)' 'Twain.Disconnect()'
expect "capabilities the camera offers, as ranges" \
  'Twain.GetSourceCapRange("PIXELTYPE", $p, "BITDEPTH", $b, "XFERMECH", $m, "UNITS", $u, "PIXELFLAVOR", $f) -> 0' \
  '  $p = 2' '  $b = 24' '  $m = 2' '  $u = 5' '  $f = 0'
expect "capabilities the camera offers, as current values" \
  'Twain.GetSourceCapability("PIXELTYPE", $p, "BITDEPTH", $b, "XFERMECH", $m, "UNITS", $u, "PIXELFLAVOR", $f) -> 0' \
  '  $p = 2' '  $b = 24' '  $m = 2' '  $u = 5' '  $f = 0'
expect "what the camera does not keep answers 9" 'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps) -> 9' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r) -> 9' 'Twain.GetSourceCapRange("IMAGEFILEFORMAT", $i) -> 9'
expect "colour is set; 8 bits are refused (10)" 'Twain.SetSourceCapability("PIXELTYPE", 2) -> 0' \
  'Twain.SetSourceCapability("BITDEPTH", 8) -> 10'
expect "native scans to a BMP and to a picture field answer 0" \
  'Twain.ScanToFile("photo.bmp", 1) -> 0' 'Twain.ScanToField($field:picture, 1) -> 0' '  $field = picture 400x600'
same_pixels "the camera's picture in a BMP" photo.bmp photo1.png
same_pixels "the camera's picture in a picture field" field.bmp photo1.png
expect "file transfers (TIFF 0, PNG 7): the camera has no file formats (9)" \
  'Twain.ScanToFile("photo.tif", 1, 0) -> 9' 'Twain.ScanToFile("photo.png", 1, 7) -> 9'
[ ! -e photo.tif ] && [ ! -e photo.png ] && pass "no file for a file transfer" || fail "no file for a file transfer"
expect "without its interface the camera chooses no picture (14), and the next scan works" \
  'Twain.ScanToFile("quiet.bmp", 0) -> 14' 'Twain.ScanToFile("after.bmp", 1) -> 0' 'Twain.Disconnect() -> 0'
[ ! -e quiet.bmp ] && pass "no quiet.bmp" || fail "no quiet.bmp"
same_pixels "the scan after the one without the interface" after.bmp photo1.png

# Batches. The camera's count of pending transfers never reaches 0: once its three pictures
# are out it refuses the next transfer (14), and a batch without maxPages ends there, its
# pages kept and counted. With maxPages 3 the batch ends at the limit (0). By native transfer
# into BMP (code 2) and PNG (7) files, a multi-page TIFF (6) and a PDF (10) with lossless
# images.
# The camera has a memory transfer, and answers XFERMECH with its current mechanism alone
# (memory when opened): the extension reads that before it sets a mechanism, so TRANSFER
# MEMORY and TRANSFER AUTO take the pages by memory transfer, in the camera's strips of whole
# rows.
run_source "$choice" batches 'Twain.Connect()' 'Twain.SetOption("PDFIMAGES", "LOSSLESS")' \
  'Twain.ScanPages("nbatch.bmp", $n, 1, 2)' 'Twain.ScanPages("nbatch.png", $n, 1, 7, 3)' \
  'Twain.ScanPages("nbook.tif", $n, 1, 6, 3)' 'Twain.ScanPages("nbook.pdf", $n, 1, 10, 3)' \
  'Twain.ScanToFile("nafter.bmp", 1)' \
  'Twain.SetOption("TRANSFER", "MEMORY")' 'Twain.ScanPages("mbatch.png", $n, 1, 7, 3)' \
  'Twain.SetOption("TRANSFER", "AUTO")' 'Twain.ScanPages("abatch.png", $n, 1, 7, 3)' 'Twain.Disconnect()'
expect "a batch without maxPages: the three pictures, then the camera refuses a fourth (14)" \
  'Twain.ScanPages("nbatch.bmp", $n, 1, 2) -> 14' '  $n = 3'
for call in 'ScanPages("nbatch.png", $n, 1, 7, 3)' 'ScanPages("nbook.tif", $n, 1, 6, 3)' \
            'ScanPages("nbook.pdf", $n, 1, 10, 3)'; do
  expect "Twain.$call: 3 pages" "Twain.$call -> 0" '  $n = 3'
done
batch_pages "native batch into BMP files" nbatch bmp
batch_pages "native batch into PNG files" nbatch png
tiff_book "native batch into a multi-page TIFF" nbook.tif
pdf_book "native batch into a PDF" nbook.pdf
expect "a single scan after the batches" 'Twain.ScanToFile("nafter.bmp", 1) -> 0'
same_pixels "the single scan after the batches" nafter.bmp photo1.png
expect "TRANSFER MEMORY: 3 pages; TRANSFER AUTO: 3 pages" \
  'Twain.ScanPages("mbatch.png", $n, 1, 7, 3) -> 0' '  $n = 3' 'Twain.ScanPages("abatch.png", $n, 1, 7, 3) -> 0' '  $n = 3'
batch_pages "TRANSFER MEMORY batch into PNG files" mbatch png
batch_pages "TRANSFER AUTO batch into PNG files" abatch png

summary
