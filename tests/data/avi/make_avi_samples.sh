#!/bin/sh
# Recreates the AVI sample files of the tests. Needs ffmpeg.
# Every file is kept small (well under 200 KB): tiny frame sizes, short
# durations, and a single frame where a codec has a fixed large frame (DV).
# The bitexact flags keep the encoder's version text out of the files.
set -e
cd "$(dirname "$0")"

FF="ffmpeg -hide_banner -loglevel error -y"
EXACT="-fflags +bitexact -flags +bitexact"

# MPEG-4 part 2 video 160x120 at 25 fps for 1 s, MP3 audio 44100 Hz mono.
$FF -f lavfi -i testsrc=size=160x120:rate=25:duration=1 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 \
  -c:v mpeg4 -q:v 12 -c:a libmp3lame -b:a 32k -ac 1 $EXACT mpeg4_mp3.avi

# Motion JPEG 160x120 at 10 fps for 0.5 s, PCM 8000 Hz mono 16-bit.
$FF -f lavfi -i testsrc=size=160x120:rate=10:duration=0.5 \
  -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.5 \
  -c:v mjpeg -q:v 10 -pix_fmt yuvj420p -c:a pcm_s16le -ac 1 $EXACT mjpeg_pcm.avi

# DV PAL 720x576 at 25 fps, one frame (144000 bytes), PCM 48000 Hz stereo.
$FF -f lavfi -i testsrc=size=720x576:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.04 \
  -frames:v 1 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 $EXACT dv_pal.avi

# DV NTSC 720x480 at 29.97 fps, one frame (120000 bytes), PCM 48000 Hz stereo.
$FF -f lavfi -i testsrc=size=720x480:rate=30000/1001 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.033 \
  -frames:v 1 -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 $EXACT dv_ntsc.avi

# Uncompressed 24-bit video 32x32 at 5 fps, 5 frames, no audio.
$FF -f lavfi -i testsrc=size=32x32:rate=5 -frames:v 5 \
  -c:v rawvideo -pix_fmt bgr24 -an $EXACT rawvideo.avi

# Audio only: PCM 11025 Hz mono 16-bit for 0.5 s.
$FF -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.5 \
  -c:a pcm_s16le -ac 1 $EXACT audio_only.avi

# MPEG-4 video 64x48 at 10 fps for 0.5 s with two audio streams:
# PCM 8000 Hz mono 8-bit and PCM 22050 Hz stereo 16-bit.
$FF -f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 \
  -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.5 \
  -f lavfi -i sine=frequency=880:sample_rate=22050:duration=0.5 \
  -map 0:v -map 1:a -map 2:a -c:v mpeg4 -q:v 12 \
  -c:a:0 pcm_u8 -ac:a:0 1 -c:a:1 pcm_s16le -ac:a:1 2 $EXACT two_audio.avi

# MS MPEG-4 v2 video 160x120 at 15 fps for 0.5 s, MS ADPCM 22050 Hz mono.
$FF -f lavfi -i testsrc=size=160x120:rate=15:duration=0.5 \
  -f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.5 \
  -c:v msmpeg4v2 -q:v 12 -c:a adpcm_ms -ac 1 $EXACT msmpeg4v2_adpcm.avi

# 8-bit palette video 32x32 at 5 fps, 5 frames, a palette of its own for
# each frame (so a palette change chunk '00pc' before every frame but the
# first), no audio.
$FF -f lavfi -i testsrc=size=32x32:rate=5 -frames:v 5 \
  -filter_complex "split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1" \
  -c:v rawvideo -pix_fmt pal8 -an $EXACT pal8.avi
