#!/usr/bin/env bash
# compare_builds.sh - proves that two builds of clipsmith behave the same.
#
#   tests/compare_builds.sh OLD_COMMIT [NEW_BINARY]
#
# Builds clipsmith from OLD_COMMIT in a git worktree under a temporary
# directory (or takes OLD_BINARY from the environment), then runs the old and
# the new executable (NEW_BINARY, default build/clipsmith of this tree) on
# every input file with each option set below and compares, run by run:
# standard output and standard error (the elapsed time of the totals line
# left out), the exit status, and every file written (names and bytes).
#
# Inputs: every file under examples/ and tests/data/, plus every file the test
# suite builds (kept by running it with CLIPSMITH_SEED_DIR set); files over
# 8 MB are skipped. Both executables read the same copy of each input and write
# into the same directory, so paths in the reports are identical.
#
# Environment:
#   OLD_BINARY    an old executable already built: no worktree, no build
#   TESTS_BINARY  the test suite that builds the extra inputs
#                 (default: clipsmith_tests beside NEW_BINARY)
#   SEED_DIR      a directory of extra inputs to use instead of running the suite
#   KEEP=1        keep the scratch directory (inputs, old build) for a closer look
#   DIFF_LINES    lines of diff shown per difference (default 12)
#
# Exit status: 0 when every run is identical, 1 when any differs, 2 on setup
# errors.
set -u

REPORT_SETS=("-v0" "-v1" "-v2" "-v3" "-v4" "-v5" "-v6" "-c" "-xi")
WRITER_SETS=("" "-rx" "-sf1M" "-q1" "-q2" "-rx -xi" "-d")
MAX_SIZE=$((8 * 1024 * 1024))
DIFF_LINES=${DIFF_LINES:-12}

die() { echo "compare_builds: $*" >&2; exit 2; }

