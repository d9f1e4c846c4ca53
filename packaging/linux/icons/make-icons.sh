#!/usr/bin/env bash
# Renders the program's icon to the hicolor PNG sizes committed beside it
# (rsvg-convert from librsvg2-bin). Run after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" tk650downloader.svg -o "tk650downloader-$size.png"
done
# The Windows programs' icon, from the same PNGs (convert from imagemagick).
convert tk650downloader-{16,24,32,48,64,256}.png ../../windows/tk650downloader.ico
