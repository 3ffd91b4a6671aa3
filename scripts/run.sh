#!/usr/bin/env bash
# Builds the window if needed and starts it in the current directory (which
# holds setup.ini): scripts/run.sh [FILE] loads FILE at start.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 zel >/dev/null
exec "$build/src/app/zel" "$@"
