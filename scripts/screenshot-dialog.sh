#!/usr/bin/env bash
# Renders docs/dialog.png: the dialog after a Folder run over three recordings, on an X server
# of its own (Xvfb), through Qt's X11 platform.
# Usage: scripts/screenshot-dialog.sh [BUILD_DIR]   (default: build/dev, configured already)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}

cmake --build "$build" --target gui_screenshot
# A fixed folder, so the paths in the picture stay the same from one run to the next.
work=/tmp/rawtoavi-screenshot
rm -rf "$work"
mkdir -p "$work/recordings"
trap 'rm -rf "$work"' EXIT

mkdir -p "$root/docs"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/gui/gui_screenshot" "$work/recordings" "$root/docs/dialog.png"
echo "wrote $root/docs/dialog.png"
