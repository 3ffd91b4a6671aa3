#!/usr/bin/env bash
# Builds the skin and lays it out as the window shows it, in
# out/skin-preview/ (normal.png, pressed.png, busy.png, faces.png) and
# out/skin-preview/2x/ (the same from the double-size renderings).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 zel-skin-preview >/dev/null
out=$root/out/skin-preview
QT_QPA_PLATFORM=offscreen "$build/tools/zel-skin-preview" "$out"
QT_QPA_PLATFORM=offscreen "$build/tools/zel-skin-preview" "$out/2x" 2
echo "$out"
