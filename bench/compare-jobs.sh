#!/usr/bin/env bash
# Times zel-convert on four copies of the 60-second benchmark clip of
# compare-ffmpeg.sh (the same 3GP job), converted one at a time (-j 1) and
# two at a time (-j 2). Runs alternate; the medians of wall time are
# compared, with their spreads (lowest to highest), and the medians of
# processor time (user + system), which other programs on the machine
# disturb less.
# The last lines measure what the machine's cores give together for this
# job: one clip converted in series (ZEL_SINGLE_THREAD=1: only the sound
# decodes beside the pictures) alone, and two such conversions at once. Two
# at once doing C times the work of one alone puts a floor of 1/C under
# "-j 2 against -j 1" even for jobs that leave a core free (C stays well
# under 2 where the two compete for caches, memory or the loader), and a
# floor of (processor of -j 2) / 2 / (wall of -j 1) under this build's, whose
# -j 1 already runs each job on both cores.
# Usage: bench/compare-jobs.sh [RUNS]   (default 5)
runs=${1:-5}
source "$(dirname "$0")/common.sh" zel-jobs
ffmpeg -nostdin -v error -y \
  -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=60" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -ac 2 -c:v wmv2 -b:v 800k -c:a wmav2 -b:a 128k "$work/clip1.wmv"
for i in 2 3 4; do cp "$work/clip1.wmv" "$work/clip$i.wmv"; done

jobs_run() { # $1: -j value; appends "wall processor" seconds to $work/j$1
  rm -rf "$work/z" && mkdir -p "$work/z"
  /usr/bin/time -f "%e %U %S" -o "$work/last" "$zel" -q -j "$1" -o "$work/z" --video mpeg4 \
    --size 176x144 --fps 15 --audio aac --rate 8000 --channels 1 --container 3gp \
    "$work"/clip[1-4].wmv 2>>"$work/zel.log"
  awk '{print $1, $2 + $3}' "$work/last" >>"$work/j$1"
}
stat() { # $1: file, $2: column: "median lowest highest"
  awk -v c="$2" '{print $c}' "$1" | sort -g | awk '{a[NR]=$1} END {
    printf "%.2f %.2f %.2f", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2), a[1], a[NR] }'
}
load=$(cut -d' ' -f1-3 /proc/loadavg)
for ((i = 0; i < runs; i++)); do
  jobs_run 1
  jobs_run 2
done
read -r m1 l1 h1 <<<"$(stat "$work/j1" 1)"
read -r m2 l2 h2 <<<"$(stat "$work/j2" 1)"
p1=$(stat "$work/j1" 2 | cut -d' ' -f1)
p2=$(stat "$work/j2" 2 | cut -d' ' -f1)
echo "median of $runs runs on $(nproc) cores, four 60-s clips; load before: $load"
printf '%-6s wall %6.2f s  (%.2f-%.2f)  processor %6.2f s\n' \
  "-j 1" "$m1" "$l1" "$h1" "$p1" "-j 2" "$m2" "$l2" "$h2" "$p2"
awk -v a="$m2" -v b="$m1" 'BEGIN {printf "-j 2 against -j 1: wall %.2fx\n", a / b}'

one_run() { # $1: output folder: one clip in series
  rm -rf "$1" && mkdir -p "$1"
  ZEL_SINGLE_THREAD=1 "$zel" -q -o "$1" --video mpeg4 --size 176x144 --fps 15 --audio aac \
    --rate 8000 --channels 1 --container 3gp "$work/clip1.wmv" 2>>"$work/zel.log"
}
for ((i = 0; i < runs; i++)); do
  start=$(date +%s.%N)
  one_run "$work/a"
  alone=$(date +%s.%N)
  one_run "$work/a" &
  one_run "$work/b"
  wait
  end=$(date +%s.%N)
  awk -v s="$start" -v a="$alone" -v e="$end" 'BEGIN {print a - s, e - a}' >>"$work/pair"
done
read -r a _ <<<"$(stat "$work/pair" 1)"
read -r b _ <<<"$(stat "$work/pair" 2)"
awk -v a="$a" -v b="$b" -v p="$p2" -v m="$m1" 'BEGIN {
  printf "one clip in series: alone %.2f s, two at once %.2f s: the cores together do %.2fx the work of one\n", a, b, 2 * a / b
  printf "floors of -j 2 against -j 1: %.2fx (jobs in series), %.2fx (this build)\n", b / (2 * a), p / 2 / m }'
