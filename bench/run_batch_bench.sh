#!/bin/sh
# Times a batch of 200 files of every format (10 files of 10 minutes made by
# ffmpeg, each linked 20 times under other names) run one after another (-j1) and two at
# a time (-j2), as text and as JSON, output to /dev/null.
# Usage: bench/run_batch_bench.sh
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}

if [ ! -d "$WORK/batch" ]; then
  mkdir -p "$WORK/src" "$WORK/batch"
  clip="ffmpeg -nostdin -v error -f lavfi -i testsrc2=s=160x120:r=25 -f lavfi -i sine=r=44100 -t 600"
  n=0
  for recipe in "-c:v mjpeg -q:v 8 -c:a pcm_s16le a.avi" "-c:v mpeg4 -c:a libmp3lame b.avi" \
    "-c:v mpeg4 -c:a pcm_s16le -f mov c.mov" "-c:v libx264 -preset ultrafast -c:a aac d.mp4" \
    "-c:v mpeg2video -c:a mp2 -f vob e.mpg" "-c:v mpeg2video -c:a mp2 f.ts" \
    "-c:v wmv2 -c:a wmav2 g.wmv" "-c:v rv20 -c:a ac3 h.rm" "-vn -c:a pcm_s16le i.wav" \
    "-vn -c:a pcm_s16be j.aiff"; do
    out=${recipe##* }
    $clip ${recipe% *} "$WORK/src/$out" || true
  done
  for f in "$WORK"/src/*; do
    for i in $(seq 1 20); do
      n=$((n + 1))
      ln "$f" "$WORK/batch/$(printf %03d $n)_$(basename "$f")"
      [ "$n" -lt 200 ] || break 2
    done
  done
fi

. "$(dirname "$0")/timing.sh"

echo "batch: $(ls "$WORK/batch" | wc -l) files, $(du -shL "$WORK/src" | cut -f1) of sources"
for mode in "" "-e"; do
  one=$(best "$CLIPSMITH" $mode -j1 "$WORK/batch/*")
  two=$(best "$CLIPSMITH" $mode -j2 "$WORK/batch/*")
  echo "  clipsmith $mode -j1: $one"
  echo "  clipsmith $mode -j2: $two"
  echo "  speed-up: $(echo "${one%% ms*} ${two%% ms*}" | awk '{printf "%.2f", $1 / $2}')"
done
[ -n "${KEEP:-}" ] || rm -rf "$WORK/src" "$WORK/batch"
