#!/bin/sh
# Times the atom walk of a 1 GB MP4 file and of a fragmented MP4 of 10,000
# fragments against ffprobe counting their packets. Both are made by ffmpeg:
# the large one from a clip of noise repeated by a stream copy, the
# fragmented one with a fragment at every frame.
# Usage: bench/run_mov_bench.sh
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}

if [ ! -f "$WORK/big.mp4" ]; then
  ffmpeg -v error -f lavfi -i testsrc2=s=640x480:r=25 -t 10 -vf noise=alls=60:allf=t \
    -c:v mjpeg -q:v 2 -f mp4 "$WORK/clip.mp4"
  ffmpeg -v error -stream_loop 14 -i "$WORK/clip.mp4" -c copy -f mp4 "$WORK/big.mp4"
fi
[ -f "$WORK/frag.mp4" ] || ffmpeg -v error -f lavfi -i testsrc=s=160x120:r=25 -frames:v 10000 \
  -c:v mjpeg -movflags frag_keyframe+empty_moov -f mp4 "$WORK/frag.mp4"

. "$(dirname "$0")/timing.sh"

for f in big.mp4 frag.mp4; do
  echo "$f: $(($(stat -c %s "$WORK/$f") / 1000000)) MB," \
    "$("$CLIPSMITH" -v3 "$WORK/$f" 2>/dev/null | grep -c "(S:") atoms"
  echo "  clipsmith (defaults):    $(best "$CLIPSMITH" "$WORK/$f")"
  echo "  ffprobe -count_packets:  $(best ffprobe -v error -count_packets -show_streams "$WORK/$f")"
done
[ -n "${KEEP:-}" ] || rm -f "$WORK/clip.mp4" "$WORK/big.mp4" "$WORK/frag.mp4"
