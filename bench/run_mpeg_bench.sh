#!/bin/sh
# Times the extraction of the video PID of a large transport stream against
# cp of the same file, and the full dump of every packet against ffprobe
# counting them. The stream is made by ffmpeg: MPEG-2 video of noise (so that
# it stays large) and MP2 audio; 60 seconds make about 330 MB.
# Usage: bench/run_mpeg_bench.sh [seconds]
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}
SECONDS_OF_VIDEO=${1:-60}
file="$WORK/big.ts"

[ -f "$file" ] || ffmpeg -v error -f lavfi -i testsrc2=s=720x576:r=25 \
  -f lavfi -i sine=sample_rate=48000 -t "$SECONDS_OF_VIDEO" -vf noise=alls=40:allf=t \
  -c:v mpeg2video -q:v 2 -c:a mp2 -f mpegts "$file"

. "$(dirname "$0")/timing.sh"

packets=$(($(stat -c %s "$file") / 188))
echo "big.ts: $(($(stat -c %s "$file") / 1000000)) MB, $packets transport packets"
echo "cp:                            $(best cp "$file" "$WORK/out")"
echo "clipsmith -rs0x100 (extract):  $(best "$CLIPSMITH" -v0 -rs0x100 "$file" "$WORK/out")"
echo "clipsmith, every packet shown: $(best "$CLIPSMITH" -t4000000000 "$file")"
echo "ffprobe -count_packets:        $(best ffprobe -v error -count_packets -show_streams "$file")"
[ -n "${KEEP:-}" ] || rm -f "$file" "$WORK/out"
