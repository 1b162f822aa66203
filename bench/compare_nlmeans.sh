#!/usr/bin/env bash
# Times ffmpeg's non-local-means filter against the denoise pass (p1) on the same frame size and
# the same cores, and prints the ratio. Both filter with 3x3 patches over a 5x5 search window
# (ffmpeg: nlmeans=s=3:p=3:r=5). The clip is the sample clip enlarged to 1920x1080 with noise
# added. ffmpeg's time per frame is that of the nlmeans run less that of a pass-through run over
# the same clip (reading and decoding); ours is the qv_bench figure for the pass at 1920x1080.
# ffmpeg filters all three planes of its 4:2:0 frame (1.5 times the luma samples); the pass
# filters the luma. On one core the processor time is compared too, which other load on the
# machine disturbs less than the elapsed time.
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

# "elapsed processor" seconds of `ffmpeg ... -vf $2` on $1 threads, each the best of the runs.
ffmpeg_seconds() {
    local threads=$1 filter=$2
    for _ in $(seq "$runs"); do
        ffmpeg -hide_banner -nostats -benchmark -threads "$threads" -filter_threads "$threads" \
            -stream_loop "$loops" -i "$clip" -vf "$filter" -f null - 2>&1 | grep 'bench: utime'
    done | sed 's/.*utime=\([0-9.]*\)s stime=\([0-9.]*\)s rtime=\([0-9.]*\)s.*/\3 \1 \2/' |
        awk 'NR == 1 || $1 < r { r = $1 } NR == 1 || $2 + $3 < c { c = $2 + $3 } END { print r, c }'
}

# "elapsed processor" ms per frame of the pass on $1 worker threads (0: one per core), medians.
ours_ms() {
    "$bench" --benchmark_filter="^BM_Denoise/$1/" --benchmark_repetitions="$runs" \
        --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null |
        awk '/"aggregate_name": "median"/ { m = 1 } m && /"real_time"/ { gsub(/[,]/, ""); r = $2 }
             m && /"cpu_time"/ { gsub(/[,]/, ""); c = $2; m = 0 } END { print r, c }'
}

report() {
    local label=$1 threads=$2 arg=$3 withCpu=$4
    local nl null ours
    nl=$(ffmpeg_seconds "$threads" "nlmeans=s=3:p=3:r=5")
    null=$(ffmpeg_seconds "$threads" "null")
    ours=$(ours_ms "$arg")
    awk -v l="$label" -v nl="$nl" -v null="$null" -v ours="$ours" -v n="$frames" -v cpu="$withCpu" 'BEGIN {
        split(nl, a, " "); split(null, b, " "); split(ours, o, " ")
        f = (a[1] - b[1]) * 1000 / n; fc = (a[2] - b[2]) * 1000 / n
        printf "%-9s ffmpeg nlmeans %7.1f ms/frame   denoise pass %6.1f ms/frame   ratio %4.1fx\n", l, f, o[1], f / o[1]
        if (cpu) printf "%-9s ffmpeg nlmeans %7.1f ms cpu     denoise pass %6.1f ms cpu     ratio %4.1fx\n", "", fc, o[2], fc / o[2] }'
}

echo "1920x1080, $frames frames, $cores cores"
report "1 core" 1 1 1
report "$cores cores" "$cores" 0 0
