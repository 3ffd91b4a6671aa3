#!/bin/sh
# Renders one SVG drawing to PNG with rsvg-convert (librsvg2-bin).
#   render-svg.sh IN.svg OUT.png ZOOM      the drawing's own size times ZOOM (1, 2)
#   render-svg.sh IN.svg OUT.png NxN       exactly N x N pixels (icon sizes)
# Images that the drawing embeds (<image href="x.svg">) are looked up beside it.
set -eu
if [ $# -ne 3 ]; then
  echo "usage: render-svg.sh IN.svg OUT.png ZOOM|WIDTHxHEIGHT" >&2
  exit 2
fi
in=$1 out=$2 size=$3
case $size in
  *x*) set -- --width="${size%x*}" --height="${size#*x}" ;;
  *) set -- --zoom="$size" ;;
esac
mkdir -p "$(dirname "$out")"
# write beside the target and rename, so an interrupted build leaves no half file
rsvg-convert "$@" --format=png --output="$out.part" "$in"
mv -f "$out.part" "$out"
