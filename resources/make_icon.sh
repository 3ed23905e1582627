#!/usr/bin/env bash
# Makes plumeta.ico (icon group 101) from icon.svg: four 16-colour images,
# 16, 24, 32 and 48 pixels square, in the standard 16-colour palette.
# Needs rsvg-convert (librsvg2-bin), ImageMagick and icotool (icoutils).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The classic 16-colour palette, as a 16x1 image to remap onto.
convert -size 1x1 \
  xc:'#000000' xc:'#800000' xc:'#008000' xc:'#808000' xc:'#000080' xc:'#800080' \
  xc:'#008080' xc:'#c0c0c0' xc:'#808080' xc:'#ff0000' xc:'#00ff00' xc:'#ffff00' \
  xc:'#0000ff' xc:'#ff00ff' xc:'#00ffff' xc:'#ffffff' +append "$work/palette.png"
images=()
for size in 16 24 32 48; do
  rsvg-convert -w "$size" -h "$size" icon.svg -o "$work/raw$size.png"
  # Opaque where the drawing is, fully transparent elsewhere; colours from
  # the palette only, no dithering.
  convert "$work/raw$size.png" -channel A -threshold 50% +channel \
    -dither None -remap "$work/palette.png" "PNG32:$work/icon$size.png"
  images+=("$work/icon$size.png")
done
icotool -c -b 4 -o plumeta.ico "${images[@]}"
icotool -l plumeta.ico
