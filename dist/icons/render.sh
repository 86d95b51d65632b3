#!/usr/bin/env bash
# Renders the program's drawing into the hicolor theme's sizes and the in-program copies.
# Run again after editing src/ui/icons/moonrake.svg; needs rsvg-convert (librsvg2-bin).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
svg="$here/../../src/ui/icons/moonrake.svg"
for size in 16 22 24 32 48 64 128 256 512; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$here/$size.png"
done
png="$here/../../src/ui/icons/png"
rsvg-convert -w 24 -h 24 "$svg" -o "$png/moonrake.png"
rsvg-convert -w 48 -h 48 "$svg" -o "$png/moonrake@2x.png"
rsvg-convert -w 128 -h 128 "$svg" -o "$png/logo.png"
