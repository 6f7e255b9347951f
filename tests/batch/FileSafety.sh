#!/usr/bin/env bash
# The batch program's output files are never half written and never replace what the user
# had: when a file cannot be written it says so on standard error, exits with status 1 and
# leaves the previous files as they were; a blob file the model does not hold is kept
# aside before it is replaced. A blob file that cannot be read, or an output folder that
# cannot be written, is refused before any work; running out of memory has a status of
# its own and leaves every file intact.
#
#   tests/batch/FileSafety.sh BATCH_PROGRAM EXAMPLES_DIR
set -u
batch=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")  # the runs below change folder
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

# one_line NAME: the run's standard error is exactly one line.
one_line() {
    [ "$(wc -l <"$work/$1.err")" -eq 1 ] || fail "$1: not one line: $(cat "$work/$1.err")"
}

# 4. A mistyped or unreadable blob file is refused before any work (status 2, one line),
#    so a folder's blobs.dat is never replaced by the default sphere.
mkdir "$work/typo"
cp "$examples/figure.dat" "$work/typo/blobs.dat"
figure=$(cat "$work/typo/blobs.dat")
mkdir "$work/typo/folder.dat"
for name in figure-typo.dat folder.dat; do
    (cd "$work/typo" && "$batch" --seed 1 --quiet "$name" >"$work/typo-$name.out" 2>"$work/typo-$name.err")
    status=$?
    [ "$status" -eq 2 ] || fail "$name: status $status, not 2"
    one_line "typo-$name"
    grep -q "$name" "$work/typo-$name.err" || fail "$name: the message names no file"
    [ ! -s "$work/typo-$name.out" ] || fail "$name: a summary was printed"
done
expect_file "$work/typo/blobs.dat" "$figure"
[ "$(ls -A "$work/typo" | wc -l)" -eq 2 ] || fail "typo: files written: $(ls -A "$work/typo")"

# 5. Output folders that cannot be written are found before the first step: a run that
#    would take long ends at once with status 1, one line and no summary.
for case in "--out-dir $work/missing" "--no-files --mesh $work/missing/mesh.obj"; do
    # shellcheck disable=SC2086
    timeout 60 "$batch" --seed 1 --quiet --density 0.2 --max-steps 100000000 $case \
        "$examples/figure.dat" >"$work/early.out" 2>"$work/early.err"
    status=$?
    [ "$status" -eq 1 ] || fail "$case: status $status, not 1"
    one_line early
    grep -q "missing/" "$work/early.err" || fail "$case: the message names no file"
    [ ! -s "$work/early.out" ] || fail "$case: the simulation ran"
done

# 6. Runs writing one folder at the same time: every run succeeds and every file is whole
#    (as many floater lines as its header says, nothing else), with nothing left beside.
mkdir "$work/together"
for round in $(seq 25); do
    pids=()
    for seed in 1 2 3 4; do
        "$batch" --seed "$seed" --quiet --max-steps 3 --out-dir "$work/together" \
            "$examples/two-blobs.dat" >/dev/null 2>"$work/together-$seed.err" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid"
        status=$?
        [ "$status" -eq 3 ] || fail "round $round: a run ended with status $status: $(cat "$work"/together-*.err)"
    done
done
floaters=$(sed -n 's|^//   Floaters = ||p' "$work/together/floaters.dat")
lines=$(grep -c '^  ' "$work/together/floaters.dat")
[ "$floaters" = "$lines" ] || fail "together: header says $floaters floaters, file holds $lines lines"
[ "$(tr -d -c '\000' <"$work/together/floaters.dat" | wc -c)" -eq 0 ] || fail "together: zero bytes"
[ "$(ls -A "$work/together" | wc -l)" -eq 2 ] || fail "together: left behind: $(ls -A "$work/together")"

# 7. A blobs.dat in the output folder that holds another model is kept aside, and said so.
mkdir "$work/other"
cp "$examples/figure.dat" "$work/other/blobs.dat"
run other --max-steps 2 --out-dir "$work/other" "$examples/sphere.dat"
expect_file "$work/other/blobs.dat.unread" "$figure"
grep -q "blobs.dat is not the file the model was read from; it is kept as .*blobs.dat.unread" \
    "$work/other.err" || fail "other: no notice: $(cat "$work/other.err")"

# 8. A model of 340,000 blobs would seed over two million floaters: seeding stops at the
#    ceiling and says so. With too little memory for it, the run ends with status 5 and one
#    line, and the files in the output folder stay as they were.
awk 'BEGIN { for (i = 0; i < 340000; i++) printf "  10 %d %d %d\n", i % 100 * 30, int(i / 100) % 100 * 30, int(i / 10000) * 30 }' >"$work/huge.dat"
run ceiling --max-steps 0 --no-files "$work/huge.dat"
grep -q "^dazirudo-batch: no sample: the model's 340000 blobs need more seed floaters than the ceiling of 2000000$" \
    "$work/ceiling.err" || fail "ceiling: no message: $(cat "$work/ceiling.err")"
grep -q '"outcome": "ceiling"' "$work/ceiling.out" || fail "ceiling: $(cat "$work/ceiling.out")"
if (ulimit -v 200000 && "$batch" --help >/dev/null 2>&1); then
    mkdir "$work/memory"
    printf 'previous floaters\n' >"$work/memory/floaters.dat"
    printf 'previous blobs\n' >"$work/memory/blobs.dat"
    (
        ulimit -v 200000
        run memory --max-steps 5 --out-dir "$work/memory" "$work/huge.dat"
    )
    status=$?
    [ "$status" -eq 5 ] || fail "out of memory: status $status, not 5"
    [ "$(cat "$work/memory.err")" = "dazirudo-batch: out of memory" ] ||
        fail "out of memory: said $(cat "$work/memory.err")"
    expect_file "$work/memory/floaters.dat" "previous floaters"
    expect_file "$work/memory/blobs.dat" "previous blobs"
    [ "$(ls -A "$work/memory" | wc -l)" -eq 2 ] || fail "out of memory: left behind: $(ls -A "$work/memory")"
else
    echo "out of memory: skipped (the program does not start under a memory limit)"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "batch file safety: all checks passed"
