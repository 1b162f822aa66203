#!/usr/bin/env bash
# Times ffmpeg's non-local-means filter against the denoise pass (p1) on the same frame size and
# the same cores, and prints the ratio. Both filter with 3x3 patches over a 5x5 search window
# (ffmpeg: nlmeans=s=3:p=3:r=5). The clip is the sample clip enlarged to 1920x1080 with noise
# added. ffmpeg's time per frame is that of the nlmeans run less that of a pass-through run over
# the same clip (reading and decoding); ours is the qv_bench figure for the pass at 1920x1080.
# ffmpeg filters all three planes of its 4:2:0 frame (1.5 times the luma samples); the pass
# filters the luma.
#
# Usage: bench/compare_nlmeans.sh [build-dir]      (default: build/release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
bench=$build/bench/qv_bench
cores=$(nproc)
loops=1   # the 10-frame clip is played 1 + loops times
runs=3    # best of

[[ -x $bench ]] || { echo "no benchmark binary at $bench (build the qv_bench target)" >&2; exit 1; }
command -v ffmpeg > /dev/null || { echo "ffmpeg not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip=$work/noisy_1080p.y4m
ffmpeg -hide_banner -loglevel error -i "$root/samples/ladybird_640x360.y4m" \
    -vf "scale=1920:1080:flags=bicubic,noise=alls=12:allf=t" -pix_fmt yuv420p -strict -1 \
    -f yuv4mpegpipe "$clip"
frames=$(( $(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$clip") * (1 + loops) ))

# Best wall time in seconds of `ffmpeg ... -vf $2` on $1 threads.
ffmpeg_seconds() {
    local threads=$1 filter=$2 best="" t0 t1 t
    for _ in $(seq "$runs"); do
        t0=$(date +%s.%N)
        ffmpeg -hide_banner -loglevel error -threads "$threads" -filter_threads "$threads" \
            -stream_loop "$loops" -i "$clip" -vf "$filter" -f null -
        t1=$(date +%s.%N)
        t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
        if [[ -z $best ]] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    echo "$best"
}

# ms per frame of the pass on $1 worker threads (0: one per core).
ours_ms() {
    "$bench" --benchmark_filter="^BM_Denoise/$1/" --benchmark_repetitions="$runs" \
        --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null |
        grep -A30 '"aggregate_name": "median"' | grep -m1 '"ms/frame"' | sed 's/.*: *\([0-9.eE+-]*\).*/\1/'
}

report() {
    local label=$1 threads=$2 arg=$3
    local nl null ff ours
    nl=$(ffmpeg_seconds "$threads" "nlmeans=s=3:p=3:r=5")
    null=$(ffmpeg_seconds "$threads" "null")
    ff=$(awk -v a="$nl" -v b="$null" -v n="$frames" 'BEGIN { print (a - b) * 1000 / n }')
    ours=$(ours_ms "$arg")
    awk -v l="$label" -v f="$ff" -v o="$ours" 'BEGIN {
        printf "%-10s ffmpeg nlmeans %8.1f ms/frame   denoise pass %7.1f ms/frame   ratio %5.1fx\n", l, f, o, f / o }'
}

echo "1920x1080, $frames frames, $cores cores"
report "1 core" 1 1
report "$cores cores" "$cores" 0
