#!/usr/bin/env bash
# Renders the icon group from the scalable artwork: 32x32 monochrome, 32x32 and
# 16x16 in 16 colours. Run by hand after changing the SVG (needs ImageMagick);
# the PNGs are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")"
svg=org.example.TempoCalculator.svg
convert -background none -density 384 "$svg" -resize 32x32 +dither -colors 16 PNG8:tempo-32-16colours.png
convert -background none -density 384 "$svg" -resize 16x16 +dither -colors 16 PNG8:tempo-16-16colours.png
convert -background white -density 384 "$svg" -flatten -resize 32x32 -colorspace gray \
  -threshold 60% -type bilevel -define png:bit-depth=1 tempo-32-monochrome.png
