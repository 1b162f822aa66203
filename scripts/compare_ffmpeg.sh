#!/usr/bin/env bash
# Times the command-line host against ffmpeg's nearest equivalent of the filter's default chain
# (non-local means, spline36 resize, 7x7 unsharp mask) on the same noisy clips, both without an
# encoder, and prints milliseconds per frame and the ratio ffmpeg / host.
#
# The clips are made from the sample clip: scaled to 1920x1080 and to 1280x720 and given
# temporal noise, 30 frames each (the sample is looped). Both are filtered to 1920x1080 at the
# filter's default strengths.
#
# Environment:
#   QV_BUILD        build folder holding quillervantis and Quillervantis.auf (build/release)
#   QV_FRAMES       frames per clip (30)
#   QV_COMPARE_DIR  where the clips are kept between runs (a temporary folder)
#   QV_RUNS         timed runs of each side; the fastest counts (3)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QV_BUILD:-build/release}
frames=${QV_FRAMES:-30}
runs=${QV_RUNS:-3}
host="$build/quillervantis"
if [[ ! -x "$host" ]]; then
  echo "compare_ffmpeg: $host is missing; build the quillervantis and quillervantis_module targets first" >&2
  exit 1
fi
command -v ffmpeg >/dev/null || { echo "compare_ffmpeg: ffmpeg is not installed" >&2; exit 1; }

workdir=${QV_COMPARE_DIR:-}
if [[ -z "$workdir" ]]; then
  workdir=$(mktemp -d)
  trap 'rm -rf "$workdir"' EXIT
fi
mkdir -p "$workdir"

# zimg's spline36 is ffmpeg's closest match to the filter's resampler; a build without zscale
# falls back to swscale's spline.
filters=$(ffmpeg -hide_banner -filters 2>/dev/null || true)
if grep -qw zscale <<<"$filters"; then
  resize="zscale=w=1920:h=1080:filter=spline36"
else
  resize="scale=w=1920:h=1080:flags=spline"
  echo "compare_ffmpeg: this ffmpeg has no zscale; using $resize instead" >&2
fi
peer_chain="nlmeans=s=3:p=3:r=5,$resize,unsharp=lx=7:ly=7:la=1.0"

make_clip() {  # width height file
  local file="$workdir/$3"
  [[ -s "$file" ]] && return
  ffmpeg -v error -y -stream_loop -1 -i samples/ladybird_640x360.y4m -frames:v "$frames" \
    -vf "scale=$1:$2:flags=bicubic,noise=alls=10:allf=t" -pix_fmt yuv420p -f yuv4mpegpipe "$file"
}

now() { date +%s.%N; }

# Seconds one run of a command takes.
seconds() {
  local t0 t1
  t0=$(now)
  "$@" >/dev/null
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}

# The smaller of two times ("" counts as none yet).
smaller() { if [[ -z "$1" ]] || (($(echo "$2 < $1" | bc -l))); then echo "$2"; else echo "$1"; fi; }

run_host() { "$host" -q --width 1920 --height 1080 "$1" -; }
run_peer() { ffmpeg -v error -nostdin -i "$1" -vf "$peer_chain" -threads 2 -filter_threads 2 -f null -; }

ms_per_frame() { echo "scale=1; 1000 * $1 / $frames" | bc -l; }

echo "machine: $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "peer: ffmpeg -vf $peer_chain -threads 2 -filter_threads 2 -f null"
echo "host: $host -q --width 1920 --height 1080 (default strengths) to a y4m stream"
printf '%-22s %12s %12s %8s\n' "clip -> 1920x1080" "host ms/fr" "ffmpeg ms/fr" "ratio"
for size in 1920x1080 1280x720; do
  w=${size%x*}
  h=${size#*x}
  clip="noisy_${size}.y4m"
  make_clip "$w" "$h" "$clip"
  # The two sides take turns, so that both meet the machine in the same state; the fastest of
  # each side's runs counts.
  host_s="" peer_s=""
  for ((i = 0; i < runs; ++i)); do
    host_s=$(smaller "$host_s" "$(seconds run_host "$workdir/$clip")")
    peer_s=$(smaller "$peer_s" "$(seconds run_peer "$workdir/$clip")")
  done
  ratio=$(echo "scale=2; $peer_s / $host_s" | bc -l)
  printf '%-22s %12s %12s %7sx\n' "$size ($frames frames)" "$(ms_per_frame "$host_s")" "$(ms_per_frame "$peer_s")" "$ratio"
done
