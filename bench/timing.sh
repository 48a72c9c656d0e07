# Sourced by the benchmark scripts: `best CMD...` runs the command RUNS times
# (output discarded; $WORK/out removed before each run, for commands that
# write it) and prints the best wall time in ms and the peak memory of the
# last run.
best() {
  b=
  for _ in $(seq "$RUNS"); do
    rm -f "$WORK/out"
    s=$(date +%s%N)
    /usr/bin/time -f %M -o "$WORK/mem" "$@" >/dev/null 2>&1 || true
    e=$(date +%s%N)
    t=$(((e - s) / 1000000)); [ -z "$b" ] || [ "$t" -lt "$b" ] && b=$t
  done
  echo "$b ms, $(($(cat "$WORK/mem") / 1024)) MB"
}
