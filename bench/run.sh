#!/usr/bin/env bash
# Runs the benchmark suite and writes bench/results.md.
#
#   bench/run.sh [BUILD_DIR]        (default build/release; `make bench` builds it first)
#
# Recordings are generated into $BENCH_DIR (default /tmp/rawtoavi-bench) and kept for later
# runs while their size and generator version still match; outputs are written there too
# and deleted after each run. Whole-process figures (rawtoavi, cp, ffmpeg, cat) are timed here,
# best of several runs with a warm page cache; the in-process reader figures come from
# reader_bench (Google Benchmark).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build/release}" && pwd)
work=${BENCH_DIR:-/tmp/rawtoavi-bench}
results=${BENCH_RESULTS:-$here/results.md}

gen=$build/bench/make-bench-recording
reader_bench=$build/bench/reader_bench
rawtoavi=$build/app/cli/rawtoavi

readonly MB=1000000
readonly SIZE_100M=100000000
readonly SIZE_1G=1073741824
readonly TAIL=100000000 # bytes of P-frames behind the last I-frame

die() {
  echo "bench/run.sh: $*" >&2
  exit 1
}

for tool in "$gen" "$reader_bench" "$rawtoavi"; do
  [ -x "$tool" ] || die "$tool is missing: build $build first (make bench does)"
done
for tool in /usr/bin/time ffmpeg jq cp cat dd awk; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done