[ $# -ge 1 ] && [ $# -le 2 ] || die "usage: $0 OLD_COMMIT [NEW_BINARY]"
REPO=$(cd "$(dirname "$0")/.." && pwd) || die "cannot find the source tree"
OLD_COMMIT=$1
NEW=$(realpath -e "${2:-$REPO/build/clipsmith}") || die "no new executable ${2:-$REPO/build/clipsmith}"
TESTS_BINARY=${TESTS_BINARY:-$(dirname "$NEW")/clipsmith_tests}

if [ $# -eq 1 ]; then
  stale=$(find "$REPO/src" "$REPO/CMakeLists.txt" -newer "$NEW" -print -quit)
  [ -z "$stale" ] || echo "compare_builds: warning: $stale is newer than $NEW" >&2
fi

W=$(mktemp -d "${TMPDIR:-/tmp}/compare-builds.XXXXXX") || die "no scratch directory"
WORKTREE=
cleanup() {
  if [ "${KEEP:-}" = 1 ]; then echo "compare_builds: kept $W" >&2; return; fi
  [ -n "$WORKTREE" ] && git -C "$REPO" worktree remove --force "$WORKTREE" >/dev/null 2>&1
  rm -rf "$W"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# --- the old executable -----------------------------------------------------
if [ -n "${OLD_BINARY:-}" ]; then
  OLD=$(realpath -e "$OLD_BINARY") || die "no old executable $OLD_BINARY"
else
  WORKTREE=$W/old-src
  echo "compare_builds: building $OLD_COMMIT in $WORKTREE" >&2
  git -C "$REPO" worktree add --detach "$WORKTREE" "$OLD_COMMIT" >"$W/build.log" 2>&1 &&
    cmake -S "$WORKTREE" -B "$WORKTREE/build" -DCLIPSMITH_TESTS=OFF >>"$W/build.log" 2>&1 &&
    cmake --build "$WORKTREE/build" --target clipsmith -j2 >>"$W/build.log" 2>&1 ||
    { tail -n 20 "$W/build.log" >&2; die "building $OLD_COMMIT failed"; }
  OLD=$WORKTREE/build/clipsmith
fi

# --- the inputs, copied once so that both read the same path ----------------
mkdir -p "$W/in/examples" "$W/in/tests/data" "$W/in/seeds" "$W/old" "$W/new" "$W/run"
cp -R "$REPO/examples/." "$W/in/examples/" && cp -R "$REPO/tests/data/." "$W/in/tests/data/" ||
  die "cannot copy the inputs"
if [ -n "${SEED_DIR:-}" ]; then
  cp -R "$SEED_DIR/." "$W/in/seeds/" || die "cannot copy $SEED_DIR"
else
  [ -x "$TESTS_BINARY" ] || die "no test suite $TESTS_BINARY (set TESTS_BINARY, or SEED_DIR to a directory of inputs)"
  echo "compare_builds: running $TESTS_BINARY to collect the files it builds" >&2
  CLIPSMITH_SEED_DIR=$W/in/seeds "$TESTS_BINARY" >/dev/null 2>&1 </dev/null
fi

INPUTS=()
skipped=0
while IFS=$'\t' read -r -d '' size path; do
  if [ "$size" -gt "$MAX_SIZE" ]; then skipped=$((skipped + 1)); else INPUTS+=("$path"); fi
done < <(find "$W/in" -type f -printf '%s\t%p\0' | sort -z -t$'\t' -k2)
[ ${#INPUTS[@]} -gt 0 ] || die "no inputs found"

# --- the runs -----------------------------------------------------------------
# Both write into $W/run. The old run's files are moved to $W/old/files; the
# new run's stay where they are, seen as $W/new/files through a link.
mkdir "$W/old/files" && ln -s ../run "$W/new/files" || die "cannot set up $W"
shopt -s nullglob dotglob
export LC_ALL=C
cd "$W/run" || die "no run directory"

# run SIDE EXE ARGS...: keeps standard output, standard error and the exit
# status of one run in $W/SIDE.
run() {
  local side=$1 exe=$2
  shift 2
  timeout -k 5 20 "$exe" "$@" >"$W/$side/stdout" 2>"$W/$side/stderr" </dev/null
  echo $? >"$W/$side/status"
}

runs=0
diffs=0
: >"$W/diffs.txt"

# compare NAME OPTIONS ARGS...: one case, old then new.
compare() {
  local name=$1 options=$2 written
  shift 2
  run old "$OLD" "$@"
  written=("$W"/run/*)
  [ ${#written[@]} -eq 0 ] || mv -- "${written[@]}" "$W/old/files/" || die "cannot empty $W/run"
  run new "$NEW" "$@"
  runs=$((runs + 1))
  check "$name" "$options"
  written=("$W"/old/files/* "$W"/run/*)
  [ ${#written[@]} -eq 0 ] || rm -rf -- "${written[@]}"
}

# check NAME OPTIONS: compares the two runs kept in $W/old and $W/new.
check() {
  local hang='' side status
  for side in old new; do
    read -r status <"$W/$side/status"
    case $status in 124 | 137) hang="$hang $side" ;; esac
  done
  if [ -z "$hang" ] && diff -rq "$W/old" "$W/new" >/dev/null; then return; fi
  # Not byte-identical: leave out the elapsed time and look again.
  sed -i 's/\(Elapsed Time \[s\]: \).*$/\1<time>/' "$W"/old/std* "$W"/new/std*
  if [ -z "$hang" ] && diff -rq "$W/old" "$W/new" >/dev/null; then return; fi
  diffs=$((diffs + 1))
  {
    echo "--- ${1#"$W"/in/}  [$2]"
    [ -n "$hang" ] && echo "    timed out after 20 s:$hang"
    (cd "$W" && for f in old/files/*; do [ -f "new/${f#old/}" ] && cmp "$f" "new/${f#old/}"; done
      diff -r -U1 old new) 2>&1 |
      sed -E '/^(---|\+\+\+) (old|new)\/[^\t]*\t[0-9]{4}-/d' | head -n "$DIFF_LINES" | sed 's/^/    /'
  } >>"$W/diffs.txt"
}

seeds=("$W"/in/seeds/*)
echo "compare_builds: ${#INPUTS[@]} inputs (${#seeds[@]} built by the tests; $skipped over 8 MB skipped)" >&2
echo "compare_builds: old $OLD, new $NEW" >&2
start=$SECONDS
count=0
for input in "${INPUTS[@]}"; do
  count=$((count + 1))
  [ -t 2 ] && printf '\r[%d/%d] %s ' "$count" "${#INPUTS[@]}" "${input#"$W"/in/}" >&2
  for options in "${REPORT_SETS[@]}"; do
    # shellcheck disable=SC2086  # an option set is split into its options
    compare "$input" "$options" $options "$input"
  done
  for options in "${WRITER_SETS[@]}"; do
    # shellcheck disable=SC2086
    compare "$input" "-o${options:+ $options} out.avi" -o $options "$input" out.avi
  done
done
[ -t 2 ] && printf '\n' >&2

cat "$W/diffs.txt"
echo "Compared $runs runs on ${#INPUTS[@]} inputs in $((SECONDS - start)) s: $diffs differences."
[ "$diffs" -eq 0 ] && exit 0
exit 1
