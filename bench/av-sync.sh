#!/usr/bin/env bash
# Measures how far each job moves the sound against the picture: a 10-second
# 320x240 29.97 fps WMV whose picture flashes white and whose sound beeps at
# 1, 3, 5, 7 and 9 s (wmav2 puts the first picture 46 ms after the first
# sound) is converted by zel-convert; per output file, the flash onsets
# (ffmpeg's blackdetect) and beep onsets (silencedetect) are read on the
# file's own timeline and compared with the source's. Prints, per job and
# file, the mean sound-after-picture offset of the source and of the file and
# the largest change. Usage: bench/av-sync.sh [ZEL_CONVERT]   (default: this
# build's; give an older build's binary to measure it the same way)
source "$(dirname "$0")/common.sh" zel-sync
zel=${1:-$zel}
on="gte(t,1)*lt(mod(t-1,2),0.2)"
ffmpeg -nostdin -v error -y \
  -f lavfi -i "color=c=black:s=320x240:r=30000/1001:d=10,drawbox=c=white:t=fill:enable='$on'" \
  -f lavfi -i "aevalsrc='if($on,0.5*sin(2*PI*1000*t),0)':s=44100:d=10" \
  -ac 2 -c:v wmv2 -c:a wmav2 "$work/flash.wmv"

# onsets FILE START: "second flash beep" per odd second, times moved by START
onsets() {
  local log
  log=$( (ffmpeg -nostdin -nostats -i "$1" -an -vf blackdetect=d=0.01:pix_th=0.3 -f null - 2>&1 |
    grep -o 'black_end:[0-9.]*' | sed 's/.*:/f /' || true
  ffmpeg -nostdin -nostats -i "$1" -vn -af silencedetect=n=-30dB:d=0.05 -f null - 2>&1 |
    grep -o 'silence_end: [0-9.]*' | sed 's/.*: /b /' || true))
  awk -v start="$2" '{t = $2 + start; s = int(t + 0.5)
    if (s % 2 == 1 && (t - s < 0.4 && s - t < 0.4) && !(($1, s) in seen)) { seen[$1, s] = t }}
    END {for (s = 1; s <= 9; s += 2) if (("f", s) in seen && ("b", s) in seen)
      print s, seen["f", s], seen["b", s]}' <<<"$log"
}
onsets "$work/flash.wmv" 0 >"$work/source"

job() { # name, options...
  local name=$1
  shift
  rm -rf "$work/out" && mkdir -p "$work/out"
  "$zel" -q -o "$work/out" --container both "$@" "$work/flash.wmv" 2>/dev/null || true
  local split=0 prev=
  for arg in "$@"; do [[ $prev == --split ]] && split=$arg; prev=$arg; done
  for file in "$work"/out/*.3g?; do
    local index start=0
    index=$(basename "$file" | sed -n 's/^flash\([0-9][0-9]\)\..*/\1/p')
    [[ -n $index ]] && start=$((10#$index * split))
    onsets "$file" "$start" | awk -v name="$name" -v file="$(basename "$file")" '
      NR == FNR {src[$1] = $3 - $2; next}
      ($1 in src) {d = $3 - $2; n++; so += src[$1]; o += d; c = d - src[$1]
        if (c < 0) c = -c; if (c > worst) worst = c}
      END {if (n) printf "%-30s %-12s %8.1f ms %8.1f ms %8.1f ms\n", name, file,
        1000 * so / n, 1000 * o / n, 1000 * worst}' "$work/source" -
  done
}

printf '%-30s %-12s %11s %11s %11s\n' job file source output "max change"
job "mpeg4 15fps aac 8000 mono" --video mpeg4 --size 176x144 --fps 15 --audio aac --rate 8000 --channels 1
job "mpeg4 src-rate aac 24000 st" --video mpeg4 --size 320x240 --fps 0 --audio aac --rate 24000 --channels 2
job "h263 src-rate amr" --video h263 --size 176x144 --fps 0 --audio amr
job "mpeg4 15fps aac 8000 split 2" --video mpeg4 --size 176x144 --fps 15 --audio aac --rate 8000 --channels 1 --split 2
job "mpeg4 15fps amr split 2" --video mpeg4 --size 176x144 --fps 15 --audio amr --split 2
job "h263 src-rate aac 22050 split" --video h263 --size 128x96 --fps 0 --audio aac --rate 22050 --channels 1 --split 2