mkdir -p "$work"
log=$work/run.log
: >"$log"
note() { echo "== $*" | tee -a "$log" >&2; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# --- recordings -------------------------------------------------------------------------

# ensure NAME SIZE KIND [m4v]: generates $work/NAME.raw (and NAME.m4v) unless a matching
# earlier one is there. The stamp names the generator version and the arguments.
ensure() {
  local name=$1 size=$2 kind=$3 m4v=${4:-}
  local raw=$work/$name.raw stampfile=$work/$name.stamp
  local stamp
  stamp="$("$gen" --version) size=$size kind=$kind tail=$TAIL m4v=${m4v:+yes}"
  if [ -f "$raw" ] && [ -f "$stampfile" ] && [ "$(stat -c %s "$raw")" = "$size" ] &&
    [ "$(head -n1 "$stampfile")" = "$stamp" ] &&
    { [ -z "$m4v" ] || [ "$(stat -c %s "$work/$name.m4v" 2>/dev/null)" = "$(sed -n 2p "$stampfile")" ]; }; then
    return
  fi
  note "generating $raw"
  rm -f "$raw" "$work/$name.m4v" "$stampfile"
  local args=("$raw" --size "$size" --kind "$kind" --tail "$TAIL")
  [ -n "$m4v" ] && args+=(--m4v "$work/$name.m4v")
  "$gen" "${args[@]}"
  { echo "$stamp"; [ -n "$m4v" ] && stat -c %s "$work/$name.m4v"; true; } >"$stampfile"
}

need=$((SIZE_100M * 2 + SIZE_1G * 6))
avail=$(($(df --output=avail -B1 "$work" | tail -n1)))
[ "$avail" -gt "$need" ] || note "warning: $work may be short of space ($avail bytes free)"

ensure groups-100m $SIZE_100M groups m4v
ensure groups-1g $SIZE_1G groups m4v
ensure tail-1g $SIZE_1G tail-p
ensure noi-1g $SIZE_1G no-iframe

# The remux must work before it is timed.
ffmpeg -nostdin -v error -f m4v -i "$work/groups-100m.m4v" -c copy -y "$work/check.avi" 2>"$work/ffmpeg-check.txt"
rm -f "$work/check.avi"
[ -s "$work/ffmpeg-check.txt" ] && die "ffmpeg reports errors remuxing the .m4v: $(head -3 "$work/ffmpeg-check.txt")"

warm() { cat "$@" >/dev/null; }

# --- whole-process timing -----------------------------------------------------------------

# measure KEY RUNS OUTPUT -- COMMAND...: best and median wall time (s) and the largest peak
# RSS (KiB) over RUNS runs; OUTPUT (a file, or "") is deleted after each. Results in $work/KEY.
measure() {
  local key=$1 runs=$2 output=$3
  shift 4
  local times=() rss=0 i start end r
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss.txt" "$@" >>"$log" 2>&1 || die "failed: $*"
    end=$(date +%s%N)
    [ -z "$output" ] || rm -f "$output"
    times+=("$(((end - start) / 1000))")
    r=$(tail -n1 "$work/rss.txt")
    [ "$r" -gt "$rss" ] && rss=$r
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v rss="$rss" '
    { t[NR] = $1 / 1e6 } END { printf "%.6f %.6f %d\n", t[1], t[int((NR + 1) / 2)], rss }' \
    >"$work/$key.time"
  echo "$key: $(cat "$work/$key.time") (best s, median s, KiB) load $(load)" >>"$log"
}
best() { cut -d' ' -f1 "$work/$1.time"; }
median() { cut -d' ' -f2 "$work/$1.time"; }
rss() { cut -d' ' -f3 "$work/$1.time"; }

out=$work/out
shm=/dev/shm/rawtoavi-bench-out
convert_runs() {
  local tag=$1 runs=$2 raw=$work/$1.raw m4v=$work/$1.m4v
  warm "$raw" "$m4v"
  note "conversion $tag (load $(load))"
  measure "rawtoavi-$tag" "$runs" "$out.avi" -- "$rawtoavi" -q -o "$out.avi" "$raw"
  measure "cp-$tag" "$runs" "$out.raw" -- cp "$raw" "$out.raw"
  # shellcheck disable=SC2016 # expanded by sh
  measure "cpsync-$tag" "$runs" "$out.raw" -- sh -c 'cp "$1" "$2" && sync "$2"' sh "$raw" "$out.raw"
  measure "ffmpeg-$tag" "$runs" "$out.avi" -- \
    ffmpeg -nostdin -v error -f m4v -i "$m4v" -c copy -y "$out.avi"
  # shellcheck disable=SC2016 # expanded by sh
  measure "ffsync-$tag" "$runs" "$out.avi" -- sh -c \
    'ffmpeg -nostdin -v error -f m4v -i "$1" -c copy -y "$2" && sync "$2"' sh "$m4v" "$out.avi"
  # The same two without a disk: what the code costs apart from the disk's write speed.
  if [ -d /dev/shm ] && [ $(($(df --output=avail -B1 /dev/shm | tail -n1))) -gt $((SIZE_1G * 2)) ]; then
    measure "rawtoavi-shm-$tag" "$runs" "$shm.avi" -- "$rawtoavi" -q -o "$shm.avi" "$raw"
    measure "cp-shm-$tag" "$runs" "$shm.raw" -- cp "$raw" "$shm.raw"
  fi
}

load_start=$(load)
convert_runs groups-100m 9
convert_runs groups-1g 7

# --- in-process reader figures ---------------------------------------------------------------

note "reader_bench (load $(load))"
warm "$work"/groups-100m.raw "$work"/groups-1g.raw "$work"/tail-1g.raw "$work"/noi-1g.raw
"$reader_bench" --benchmark_out="$work/reader.json" --benchmark_out_format=json \
  groups-100m="$work/groups-100m.raw" groups-1g="$work/groups-1g.raw" \
  tail-1g="$work/tail-1g.raw" noi-1g="$work/noi-1g.raw" | tee -a "$log" >&2

# jq over the aggregates: rb NAME AGGREGATE FIELD
rb() {
  jq -r --arg n "$1/" --arg a "$2" --arg f "$3" \
    '.benchmarks[] | select((.name | startswith($n)) and .aggregate_name == $a) | .[$f]' \
    "$work/reader.json"
}
seconds() { # NAME: the best repetition's time per iteration, in seconds
  jq -r --arg n "$1/" '.benchmarks[] | select((.name | startswith($n)) and .aggregate_name == "min")
    | .real_time * ({"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[.time_unit])' "$work/reader.json"
}

# --- cat over the bytes the last-I-frame search covers -----------------------------------------

tail_bytes=$(rb Open/tail-1g min search_bytes)
tail_skip=$((SIZE_1G - tail_bytes))
note "cat (load $(load))"
warm "$work/tail-1g.raw" "$work/noi-1g.raw"
# cat cannot start at an offset: dd with cat's 128 KiB reads does the same from there.
measure cat-tail-1g 9 "" -- dd if="$work/tail-1g.raw" of=/dev/null bs=128K iflag=skip_bytes \
  skip="$tail_skip" status=none
# shellcheck disable=SC2016 # expanded by sh
measure cat-noi-1g 7 "" -- sh -c 'cat "$1" >/dev/null' sh "$work/noi-1g.raw"
load_end=$(load)

# --- the table ----------------------------------------------------------------------------

calc() { awk "BEGIN { printf \"$1\", $2 }"; }
ok() { awk "BEGIN { exit !($1) }" && echo "met" || echo "**not met**"; }

row_convert() { # TAG LABEL SIZE
  local tag=$1 size=$3 r=rawtoavi-$1
  mbs() { calc "%.0f" "$size / $MB / $(best "$1")"; }
  secs() { calc "%.3f" "$(best "$1")"; }
  echo "| $2 | rawtoavi → /tmp | $(secs "$r") s | $(mbs "$r") | $(calc "%.1f" "$(rss "$r") / 1024") MiB |"
  echo "| $2 | cp → /tmp | $(secs "cp-$tag") s | $(mbs "cp-$tag") | $(calc "%.1f" "$(rss "cp-$tag") / 1024") MiB |"
  echo "| $2 | cp + sync → /tmp | $(secs "cpsync-$tag") s | $(mbs "cpsync-$tag") | $(calc "%.1f" "$(rss "cpsync-$tag") / 1024") MiB |"
  echo "| $2 | ffmpeg -c copy (.m4v → .avi) → /tmp | $(secs "ffmpeg-$tag") s | $(mbs "ffmpeg-$tag") | $(calc "%.1f" "$(rss "ffmpeg-$tag") / 1024") MiB |"
  echo "| $2 | ffmpeg -c copy + sync → /tmp | $(secs "ffsync-$tag") s | $(mbs "ffsync-$tag") | $(calc "%.1f" "$(rss "ffsync-$tag") / 1024") MiB |"
  if [ -f "$work/rawtoavi-shm-$tag.time" ]; then
    echo "| $2 | rawtoavi → tmpfs | $(secs "rawtoavi-shm-$tag") s | $(mbs "rawtoavi-shm-$tag") | $(calc "%.1f" "$(rss "rawtoavi-shm-$tag") / 1024") MiB |"
    echo "| $2 | cp → tmpfs | $(secs "cp-shm-$tag") s | $(mbs "cp-shm-$tag") | $(calc "%.1f" "$(rss "cp-shm-$tag") / 1024") MiB |"
  fi
}

target_convert() { # TAG LABEL
  local tag=$1 label=$2
  local vs_cp vs_ff vs_sync vs_shm med_cp med_ff reason=""
  vs_cp=$(calc "%.2f" "$(best "cp-$tag") / $(best "rawtoavi-$tag")")
  vs_ff=$(calc "%.2f" "$(best "ffmpeg-$tag") / $(best "rawtoavi-$tag")")
  med_cp=$(calc "%.2f" "$(median "cp-$tag") / $(median "rawtoavi-$tag")")
  med_ff=$(calc "%.2f" "$(median "ffmpeg-$tag") / $(median "rawtoavi-$tag")")
  vs_sync=$(calc "%.2f" "$(best "cpsync-$tag") / $(best "rawtoavi-$tag")")
  local synced="rawtoavi syncs its output to disk (fsync) before renaming it into place, so a finished AVI survives a crash, and waits for the disk"
  if [ "$(ok "$vs_cp >= 0.5")" != met ]; then
    reason="$synced; cp leaves its copy in the page cache. Against cp followed by sync of the copy: ${vs_sync}×"
    if [ -f "$work/rawtoavi-shm-$tag.time" ]; then
      vs_shm=$(calc "%.2f" "$(best "cp-shm-$tag") / $(best "rawtoavi-shm-$tag")")
      reason="$reason; with both writing to tmpfs, where nothing goes to disk: ${vs_shm}×"
    fi
    reason="$reason."
  fi
  echo "| Conversion $label ≥ 0.5× cp | ${vs_cp}× (medians: ${med_cp}×) | $(ok "$vs_cp >= 0.5") | $reason |"
  reason=""
  if [ "$(ok "$vs_ff >= 2")" != met ]; then
    reason="$synced; ffmpeg leaves its output in the page cache. Against ffmpeg followed by sync of its output: $(calc "%.2f" "$(best "ffsync-$tag") / $(best "rawtoavi-$tag")")×."
  fi
  echo "| Conversion $label ≥ 2× ffmpeg -c copy | ${vs_ff}× (medians: ${med_ff}×) | $(ok "$vs_ff >= 2") | $reason |"
}

open_tail=$(seconds Open/tail-1g)
open_noi=$(seconds Open/noi-1g)
open_groups=$(seconds Open/groups-1g)
cat_tail=$(best cat-tail-1g)
cat_noi=$(best cat-noi-1g)
open_tail_ratio=$(calc "%.2f" "$open_tail / $cat_tail")
open_noi_ratio=$(calc "%.2f" "$open_noi / $cat_noi")
noi_reason=""
if [ "$(ok "$open_noi_ratio <= 3")" != met ]; then
  noi_reason="without an I-frame the open reads the file twice: the first-I-frame search forwards and the last-I-frame search backwards each cover all of it."
fi

first_walk=$(rb SetPosFirst/groups-1g min walked_bytes)
first_time=$(seconds SetPosFirst/groups-1g)
first_gbs=$(calc "%.2f" "$first_walk / $first_time / 1e9")
repeat_us=$(calc "%.3f" "$(seconds SetPosRepeated/groups-1g) * 1e6")
prev_us=$(calc "%.1f" "$(rb PrevIFrame/groups-1g min per_step) * 1e6")
first_100m_gbs=$(calc "%.2f" "$(rb SetPosFirst/groups-100m min walked_bytes) / $(seconds SetPosFirst/groups-100m) / 1e9")

kib() { calc "%.0f" "$1 / 1024"; }
fp() { rb "Footprint/$1" max "$2"; }
open_peak_100m=$(fp groups-100m open_peak)
open_peak_1g=$(fp groups-1g open_peak)
flat_diff=$(calc "%.0f" "($open_peak_1g - $open_peak_100m) / 1024")
[ "${flat_diff#-}" -le 64 ] && flat=met || flat="**not met**"
index_rss=$(calc "%.1f" "$(fp groups-1g index_per_record)")
index_alloc=$(calc "%.1f" "$(fp groups-1g index_allocated_per_record)")
index_alloc_noi=$(calc "%.1f" "$(fp noi-1g index_allocated_per_record)")
index_ok=$(ok "$index_rss <= 16 && $index_alloc <= 16 && $index_alloc_noi <= 16")

sample_bytes() { calc "%.0f" "($(rss "rawtoavi-groups-1g") - $(rss "rawtoavi-groups-100m")) * 1024 / ($(rb Footprint/groups-1g max records) - $(rb Footprint/groups-100m max records))"; }

mhz() { awk -F: '/cpu MHz/ { printf "%.0f MHz", $2; exit }' /proc/cpuinfo; }
tmp_device=$(df --output=source /tmp | tail -n1)
tmp_fs=$(df --output=fstype /tmp | tail -n1)
rota=$(lsblk -dno ROTA "$tmp_device" 2>/dev/null | tr -d ' ' || true)
disk_size=$(lsblk -dno SIZE "$tmp_device" 2>/dev/null | tr -d ' ' || true)
case "$rota" in
  0) disk_kind="${disk_size:-size unknown}, reported as non-rotational" ;;
  1) disk_kind="${disk_size:-size unknown}, reported as rotational" ;;
  *) disk_kind="${disk_size:-size unknown}" ;;
