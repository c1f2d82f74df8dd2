#!/usr/bin/env bash
# Renders the icon's PNG sizes from the hand-drawn SVGs (rawtoavi-gui-16.svg is the 16-pixel
# variant, with fewer, pixel-aligned details). Needs ffmpeg built with librsvg, as Debian's is.
# The PNGs are committed; run this after changing an SVG.
set -euo pipefail
cd "$(dirname "$0")"

render() {  # source size output
  ffmpeg -hide_banner -loglevel error -y -width "$2" -height "$2" -i "$1" -frames:v 1 \
    -pix_fmt rgba "$3"
}

render rawtoavi-gui.svg 48 rawtoavi-gui-48.png
render rawtoavi-gui.svg 32 rawtoavi-gui-32.png
render rawtoavi-gui-16.svg 16 rawtoavi-gui-16.png
