#!/usr/bin/env bash
# Measures the settings beyond the described converter:
#   keepaspect  - the picture area of a 1280x720 MP4 in a 176x144 frame and its
#                 aspect error; a 4:3 source in a 4:3 frame fills it
#   smoothscale - PSNR against the source scaled with an area filter, nearest
#                 neighbour against smooth at the same bit rate, and the time of
#                 the whole conversion (median of RUNS)
#   normalize   - the loudness and sample peak of the output with and without
#                 it, and the time of the whole conversion (median of RUNS)
#   anyinput    - MP4 (H.264 + AAC), MOV, MKV (VP9 + Opus), MP3 and FLAC each
#                 convert, are read by ffprobe and decode without errors; a file
#                 with neither stream is still refused
# Usage: bench/compare-extras.sh [RUNS]   (default 5)
runs=${1:-5}
source "$(dirname "$0")/common.sh" zel-extras
cd "$work"
make() { ffmpeg -nostdin -v error -y "$@"; }

echo "== keepaspect"
make -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=3" -f lavfi -i "sine=duration=3" \
  -c:v libx264 -pix_fmt yuv420p -c:a aac wide.mp4
make -f lavfi -i "testsrc2=size=640x480:rate=30:duration=3" -c:v wmv2 -an square.wmv
area() { # FILE: the picture area w:h:x:y that cropdetect finds in the middle frame
  ffmpeg -nostdin -v info -i "$1" -vf "cropdetect=limit=24:round=2:reset=0" -f null - 2>&1 |
    grep -o 'crop=[0-9:]*' | tail -1 | cut -d= -f2
}
"$zel" -q --any-input --keep-aspect --size 176x144 --container 3gp wide.mp4 2>/dev/null
a=$(area wide.3gp)
w=${a%%:*}; rest=${a#*:}; h=${rest%%:*}
awk -v w="$w" -v h="$h" 'BEGIN {
  e = (w / h) / (16 / 9) - 1; if (e < 0) e = -e
  printf "1280x720 in 176x144: picture %dx%d, aspect error %.2f %%\n", w, h, 100 * e }'
"$zel" -q --keep-aspect --size 320x240 --container 3gp square.wmv 2>/dev/null
echo "640x480 in 320x240: picture $(area square.3gp | cut -d: -f1-2 | tr : x) (the whole frame)"

echo "== smoothscale"
make -f lavfi -i "testsrc2=size=320x240:rate=30:duration=60" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -ac 2 -c:v wmv2 -b:v 800k -c:a wmav2 -b:a 128k clip.wmv
# the reference: every second frame, scaled with an area filter
make -i clip.wmv -vf "fps=15,scale=176:144:flags=area" -an -c:v rawvideo -pix_fmt yuv420p ref.nut
psnr() { # FILE: mean PSNR of luma against the reference
  ffmpeg -nostdin -v info -i "$1" -i ref.nut -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
    grep -o 'y:[0-9.]*' | tail -1 | cut -d: -f2
}
convert() { # NAME OPTIONS...
  local name=$1; shift
  mkdir -p "$name" && (cd "$name" && "$zel" -q --size 176x144 --fps 15 --container 3gp "$@" \
    ../clip.wmv 2>/dev/null)
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
convert nearest && convert smooth --smooth  # once to warm the caches
for ((i = 0; i < runs; i++)); do  # alternating, so that drifts of the machine hit both
  /usr/bin/time -f %e -a -o nearest.t bash -c "$(declare -f convert); zel=$zel; convert nearest"
  /usr/bin/time -f %e -a -o smooth.t bash -c "$(declare -f convert); zel=$zel; convert smooth --smooth"
done
pn=$(psnr nearest/clip.3gp); ps=$(psnr smooth/clip.3gp)
tn=$(median <nearest.t); ts=$(median <smooth.t)
awk -v pn="$pn" -v ps="$ps" -v tn="$tn" -v ts="$ts" 'BEGIN {
  printf "PSNR (Y) against the area-scaled source: nearest %.2f dB, smooth %.2f dB (+%.2f dB)\n", pn, ps, ps - pn
  printf "whole conversion, median: nearest %.2f s, smooth %.2f s (%.2fx)\n", tn, ts, ts / tn }'

echo "== normalize"
convert normalize --normalize
for ((i = 0; i < runs; i++)); do
  /usr/bin/time -f %e -a -o plain.t bash -c "$(declare -f convert); zel=$zel; convert nearest"
  /usr/bin/time -f %e -a -o normalize.t bash -c "$(declare -f convert); zel=$zel; convert normalize --normalize"
done
loudness() { # FILE: integrated loudness and sample peak
  ffmpeg -nostdin -nostats -i "$1" -af ebur128=peak=sample -f null - 2>&1 |
    awk '/Summary/ {s = 1} s && / I:/ {i = $2} s && /Peak:/ {p = $2} END {print i " LUFS, peak " p " dBFS"}'
}
echo "source $(loudness clip.wmv); plain $(loudness nearest/clip.3gp); normalize $(loudness normalize/clip.3gp)"
awk -v tp="$(median <plain.t)" -v tz="$(median <normalize.t)" 'BEGIN {
  printf "whole conversion, median: plain %.2f s, normalize %.2f s (%.2fx)\n", tp, tz, tz / tp }'

echo "== anyinput"
make -f lavfi -i "testsrc2=size=640x360:rate=25:duration=3" -f lavfi -i "sine=duration=3" \
  -c:v libx264 -pix_fmt yuv420p -c:a aac phone.mp4
make -f lavfi -i "testsrc2=size=640x480:rate=25:duration=3" -f lavfi -i "sine=duration=3" \
  -c:v libx264 -pix_fmt yuv420p -c:a aac camera.mov
make -f lavfi -i "testsrc2=size=640x360:rate=25:duration=3" -f lavfi -i "sine=duration=3" \
  -c:v libvpx-vp9 -b:v 500k -c:a libopus web.mkv
make -f lavfi -i "sine=duration=3" -c:a libmp3lame song.mp3
make -f lavfi -i "sine=duration=3" -c:a flac song.flac
head -c 20000 /dev/urandom >noise.mp4
for f in phone.mp4 camera.mov web.mkv song.mp3 song.flac; do
  out=${f%.*}.3gp
  rm -f "$out"
  if "$zel" -q --any-input --container 3gp "$f" 2>/dev/null && [ -f "$out" ]; then
    streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$out" | paste -sd+)
    errors=$(ffmpeg -nostdin -v error -i "$out" -f null - 2>&1 | wc -l)
    echo "$f: converted ($streams), decode errors: $errors"
  else
    echo "$f: FAILED"
  fi
done
if "$zel" -q --any-input --container 3gp noise.mp4 2>err.txt; then
  echo "noise.mp4: taken (should be refused)"
else
  echo "noise.mp4: refused, exit $?: $(head -c 200 err.txt | tr '\n' ' ')"
fi
