#!/usr/bin/env bash
# Runs the main job on the bundled sample: describes the recording, converts it to AVI and
# lets ffprobe, an independent reader, describe the result. Usage: demo.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
out=$here/build/demo
mkdir -p "$out"

echo "== The bundled sample recording"
"$build/app/cli/rawtoavi" --info "$here/samples/demo.raw"
echo
echo "== Converting it"
"$build/app/cli/rawtoavi" -o "$out/demo.avi" "$here/samples/demo.raw"
echo
echo "== What ffprobe sees in the AVI"
ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,codec_tag_string,width,height,avg_frame_rate,nb_read_frames \
  -of default=noprint_wrappers=1 "$out/demo.avi"
echo
echo "The AVI is at $out/demo.avi (play it with ffplay, mpv or VLC)."
