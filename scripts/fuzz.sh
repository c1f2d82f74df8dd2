#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for SECONDS seconds on its
# committed seeds plus a working corpus under build/fuzz/work. A finding stops the run with
# the crashing input saved in build/fuzz/work and a failure exit.
# Usage: fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-300}
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_reader fuzz_convert
scratch=$(mktemp -d /dev/shm/rawtoavi-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in reader convert; do
  work=build/fuzz/work/$target
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  (cd "$work" && TMPDIR=$scratch "$OLDPWD/build/fuzz/fuzz/fuzz_$target" \
      -dict="$OLDPWD/fuzz/mp4file.dict" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix=./ . "$OLDPWD/fuzz/corpus/$target" 2>&1 | tail -n 12)
done
