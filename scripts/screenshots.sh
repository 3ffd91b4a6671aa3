#!/usr/bin/env bash
# Pictures of the main window as a user sees it, on a virtual X display:
# scripts/screenshots.sh [folder] (default out/screenshots). Starts the
# application under xvfb-run, loads clips it makes itself and saves
# idle.png, loaded.png, playing.png, refusal.png, capture.png,
# settings-<page>.png, open-file.png, avi-progress.png and converting.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/out/screenshots}" && cd "${1:-$root/out/screenshots}" && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 zel-window-shots >/dev/null

media="$out/media"
mkdir -p "$media"
make_clip() {  # name seconds
  [ -f "$media/$1" ] || ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=$2" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$2" \
    -ac 2 -c:v wmv2 -b:v 800k -c:a wmav2 -b:a 128k "$media/$1"
}
make_clip clip.wmv 8
make_clip long.wmv 120
[ -f "$media/long.avi" ] || ffmpeg -nostdin -v error -y \
  -f lavfi -i "testsrc2=size=640x480:rate=25:duration=120" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=120" \
  -c:v mpeg4 -q:v 4 -c:a pcm_s16le "$media/long.avi"

# a start directory of its own: no setup.ini of the user's is read or written
start="$(mktemp -d)"
trap 'rm -rf "$start"' EXIT
cd "$start"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tools/zel-window-shots" "$out" "$media/clip.wmv" "$media/long.wmv" "$media/long.avi"
