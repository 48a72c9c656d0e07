#!/bin/sh
# Recreates the RIFF sample files of the tests. Needs ffmpeg.
# The bitexact flags keep the encoder's version text out of the file, so the
# bytes do not change from one ffmpeg release to the next.
set -e
cd "$(dirname "$0")"

# 0.1 s of a 440 Hz sine, 8 kHz mono 16-bit PCM, with an INFO list holding
# the title "Hello" (an INAM chunk).
ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=duration=0.1:sample_rate=8000 \
  -metadata title=Hello -ac 1 -fflags +bitexact -flags:a +bitexact sine_title.wav
