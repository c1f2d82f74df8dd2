#!/usr/bin/env bash
# Remakes samples/demo.raw: four seconds of ffmpeg's testsrc2 pattern at 176x144 (size code 5)
# and 25 fps, an I-frame every 25 frames, in the tagged layout with a non-video record after
# every 10 frames.
#
# Usage: tools/make-demo-sample.sh [path/to/make-recording]
#        (default: build/dev/tools/make-recording, as the dev preset builds it)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
tool="${1:-$root/build/dev/tools/make-recording}"
if [ ! -x "$tool" ]; then
  echo "make-recording not found at $tool; build it (cmake --build --preset dev" \
       "--target make-recording) or pass its path" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Encoder settings whose frames fit the VOL header the converter writes for code 5 at 25 fps:
# no B-frames, a GOV before every I-frame and the VOL only at the start (-strict very), one
# thread (more switch resync markers on), and time counted in the header's 1/25000 s.
# -flags +bitexact keeps the output the same from one machine to the next.
ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 100 \
  -c:v mpeg4 -bf 0 -g 25 -threads 1 -strict very -flags +bitexact \
  -enc_time_base 1/25000 -fps_mode passthrough -f m4v "$work/demo.m4v"

"$tool" "$work/demo.m4v" "$root/samples/demo.raw" \
  --layout tagged --size-code 5 --rate 25 --extra-every 10
