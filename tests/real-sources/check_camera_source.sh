#!/usr/bin/env bash
# The Windows build against Wine's own camera source, gphoto2.ds, in a scratch Wine prefix of
# its own (build/camera/prefix, a copy of the build's prefix with Wine's camera source back
# as source 1 and its dialog skipped). The camera is a folder with a DCIM folder holding a
# JPEG of our test page: bind-mounted onto itself in a private mount namespace, libgphoto2
# offers it as a "Mass Storage Camera" that only this process tree sees. Connect, capability
# words, a native page to a BMP and to a picture field (both compared pixel by pixel with the
# picture as ImageMagick decodes it), a file format the camera cannot write, and a scan
# without the interface. One line per check, then the counts. Exit 0 when all passed, 1 when
# one failed, 77 (skipped, with one line saying why) when this machine cannot run it.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
builds="${KV_BUILD_DIR:-$repo/build}"
camera="$builds/camera"
card="$camera/card"
skip() {
  echo "skipped: $*"
  exit 77
}

if [ -z "${KV_CAMERA_NAMESPACE:-}" ]; then
  builtin="$(ls /usr/lib/i386-linux-gnu/wine/i386-windows/gphoto2.ds /usr/lib/wine/i386-windows/gphoto2.ds 2>/dev/null | head -1)"
  [ -n "$builtin" ] || skip "Wine's camera source gphoto2.ds is not installed"
  [ -f "$builds/windows/wineprefix/system.reg" ] || skip "no Wine prefix in $builds/windows (make build)"
  [ "$(id -u)" -eq 0 ] || skip "the camera's private bind mount needs root, and this runs as $(id -un)"
  unshare -m true 2>/dev/null || skip "no private mount namespace here (unshare -m fails)"
  # The scratch prefix, made once: a copy of the build's (1.3 GB, a few seconds), where
  # gphoto2.ds is Wine's again and shows no dialog.
  prefix="$camera/prefix"
  if [ ! -f "$camera/prefix.done" ]; then
    rm -rf "$prefix"
    mkdir -p "$camera"
    cp -a "$builds/windows/wineprefix" "$prefix" || skip "cannot copy the Wine prefix to $prefix"
    rm -f "$prefix/drive_c/windows/twain_32/TWAIN_logo.png"
    cp -f "$builtin" "$prefix/drive_c/windows/twain_32/gphoto2.ds"
    (export WINEPREFIX="$prefix" WINEDEBUG=-all
     wine reg delete 'HKCU\Software\Wine\DllOverrides' /v gphoto2.ds /f >/dev/null 2>&1
     wine reg add 'HKCU\Software\Wine\Gphoto2' /v SkipUI /t REG_DWORD /d 1 /f >/dev/null 2>&1
     wineserver -w)
    touch "$camera/prefix.done"
  fi
  cp -f "$builds/windows/wineprefix/drive_c/windows/twain_32/sane.ds" "$prefix/drive_c/windows/twain_32/sane.ds"
  # The build as velmar-host finds it (KV_BUILD_DIR), with the scratch prefix.
  mkdir -p "$camera/kv/windows"
  ln -sfn "$builds/windows/velmar-host.exe" "$camera/kv/windows/velmar-host.exe"
  ln -sfn "$builds/windows/Kardivelle.dll" "$camera/kv/windows/Kardivelle.dll"
  ln -sfn "$prefix" "$camera/kv/windows/wineprefix"
  # The camera's memory card: one picture, our test page as a JPEG.
  rm -rf "$card"
  mkdir -p "$card/DCIM/100KARDV"
  page="$(mktemp --suffix=.bmp)"
  bash "$repo/tools/test-page.sh" "$page" && convert "$page" -quality 95 "$card/DCIM/100KARDV/KV000001.JPG"
  rm -f "$page"
  KV_CAMERA_NAMESPACE=1 exec unshare -m bash "$0" "$@"
fi

# In the private mount namespace from here on.
mount --bind "$card" "$card" 2>/dev/null || skip "cannot bind-mount $card onto itself"
host="$repo/tools/velmar-host"
export KV_BUILD_DIR="$camera/kv"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"; WINEPREFIX="$camera/prefix" wineserver -k 2>/dev/null' EXIT
cd "$scratch" || exit 1

source "$repo/tests/support/checks.sh"

convert "$card/DCIM/100KARDV/KV000001.JPG" -type TrueColor -depth 8 photo.png

# The camera delivers only with its interface asked for (SkipUI then skips the dialog); it
# offers 24-bit colour and native transfers only.
run_source 1 camera 'Twain.Connect()' 'Twain.GetSourceCapRange("PIXELTYPE", $p)' \
  'Twain.GetSourceCapability("XFERMECH", $m)' 'Twain.GetSourceCapRange("IMAGEFILEFORMAT", $f)' \
  'Twain.ScanToFile("photo.bmp", 1)' 'Twain.ScanToField($field:picture, 1)' \
  'Twain.ScanToFile("photo.tif", 1, 0)' 'Twain.ScanToFile("quiet.bmp", 0)' \
  'Twain.ScanToFile("again.bmp", 1)' 'Twain.Disconnect()'
expect "Connect and the camera's capabilities" 'Twain.SelectDataSource() -> 0' 'Twain.Connect() -> 0' \
  'Twain.GetSourceCapRange("PIXELTYPE", $p) -> 0' '  $p = 2' \
  'Twain.GetSourceCapRange("IMAGEFILEFORMAT", $f) -> 9'
expect "native scans to a BMP and to a picture field answer 0" \
  'Twain.ScanToFile("photo.bmp", 1) -> 0' 'Twain.ScanToField($field:picture, 1) -> 0' '  $field = picture 400x600'
same_pixels "the camera's picture in a BMP" photo.bmp photo.png
same_pixels "the camera's picture in a picture field" field.bmp photo.png
expect "TIFF (code 0): the camera has no file formats (9), and nothing is written" \
  'Twain.ScanToFile("photo.tif", 1, 0) -> 9'
[ ! -e photo.tif ] && pass "no photo.tif" || fail "no photo.tif"
expect "without its interface the camera chooses no picture (14), and the next scan works" \
  'Twain.ScanToFile("quiet.bmp", 0) -> 14' 'Twain.ScanToFile("again.bmp", 1) -> 0' 'Twain.Disconnect() -> 0'
same_pixels "the camera's picture again" again.bmp photo.png

summary
