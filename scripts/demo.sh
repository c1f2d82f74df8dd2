#!/usr/bin/env bash
# Runs the main job on the bundled sample recording. Usage: demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")/.." && pwd)
echo "== The bundled sample, read through libmp4file.so =="
"$build/examples/mp4info" "$here/samples/demo.raw"
