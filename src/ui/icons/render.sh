#!/usr/bin/env bash
# Renders the SVG drawings into the PNGs the resource file embeds (Qt's SVG module is not a
# dependency). Run again after editing a drawing; needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
for svg in *.svg; do
    name=${svg%.svg}
    convert -background none -density 288 "$svg" -resize 24x24 -strip -depth 8 "png/$name.png"
    convert -background none -density 288 "$svg" -resize 48x48 -strip -depth 8 "png/$name@2x.png"
done
# The about box shows the program's drawing at 64 pixels, twice that on dense screens.
convert -background none -density 576 moonrake.svg -resize 128x128 -strip -depth 8 png/logo.png
