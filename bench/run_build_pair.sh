#!/bin/sh
# Times two builds of clipsmith side by side on one file: the scan alone
# (-c -v0), the full check (default options) and the writer (-o -v0 into a
# new file), the builds taking turns round by round so that both meet the
# same load. Used to show that a change of the code's shape costs no speed.
#
#   bench/run_build_pair.sh OLD_BINARY NEW_BINARY FILE.avi
#
# Environment:
#   RUNS  rounds (default 3); the best and the median wall time are reported
#   WORK  where the writer's output goes (default: the directory of FILE)
set -eu

[ $# -eq 3 ] || { echo "usage: $0 OLD_BINARY NEW_BINARY FILE.avi" >&2; exit 2; }
OLD=$1
NEW=$2
FILE=$3
RUNS=${RUNS:-3}
WORK=${WORK:-$(dirname "$FILE")}
OUT=$WORK/run_build_pair_out.avi

# seconds COMMAND...: the wall time of one run, in seconds.
seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk "BEGIN {printf \"%.3f\", $end - $start}"
}

# best_and_median TIMES...: "best median".
best_and_median() {
  printf '%s\n' "$@" | sort -n | awk '{t[NR] = $1} END {printf "%.3f %.3f", t[1], t[int((NR + 1) / 2)]}'
}

echo "| task | build | best s | median s |"
echo "|---|---|---:|---:|"
for task in scan check write; do
  old_times=""
  new_times=""
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    for build in old new; do
      exe=$OLD
      [ "$build" = new ] && exe=$NEW
      rm -f "$OUT"
      case $task in
        scan) t=$(seconds "$exe" -c -v0 "$FILE") ;;
        check) t=$(seconds "$exe" "$FILE") ;;
        write) t=$(seconds "$exe" -o -v0 "$FILE" "$OUT") ;;
      esac
      if [ "$build" = old ]; then old_times="$old_times $t"; else new_times="$new_times $t"; fi
    done
    i=$((i + 1))
  done
  # shellcheck disable=SC2086  # the lists are words on purpose
  set -- $(best_and_median $old_times)
  echo "| $task | old | $1 | $2 |"
  # shellcheck disable=SC2086
  set -- $(best_and_median $new_times)
  echo "| $task | new | $1 | $2 |"
done
rm -f "$OUT"
