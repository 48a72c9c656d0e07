#!/usr/bin/env bash
# Rebuilds examples/sample.avi: two seconds of a 160x120 test pattern as
# Motion-JPEG at 25 fps with a 440 Hz mono PCM tone at 11025 Hz, small enough
# to keep in the repository (under 200 KB).
set -euo pipefail
cd "$(dirname "$0")"
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i testsrc=size=160x120:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=11025 \
  -t 2 -c:v mjpeg -q:v 31 -c:a pcm_s16le -ac 1 sample.avi
