#!/bin/sh
# Recreates the DV samples of the tests. Needs ffmpeg and dd.
#
# A DV frame is 120000 or 144000 bytes, almost all of it video. The samples
# keep only what the tests read: from every DIF sequence of every frame the
# header, subcode and VAUX blocks (blocks 0-5) and the nine audio blocks
# (blocks 6, 22, ..., 134), 15 blocks of 80 bytes, in that order. The tests
# put the video blocks back as empty blocks. Each name.difs comes with
# name.pcm: the audio of the complete DV file as ffmpeg decodes it, 16-bit
# little-endian stereo, to be matched sample for sample.
#
# The two channels carry different tones (1000 Hz and 1500 Hz), so a swap of
# channels shows.
set -e
cd "$(dirname "$0")"

FF="ffmpeg -hide_banner -loglevel error -y"
EXACT="-fflags +bitexact -flags +bitexact"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

tones() {
  echo "aevalsrc=0.5*sin(1000*2*PI*t)|0.3*sin(1500*2*PI*t):s=$1"
}

# strip <dv file> <frame size> <output>
strip() {
  sequences=$(($2 / 12000))
  frames=$(($(wc -c < "$1") / $2))
  : > "$3"
  f=0
  while [ $f -lt $frames ]; do
    s=0
    while [ $s -lt $sequences ]; do
      base=$((f * $2 / 80 + s * 150))
      dd if="$1" bs=80 skip=$base count=6 status=none >> "$3"
      i=0
      while [ $i -lt 9 ]; do
        dd if="$1" bs=80 skip=$((base + 6 + 16 * i)) count=1 status=none >> "$3"
        i=$((i + 1))
      done
      s=$((s + 1))
    done
    f=$((f + 1))
  done
}

# sample <name> <frame size> <ffmpeg arguments...>
sample() {
  name=$1
  size=$2
  shift 2
  $FF "$@" -c:v dvvideo -c:a pcm_s16le -ac 2 $EXACT -f dv "$TMP/$name.dv"
  $FF -i "$TMP/$name.dv" -map 0:a -c:a pcm_s16le -ac 2 -f s16le "$name.pcm"
  strip "$TMP/$name.dv" "$size" "$name.difs"
}

# 625/50, 48 kHz, 4:3, two frames, with a time code and a recording date.
sample pal_48k 144000 -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "$(tones 48000)" \
  -t 0.08 -pix_fmt yuv420p -timecode 01:02:03:04 -metadata creation_time=2023-05-17T10:11:12Z

# 625/50, 44.1 kHz, 16:9, one frame.
sample pal_44k 144000 -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "$(tones 44100)" \
  -t 0.04 -pix_fmt yuv420p -aspect 16:9

# 625/50, 32 kHz, one frame.
sample pal_32k 144000 -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "$(tones 32000)" \
  -t 0.04 -pix_fmt yuv420p

# 525/60, 48 kHz, five frames: 1600 and 1602 samples per frame, 8008 in all.
sample ntsc_48k 120000 -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i "$(tones 48000)" \
  -t 0.2 -pix_fmt yuv411p
