#!/usr/bin/env bash
# Times a whole conversion by zel-convert against the ffmpeg command line on a
# 60-second 320x240 29.97 fps WMV (wmv2 800 kbit/s, wmav2 128 kbit/s stereo
# 44.1 kHz). Runs alternate; the medians of wall time and peak memory are
# compared (the spread of the runs, lowest-highest, in brackets); the three
# ratios that matter: the whole job against ffmpeg (time and peak memory),
# and the job in 1-second segments against the whole job (time and peak
# memory). Usage: bench/compare-ffmpeg.sh [RUNS]   (default 5)
# ZEL_SINGLE_THREAD=1 in the environment runs zel-convert on one thread.
# With ZEL_BASELINE=/path/to/an/older/zel-convert, that build's runs alternate
# with this one's and their ratio is printed too (a change before and after).
runs=${1:-5}
base=${ZEL_BASELINE:-}
source "$(dirname "$0")/common.sh" zel-bench
clip=$work/clip.wmv
ffmpeg -nostdin -v error -y \
  -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=60" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -ac 2 -c:v wmv2 -b:v 800k -c:a wmav2 -b:a 128k "$clip"

ffmpeg_one() { # $1: output file
  ffmpeg -nostdin -v error -y -i "$clip" -c:v mpeg4 -s 176x144 -r 15 -b:v 200k -g 12 \
    -c:a aac -ar 8000 -ac 1 -b:a 32k -f 3gp "$1"
}
zel_run() { # $1: container, $2: split seconds, $3: the zel-convert (default $zel)
  rm -rf "$work/z" && mkdir -p "$work/z"
  (cd "$work/z" && "${3:-$zel}" -q --video mpeg4 --size 176x144 --fps 15 --audio aac --rate 8000 \
    --channels 1 --container "$1" --split "$2" "$clip" 2>>"$work/zel.log")
}

# measure NAME COMMAND...: appends "seconds kilobytes processor-seconds" to $work/NAME
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/last" "$@"
  awk '{print $1, $2, $3 + $4}' "$work/last" >"$work/last.sum" && mv "$work/last.sum" "$work/last"
  cat "$work/last" >>"$work/$name"
}
median() { # $1: file, $2: column
  awk -v c="$2" '{print $c}' "$1" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'
}
spread() { # $1: file, $2: column: "(lowest-highest)"
  awk -v c="$2" '{print $c}' "$1" | sort -g | awk 'NR == 1 {l = $1} {h = $1} END {printf "(%s-%s)", l, h}'
}

export -f ffmpeg_one zel_run
export clip work zel base
for ((i = 0; i < runs; i++)); do
  measure zel_3gp bash -c 'zel_run 3gp 0'
  [[ -z $base ]] || measure base_3gp bash -c 'zel_run 3gp 0 "$base"'
  measure ff_3gp bash -c 'ffmpeg_one "$work/f.3gp"'
  measure zel_both bash -c 'zel_run both 0'
  [[ -z $base ]] || measure base_both bash -c 'zel_run both 0 "$base"'
  measure ff_both bash -c 'ffmpeg_one "$work/f.3gp" && ffmpeg_one "$work/f2.3gp"'
  measure zel_split bash -c 'zel_run 3gp 1'
  [[ -z $base ]] || measure base_split bash -c 'zel_run 3gp 1 "$base"'
done

div() { awk -v a="$1" -v b="$2" 'BEGIN {print (b > 0 ? a / b : 0)}'; }
report() { # label zel ff
  local zt ft zm fm
  zt=$(median "$work/$2" 1); ft=$(median "$work/$3" 1)
  zm=$(median "$work/$2" 2); fm=$(median "$work/$3" 2)
  printf '%-34s zel %6.2f s %-11s %-9s %6.2f s %-11s ratio %.2fx   peak memory zel %6d KiB  %-8s %6d KiB  ratio %.2fx\n' \
    "$1" "$zt" "$(spread "$work/$2" 1)" "$4" "$ft" "$(spread "$work/$3" 1)" "$(div "$zt" "$ft")" \
    "$zm" "ffmpeg" "$fm" "$(div "$zm" "$fm")"
}
echo "median of $runs runs on $(nproc) cores"
report "3GP only" zel_3gp ff_3gp "ffmpeg"
report "3GP + 3G2 (ffmpeg: two runs)" zel_both ff_both "ffmpeg x2"
zs=$(median "$work/zel_split" 1); zu=$(median "$work/zel_3gp" 1)
ms=$(median "$work/zel_split" 2); mu=$(median "$work/zel_3gp" 2)
printf '%-34s zel %6.2f s %-11s unsplit %6.2f s  ratio %.2fx   peak memory %d KiB  unsplit %d KiB  ratio %.2fx\n' \
  "3GP in 1-second segments" "$zs" "$(spread "$work/zel_split" 1)" "$zu" "$(div "$zs" "$zu")" \
  "$ms" "$mu" "$(div "$ms" "$mu")"
if [[ -n $base ]]; then
  for run in 3gp both split; do
    printf '%-34s zel %6.2f s  baseline %6.2f s  ratio %.3fx   processor time ratio %.3fx\n' \
      "against the baseline, $run" "$(median "$work/zel_$run" 1)" "$(median "$work/base_$run" 1)" \
      "$(div "$(median "$work/zel_$run" 1)" "$(median "$work/base_$run" 1)")" \
      "$(div "$(median "$work/zel_$run" 3)" "$(median "$work/base_$run" 3)")"
  done
fi
