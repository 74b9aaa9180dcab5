#!/usr/bin/env bash
# `make package`, after both builds: dist/ with what a host programmer receives.
#   dist/windows/Kardivelle.dll   kv-worker.exe and README.md      (32-bit hosts)
#   dist/windows64/Kardivelle.dll kv-worker.exe, kv-worker32.exe and README.md (64-bit hosts)
# (kv-worker.exe: the worker process of the option ISOLATION, kv-worker32.exe the 32-bit one
# through which the 64-bit build reaches 32-bit sources; both found beside the DLL.)
#   dist/macos/Kardivelle.bundle/ and dist/macos/README.md
# Each README.md is the host programmer's part of the repository README: from "What
# Kardivelle is" up to the section on trying it with the command-line host.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=dist
dll=build/windows/Kardivelle.dll
dll64=build/windows64/Kardivelle.dll
bundle=build/macos/Kardivelle.bundle

for need in "$dll" "$dll64" "$(dirname "$dll")/kv-worker.exe" "$(dirname "$dll64")/kv-worker.exe" "$(dirname "$dll64")/kv-worker32.exe" "$bundle/Contents/MacOS/Kardivelle" "$bundle/Contents/Resources/Kardivelle.rsrc"; do
  if [ ! -e "$need" ]; then
    echo "package: $need is not built (make build)" >&2
    exit 1
  fi
done

reference() {
  local build="$1"
  printf '# Kardivelle 1.2 for the Velmar host: function reference (%s build)\n\n' "$build"
  awk '/^## What Kardivelle is$/ { on = 1 } /^## Trying it/ { on = 0 } on' README.md
}

rm -rf "$dist"
mkdir -p "$dist/windows" "$dist/windows64" "$dist/macos"
cp "$dll" "$(dirname "$dll")/kv-worker.exe" "$dist/windows/"
cp "$dll64" "$(dirname "$dll64")/kv-worker.exe" "$(dirname "$dll64")/kv-worker32.exe" "$dist/windows64/"
cp -R "$bundle" "$dist/macos/"
reference Windows > "$dist/windows/README.md"
reference "64-bit Windows" > "$dist/windows64/README.md"
reference macOS > "$dist/macos/README.md"
for part in "$dist/windows/README.md" "$dist/windows64/README.md" "$dist/macos/README.md"; do
  grep -q '^## Function reference$' "$part" && grep -q '^## Result codes$' "$part" || {
    echo "package: $part lacks the function reference" >&2
    exit 1
  }
done
echo "Packaged into $dist/:"
find "$dist" -type f | sort | while read -r f; do printf '  %-52s %9d bytes\n' "$f" "$(stat -c %s "$f")"; done
