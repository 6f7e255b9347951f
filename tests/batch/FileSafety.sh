#!/usr/bin/env bash
# The batch program's output files are never half written and never replace what the user
# had: when a file cannot be written it says so on standard error, exits with status 1 and
# leaves the previous files as they were; a blob file it could not fully read is kept
# aside before it is replaced.
#
#   tests/batch/FileSafety.sh BATCH_PROGRAM EXAMPLES_DIR
set -u
batch=$1
examples=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/dazirudo-batch-files.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect_file FILE TEXT: FILE holds exactly TEXT (plus the newline printf added).
expect_file() {
    [ "$(cat "$1" 2>/dev/null)" = "$2" ] || fail "$1 changed: $(head -c 200 "$1" 2>/dev/null)"
}

run() {  # run NAME ARGS...: runs the batch program, output in $work/NAME.out and .err
    local name=$1
    shift
    "$batch" --seed 1 --quiet "$@" >"$work/$name.out" 2>"$work/$name.err"
}

# 1. --out-dir names a regular file: nothing can be created there.
printf 'previous\n' >"$work/plain"
run plain --max-steps 20 --out-dir "$work/plain" "$examples/sphere.dat"
status=$?
[ "$status" -eq 1 ] || fail "out-dir through a file: status $status, not 1"
grep -q "floaters.dat" "$work/plain.err" || fail "out-dir through a file: no message naming the file"
expect_file "$work/plain" previous

# 2. A full disk, simulated by a file size limit of 1 kB (SIGXFSZ ignored, so writes fail
#    with EFBIG): the previous floaters.dat and blobs.dat stay, and no temporary is left.
mkdir "$work/full"
printf 'previous floaters\n' >"$work/full/floaters.dat"
printf 'previous blobs\n' >"$work/full/blobs.dat"
(
    trap '' XFSZ
    ulimit -f 1
    run full --max-steps 20 --out-dir "$work/full" "$examples/sphere.dat"
)
status=$?
[ "$status" -eq 1 ] || fail "full disk: status $status, not 1"
grep -q "floaters.dat" "$work/full.err" || fail "full disk: no message naming the file"
expect_file "$work/full/floaters.dat" "previous floaters"
expect_file "$work/full/blobs.dat" "previous blobs"
[ "$(ls -A "$work/full" | wc -l)" -eq 2 ] || fail "full disk: left behind: $(ls -A "$work/full")"

# 3. The blob file read is the one written: its radius-only second line stops the reader,
#    so it is kept as blobs.dat.unread, byte for byte, and blobs.dat gets the model held:
#    the two blobs read and the default blob added after the failed read.
mkdir "$work/keep"
printf '  10 0 0 0\n  20\n  30 5 5 5\n' >"$work/keep/blobs.dat"
original=$(cat "$work/keep/blobs.dat")
run keep --max-steps 5 --out-dir "$work/keep" "$work/keep/blobs.dat"
status=$?
[ "$status" -eq 3 ] || fail "keep aside: status $status, not 3 (step limit)"
expect_file "$work/keep/blobs.dat.unread" "$original"
grep -q "^//   Blobs = 3$" "$work/keep/blobs.dat" || fail "keep aside: blobs.dat holds no 3-blob model"
#    The file written reads completely, so a second run replaces it without a new copy.
run keep2 --max-steps 5 --out-dir "$work/keep" "$work/keep/blobs.dat"
[ ! -e "$work/keep/blobs.dat.unread1" ] || fail "keep aside: a complete file was kept aside"
expect_file "$work/keep/blobs.dat.unread" "$original"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "batch file safety: all checks passed"