esac
mount_options=$(findmnt -no OPTIONS -T /tmp 2>/dev/null || true)
compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")
build_type=$(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$build/CMakeCache.txt")

{
  cat <<EOF_MD
# Benchmark results

Written by \`make bench\` (bench/run.sh) on $(date -u '+%Y-%m-%d %H:%M UTC'). MB = 10^6 bytes,
GB = 10^9 bytes. Times are the best of several runs with a warm page cache, and targets are
judged on them; the machine is shared, so the load average is given, and for the conversion
the ratio of the median runs too.

## Machine

| | |
|---|---|
| CPU | $(lscpu | awk -F: '/Model name/ { gsub(/^ +/, "", $2); print $2; exit }') ($(mhz)) |
| Cores | $(nproc) |
| RAM | $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) |
| /tmp | $tmp_fs on $tmp_device ($disk_kind), mounted ${mount_options:-with unknown options} |
| Kernel | $(uname -sr) |
| Compiler | $("$compiler" --version | head -n1), $build_type |
| Load average | $load_start at the start, $load_end at the end |

## Targets

| Target | Figure | Result | Why not met |
|---|---|---|---|
$(target_convert groups-100m "(100 MB)")
$(target_convert groups-1g "(1 GiB)")
| Open, last I-frame 100 MB before the trailer (1 GiB), within 3× cat of those bytes | $(calc "%.1f" "$open_tail * 1e3") ms vs $(calc "%.1f" "$cat_tail * 1e3") ms: ${open_tail_ratio}× | $(ok "$open_tail_ratio <= 3") | |
| Open, no I-frame (1 GiB), within 3× cat of the file | $(calc "%.0f" "$open_noi * 1e3") ms vs $(calc "%.0f" "$cat_noi * 1e3") ms: ${open_noi_ratio}× | $(ok "$open_noi_ratio <= 3") | $noi_reason |
| First MP4FileSetCurrentPos to the last group (1 GiB) ≥ 1 GB/s | $first_gbs GB/s | $(ok "$first_gbs >= 1") | |
| Repeated MP4FileSetCurrentPos to the last group (1 GiB) < 1 ms | $repeat_us µs | $(ok "$repeat_us < 1000") | |
| Reader memory flat in the recording's size apart from the index | open peak $(kib "$open_peak_100m") KiB (100 MB) vs $(kib "$open_peak_1g") KiB (1 GiB) | $flat | |
| Index ≤ 16 bytes per record | $index_rss B resident, $index_alloc B allocated (with I-frames); $index_alloc_noi B allocated (no I-frame) | $index_ok | |

## Conversion

The same frames three ways: \`rawtoavi -q -o OUT RECORDING\`, \`cp\` of the recording, and
\`ffmpeg -f m4v -i STREAM.m4v -c copy OUT.avi\` on the elementary stream of the same frames
(the VOL header, then the frames). MB/s counts the recording's bytes for all of them. The
"+ sync" rows also sync the output to disk, as rawtoavi does its own; the tmpfs rows write to
/dev/shm, where nothing goes to disk.

| Recording | Command | Time | MB/s | Peak RSS |
|---|---|---|---|---|
$(row_convert groups-100m "100 MB" $SIZE_100M)
$(row_convert groups-1g "1 GiB" $SIZE_1G)

rawtoavi's peak RSS grows by about $(sample_bytes) bytes per frame from 100 MB to 1 GiB: the
AVI index, which is written at the end and so held until then.

## Reader (reader_bench, in-process)

| Figure | 100 MB | 1 GiB |
|---|---|---|
| MP4FileOpen + MP4FileClose, I-frames throughout | $(calc "%.2f" "$(seconds Open/groups-100m) * 1e3") ms | $(calc "%.2f" "$open_groups * 1e3") ms |
| MP4FileOpen, last I-frame 100 MB before the trailer | | $(calc "%.1f" "$open_tail * 1e3") ms ($(calc "%.0f" "$tail_bytes / $MB") MB searched) |
| MP4FileOpen, no I-frame | | $(calc "%.0f" "$open_noi * 1e3") ms |
| cat of the bytes the last-I-frame search covers (the tail: dd with cat's 128 KiB reads, from the offset) | | $(calc "%.1f" "$cat_tail * 1e3") ms (tail), $(calc "%.0f" "$cat_noi * 1e3") ms (whole file) |
| First MP4FileSetCurrentPos to the last group | $(calc "%.1f" "$(seconds SetPosFirst/groups-100m) * 1e3") ms, $first_100m_gbs GB/s | $(calc "%.1f" "$first_time * 1e3") ms, $first_gbs GB/s |
| Repeated MP4FileSetCurrentPos to the last group | $(calc "%.3f" "$(seconds SetPosRepeated/groups-100m) * 1e6") µs | $repeat_us µs |
| MP4FileGetPrevIFrame, per step over 100 groups | $(calc "%.1f" "$(rb PrevIFrame/groups-100m min per_step) * 1e6") µs | $prev_us µs |
| Reader's peak memory during open | $(kib "$open_peak_100m") KiB | $(kib "$open_peak_1g") KiB |
| Reader's memory while open | $(kib "$(fp groups-100m open_held)") KiB | $(kib "$(fp groups-1g open_held)") KiB |
| Index after a walk over every record | $(kib "$(fp groups-100m index_bytes)") KiB, $(rb Footprint/groups-100m max records) records | $(kib "$(fp groups-1g index_bytes)") KiB, $(rb Footprint/groups-1g max records) records |

reader_bench warns that the Google Benchmark library is a debug build (the Debian package);
that concerns the harness's bookkeeping, not the reader code it times.

Memory is resident memory (/proc/self/status, peak reset before each figure). The index's
allocated size also counts the deques' unused room; its resident size, at page granularity,
is the noisier of the two.
EOF_MD
} >"$results"

note "wrote $results"
cat "$results"
