#!/bin/sh
# Times the walk of a RealMedia file of about 110 MB (RealVideo 2 at 352x288 and AC-3,
# made by ffmpeg from a clip of noise repeated by a stream copy) with every
# packet listed (a trace limit above the packet count) against ffprobe
# counting its packets.
# Usage: bench/run_rmf_bench.sh
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}

if [ ! -f "$WORK/big.rm" ]; then
  ffmpeg -v error -f lavfi -i testsrc2=s=352x288:r=50 -f lavfi -i sine=r=48000 -t 25 \
    -vf noise=alls=20:allf=t -c:v rv20 -b:v 5M -maxrate 5M -bufsize 1M -c:a ac3 -b:a 192k -f rm "$WORK/clip.rm"
  ffmpeg -v error -stream_loop 7 -i "$WORK/clip.rm" -c copy -f rm "$WORK/big.rm"
fi

. "$(dirname "$0")/timing.sh"

packets=$("$CLIPSMITH" -v3 "$WORK/big.rm" 2>/dev/null | sed -n 's/.*NumPackets: //p' | tail -1)
echo "big.rm: $(($(stat -c %s "$WORK/big.rm") / 1000000)) MB, $packets packets"
echo "  clipsmith -tm$packets:  $(best "$CLIPSMITH" -tm"$packets" "$WORK/big.rm")"
echo "  clipsmith -tm$packets -v3: $(best "$CLIPSMITH" -tm"$packets" -v3 "$WORK/big.rm")"
echo "  ffprobe -count_packets: $(best ffprobe -v error -count_packets -show_streams "$WORK/big.rm")"
[ -n "${KEEP:-}" ] || rm -f "$WORK/clip.rm" "$WORK/big.rm"
