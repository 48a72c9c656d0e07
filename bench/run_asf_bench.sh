#!/bin/sh
# Times the walk of every data packet of a large ASF file against ffprobe
# counting its packets. The file is made by ffmpeg: WMV2 video of noise (so
# that frames stay large) and WMA audio; 30 seconds make about 370 MB.
# Usage: bench/run_asf_bench.sh [seconds]
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}
SECONDS_OF_VIDEO=${1:-30}
file="$WORK/big.asf"

[ -f "$file" ] || ffmpeg -v error -f lavfi -i testsrc2=s=640x480:r=25 \
  -f lavfi -i sine=sample_rate=44100 -t "$SECONDS_OF_VIDEO" -vf noise=alls=60:allf=t \
  -c:v wmv2 -q:v 2 -c:a wmav2 -b:a 128k "$file"

. "$(dirname "$0")/timing.sh"

packets=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 \
  "$file" | paste -sd+ | bc)
"$CLIPSMITH" -t4000000000 "$file" >"$WORK/report" 2>/dev/null
echo "big.asf: $(($(stat -c %s "$file") / 1000000)) MB, $packets media packets in" \
  "$(grep -o 'TotalDataPackets: [0-9]*' "$WORK/report" | cut -d' ' -f2) data packets," \
  "$(wc -l <"$WORK/report") report lines with every data packet"
rm -f "$WORK/report"
echo "clipsmith, every data packet: $(best "$CLIPSMITH" -t4000000000 "$file")"
echo "clipsmith, default trace:     $(best "$CLIPSMITH" "$file")"
echo "ffprobe -count_packets:       $(best ffprobe -v error -count_packets -show_streams "$file")"
[ -n "${KEEP:-}" ] || rm -f "$file"
