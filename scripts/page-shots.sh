#!/usr/bin/env bash
# Renders the settings sheet's pages and a message box to PNG files, to look
# at the window's dialogs without a display: scripts/page-shots.sh [folder]
# (default out/shots). Set QT_QPA_PLATFORM=xcb to render on a real display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/out/shots}"
build="${BUILD_DIR:-$root/build}"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 page-shots >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/tools/page-shots" "$out"
ls "$out"/*.png
