#!/usr/bin/env bash
# Set-up, build, then convert a sample clip that it makes itself (a few
# seconds of WMV with sound) to 3GP and 3G2, and show what ffprobe reads.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zel-convert

demo=out/demo
rm -rf "$demo" && mkdir -p "$demo"
echo "== making a sample: $demo/sample.wmv (6 s, 320x240 wmv2 + wmav2 stereo)"
ffmpeg -nostdin -v error -y \
  -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=6" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=6" \
  -ac 2 -c:v wmv2 -b:v 800k -c:a wmav2 -b:a 128k "$demo/sample.wmv"

echo "== zel-convert (MPEG-4 176x144 15 fps, AAC 8000 Hz mono, 3GP and 3G2, report)"
# run inside the demo folder: no setup.ini there, so the built-in settings apply
(cd "$demo" && ../../build/src/cli/zel-convert --video mpeg4 --size 176x144 --fps 15 \
  --audio aac --rate 8000 --channels 1 --container both --report sample.wmv)

echo
echo "== output"
ls -l "$demo"
for f in "$demo"/sample.3gp "$demo"/sample.3g2; do
  echo "-- $f"
  ffprobe -v error -show_entries format=format_name,duration:stream=codec_name,width,height,r_frame_rate,sample_rate,channels,nb_frames \
    -of compact=p=0 "$f"
done
