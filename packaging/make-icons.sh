#!/bin/sh
# Renders the application icon's PNG sizes from its SVG (librsvg2-bin); the PNGs are kept in the
# repository so that a build needs no SVG renderer.
set -e
cd "$(dirname "$0")"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" org.quillmend.Quillmend.svg -o "org.quillmend.Quillmend-$size.png"
done
