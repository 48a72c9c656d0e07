#!/bin/sh
# Times the report on a 1 GiB WAVE and a 1 GiB AIFF file against ffprobe.
# The sample data are holes of a sparse file: the walk skips them, so its time
# must not grow with their size. Usage: bench/run_wave_bench.sh [GiB]
set -eu
CLIPSMITH=${CLIPSMITH:-build/clipsmith}
WORK=${WORK:-$(mktemp -d)}
RUNS=${RUNS:-5}
GIB=${1:-1}
data=$((GIB * 1073741824))

le32() { printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
  $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
be32() { printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) \
  $(($1 >> 8 & 255)) $(($1 & 255)))"; }

# 48 kHz stereo 16-bit PCM.
{ printf RIFF; le32 $((data + 36)); printf 'WAVEfmt '; le32 16
  printf '\001\000\002\000\200\273\000\000\000\356\002\000\004\000\020\000'
  printf data; le32 $data; } > "$WORK/big.wav"
truncate -s $((data + 44)) "$WORK/big.wav"
# The same as AIFF: COMM with an 80-bit rate of 48000, then SSND.
{ printf FORM; be32 $((data + 46)); printf AIFFCOMM; be32 18
  printf '\000\002'; be32 $((data / 4)); printf '\000\020\100\016\273\200\000\000\000\000\000\000'
  printf SSND; be32 $((data + 8)); be32 0; be32 0; } > "$WORK/big.aiff"
truncate -s $((data + 54)) "$WORK/big.aiff"

. "$(dirname "$0")/timing.sh"

for f in big.wav big.aiff; do
  echo "$f ($GIB GiB): clipsmith $(best "$CLIPSMITH" -v3 "$WORK/$f")," \
    "ffprobe -show_streams $(best ffprobe -v error -show_streams "$WORK/$f")"
done
[ -n "${KEEP:-}" ] || rm -f "$WORK/big.wav" "$WORK/big.aiff"
