#!/bin/sh
# Times the AVI writer: clipsmith rewriting a capture of about 2 GB, side by
# side with `cp` of the same file on the same file system and with ffmpeg's
# stream copy into a new AVI file. Two captures are used:
#   dv         DV PAL video with 48 kHz PCM audio made by ffmpeg (144000-byte
#              frames; about 40000 chunks), the usual repair case;
#   synthetic  the low-bitrate capture of make_synthetic_avi.cpp (1-16 KB
#              frames, 640-byte audio chunks; 700000 chunks), where the
#              parse of every chunk header weighs most.
#
#   bench/run_writer_bench.sh [dv] [synthetic]      (default: both)
#
# Environment:
#   CLIPSMITH  the program to time (default: build/clipsmith of this tree)
#   WORK       where the files are written (default: /tmp/clipsmith-writer-bench);
#              everything is removed at the end unless KEEP=1
#   RUNS       rounds; in each round every command runs once, in turn, so
#              that they share the machine's conditions (default: 3)
#
# Each command is timed up to its exit (the data may still sit in the page
# cache) and up to the end of a following `sync` (the data is on the disk).
# The output file is removed and the file system synced before every timed
# command. The input is read once first, so it comes from the page cache.
# The tables show the best and the median of the rounds for each command.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
CLIPSMITH=${CLIPSMITH:-$ROOT/build/clipsmith}
WORK=${WORK:-/tmp/clipsmith-writer-bench}
RUNS=${RUNS:-3}
KEEP=${KEEP:-0}
INPUTS=${*:-dv synthetic}

[ -x "$CLIPSMITH" ] || { echo "no program at $CLIPSMITH (set CLIPSMITH)" >&2; exit 1; }
HAVE_FFMPEG=0
command -v ffmpeg > /dev/null 2>&1 && HAVE_FFMPEG=1
mkdir -p "$WORK"
OUTPUT=$WORK/output.avi

make_input() {
  case $1 in
    dv)
      [ "$HAVE_FFMPEG" = 1 ] || return 1
      # 8 s of DV (30 MB), repeated 69 times by a stream copy.
      ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=720x576:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t 8 \
        -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 "$WORK/dv8s.avi"
      ffmpeg -nostdin -v error -y -stream_loop 68 -i "$WORK/dv8s.avi" -c copy -map 0 "$2"
      rm -f "$WORK/dv8s.avi"
      ;;
    synthetic)
      g++ -O2 -std=c++17 -Wall -Wextra -o "$WORK/make_synthetic_avi" "$HERE/make_synthetic_avi.cpp"
      "$WORK/make_synthetic_avi" "$2" 700000 --idx1
      ;;
  esac
}

now() { date +%s.%N; }

# timed NAME COMMAND...: appends "NAME run sync" (seconds) to the results.
timed() {
  name=$1
  shift
  rm -f "$OUTPUT"
  sync
  start=$(now)
  "$@" > /dev/null 2>&1 || { echo "$name failed" >&2; exit 1; }
  ran=$(now)
  sync
  synced=$(now)
  echo "$name $(awk "BEGIN {printf \"%.3f %.3f\", $ran - $start, $synced - $start}")" >> "$RESULTS"
}

# column FIELD: best and median of that field of the rows in $WORK/rows.txt.
column() {
  sort -k"$1" -n "$WORK/rows.txt" | awk -v f="$1" '{v[NR] = $f} END {printf "%s | %s", v[1], v[int((NR + 1) / 2)]}'
}

for input in $INPUTS; do
  SOURCE=$WORK/$input.avi
  [ -f "$SOURCE" ] || make_input "$input" "$SOURCE" || { echo "skipped $input (needs ffmpeg)"; continue; }
  cat "$SOURCE" > /dev/null
  RESULTS=$WORK/results_$input.txt
  rm -f "$RESULTS"
  round=0
  while [ "$round" -lt "$RUNS" ]; do
    timed cp cp "$SOURCE" "$OUTPUT"
    timed clipsmith "$CLIPSMITH" -o -v0 "$SOURCE" "$OUTPUT"
    if [ "$HAVE_FFMPEG" = 1 ]; then
      timed ffmpeg ffmpeg -nostdin -v error -y -i "$SOURCE" -c copy -map 0 "$OUTPUT"
    fi
    # The parse alone, for reference: the writer's share is the difference.
    start=$(now)
    "$CLIPSMITH" -v0 "$SOURCE" > /dev/null 2>&1
    echo "parse-only $(awk "BEGIN {printf \"%.3f -\", $(now) - $start}")" >> "$RESULTS"
    round=$((round + 1))
  done
  rm -f "$OUTPUT"

  size=$(stat -c %s "$SOURCE")
  echo
  echo "Input '$input': $(awk "BEGIN {printf \"%.2f GB\", $size / 1e9}"), $RUNS rounds"
  echo
  echo "| command | best s | median s | best s incl. sync | median s incl. sync |"
  echo "|---|---:|---:|---:|---:|"
  for name in cp clipsmith ffmpeg parse-only; do
    grep "^$name " "$RESULTS" > "$WORK/rows.txt" || continue
    case $name in
      cp) label='`cp in.avi out.avi`' ;;
      clipsmith) label='`clipsmith -o -v0 in.avi out.avi`' ;;
      ffmpeg) label='`ffmpeg -i in.avi -c copy -map 0 out.avi`' ;;
      parse-only) label='`clipsmith -v0 in.avi` (parse only)' ;;
    esac
    if [ "$name" = parse-only ]; then
      echo "| $label | $(column 2) | - | - |"
    else
      echo "| $label | $(column 2) | $(column 3) |"
    fi
  done
  [ "$KEEP" = 1 ] || rm -f "$SOURCE"
done
rm -f "$WORK/rows.txt"
[ "$KEEP" = 1 ] || rm -rf "$WORK"
