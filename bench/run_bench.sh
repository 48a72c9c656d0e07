#!/bin/sh
# Times the 'movi' scan on synthetic captures of growing size and compares it
# with ffprobe reading the same files.
#
#   bench/run_bench.sh [CHUNK COUNTS...]        (default: 250000 1000000 4000000)
#
# Environment:
#   CLIPSMITH  the program to time (default: build/clipsmith of this tree)
#   WORK       where the files are written (default: /tmp/clipsmith-bench);
#              each file is removed after its row unless KEEP=1
#   RUNS       timed runs per command, the best is reported (default: 3)
#   GENFLAGS   options for the generator, e.g. "--idx1 --odml" for files with
#              an 'idx1' index and OpenDML indexes (default: none)
#
# Every command runs once untimed first, so that all rows read from the page
# cache. Peak memory is the maximum resident set size reported by
# /usr/bin/time -v. Output is a Markdown table on standard output.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
CLIPSMITH=${CLIPSMITH:-$ROOT/build/clipsmith}
WORK=${WORK:-/tmp/clipsmith-bench}
RUNS=${RUNS:-3}
KEEP=${KEEP:-0}
GENFLAGS=${GENFLAGS:-}
COUNTS=${*:-250000 1000000 4000000}

[ -x "$CLIPSMITH" ] || { echo "no program at $CLIPSMITH (set CLIPSMITH)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (package 'time')" >&2; exit 1; }
HAVE_FFPROBE=0
command -v ffprobe > /dev/null 2>&1 && HAVE_FFPROBE=1

mkdir -p "$WORK"
GENERATOR=$WORK/make_synthetic_avi
g++ -O2 -std=c++17 -Wall -Wextra -o "$GENERATOR" "$HERE/make_synthetic_avi.cpp"

# measure RUNS COMMAND...: the best wall time of RUNS runs, with the user
# and system time and the peak memory of that run: "wall user sys kb".
measure() {
  runs=$1
  shift
  "$@" > /dev/null 2>&1 || true
  best=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > /dev/null 2>&1 || true
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
             n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s }' "$WORK/time.txt")
    user=$(awk -F': ' '/User time/ {print $2}' "$WORK/time.txt")
    sys=$(awk -F': ' '/System time/ {print $2}' "$WORK/time.txt")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time.txt")
    if [ -z "$best" ] || awk "BEGIN {exit !($wall < $best)}"; then
      best=$wall
      result="$wall $user $sys $kb"
    fi
    i=$((i + 1))
  done
  echo "$result"
}

echo "| chunks | file | command | wall s | user s | sys s | peak MB | bytes/chunk |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|"
for n in $COUNTS; do
  # Files made with other options get other names, so a kept file is never
  # reused for the wrong options.
  suffix=$(echo "$GENFLAGS" | tr -d ' -')
  file=$WORK/synthetic_$n${suffix:+_$suffix}.avi
  # shellcheck disable=SC2086  # GENFLAGS holds several options
  [ -f "$file" ] || "$GENERATOR" "$file" "$n" $GENFLAGS
  size=$(stat -c %s "$file")
  sizeText=$(awk "BEGIN {printf \"%.1f GB\", $size / 1e9}")
  # row LABEL "wall user sys kb"
  row() {
    set -- "$1" $2
    awk -v n="$n" -v f="$sizeText" -v c="$1" -v w="$2" -v u="$3" -v s="$4" -v k="$5" 'BEGIN {
      printf "| %d | %s | %s | %.2f | %.2f | %.2f | %.1f | %.0f |\n", n, f, c, w, u, s, k / 1024, k * 1024 / n }'
  }
  row '`clipsmith -c -v0`' "$(measure "$RUNS" "$CLIPSMITH" -c -v0 "$file")"
  row '`clipsmith` (defaults)' "$(measure "$RUNS" "$CLIPSMITH" "$file")"
  if [ "$HAVE_FFPROBE" = 1 ]; then
    row '`ffprobe -count_packets`' "$(measure 1 ffprobe -v error -count_packets -show_streams "$file")"
  fi
  [ "$KEEP" = 1 ] || rm -f "$file"
done
rm -f "$WORK/time.txt"
