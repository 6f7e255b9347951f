#!/usr/bin/env bash
# The batch program's output files are never half written and never replace what the user
# had: when a file cannot be written it says so on standard error, exits with status 1 and
# leaves the previous files as they were; a blob file the model does not hold is kept
# aside before it is replaced. A blob file that cannot be read, or an output folder that
# cannot be written, is refused before any work; running out of memory has a status of
# its own and leaves every file intact.
#
#   tests/batch/FileSafety.sh BATCH_PROGRAM EXAMPLES_DIR
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh" batch-files
# The refusals below run in another folder: both paths from the root.
batch=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$2" && pwd)

run() {  # run NAME ARGS...: one run of the batch program, as batch_run
    local name=$1
    shift
    batch_run "$name" --seed 1 --quiet "$@"
}

# expect_file FILE TEXT: FILE holds exactly TEXT (plus the newline printf added).
expect_file() {
    [ "$(cat "$1" 2>/dev/null)" = "$2" ] || fail "$1 changed: $(head -c 200 "$1" 2>/dev/null)"
}

# expect_entries NAME DIR COUNT: DIR holds COUNT entries, nothing left beside them.
expect_entries() {
    [ "$(ls -A "$2" | wc -l)" -eq "$3" ] || fail "$1: left behind: $(ls -A "$2")"
}

# limited LIMIT NAME ARGS...: `run` under `ulimit LIMIT`, in a subshell that takes the limit
# with it. SIGXFSZ is ignored, so a write past a file size limit fails with EFBIG instead of
# killing the program.
limited() {
    local limit=$1
    shift
    # shellcheck disable=SC2086
    (trap '' XFSZ; ulimit $limit; run "$@"; exit "$status")
    status=$?
}

# previous_files DIR: a new folder holding the files of an earlier run.
previous_files() {
    mkdir "$1"
    printf 'previous floaters\n' >"$1/floaters.dat"
    printf 'previous blobs\n' >"$1/blobs.dat"
}
# kept_previous NAME DIR: the earlier run's files are as they were, with nothing beside.
kept_previous() {
    expect_file "$2/floaters.dat" "previous floaters"
    expect_file "$2/blobs.dat" "previous blobs"
    expect_entries "$1" "$2" 2
}

# 1. --out-dir names a regular file: nothing can be created there.
printf 'previous\n' >"$work/plain"
run plain --max-steps 20 --out-dir "$work/plain" "$examples/sphere.dat"
expect_status "out-dir through a file" 1
grep -q "floaters.dat" "$work/plain.err" || fail "out-dir through a file: no message naming the file"
expect_file "$work/plain" previous

# 2. A full disk, simulated by a file size limit of 1 kB: the previous floaters.dat and
#    blobs.dat stay, and no temporary is left.
previous_files "$work/full"
limited "-f 1" full --max-steps 20 --out-dir "$work/full" "$examples/sphere.dat"
expect_status "full disk" 1
grep -q "floaters.dat" "$work/full.err" || fail "full disk: no message naming the file"
kept_previous "full disk" "$work/full"

# 3. The blob file read is the one written: its radius-only second line stops the reader,
#    so it is kept as blobs.dat.unread, byte for byte, and blobs.dat gets the model held:
#    the two blobs read and the default blob added after the failed read.
mkdir "$work/keep"
printf '  10 0 0 0\n  20\n  30 5 5 5\n' >"$work/keep/blobs.dat"
original=$(cat "$work/keep/blobs.dat")
run keep --max-steps 5 --out-dir "$work/keep" "$work/keep/blobs.dat"
expect_status "keep aside (step limit)" 3
expect_file "$work/keep/blobs.dat.unread" "$original"
grep -q "^//   Blobs = 3$" "$work/keep/blobs.dat" || fail "keep aside: blobs.dat holds no 3-blob model"
#    The file written reads completely, so a second run replaces it without a new copy.
run keep2 --max-steps 5 --out-dir "$work/keep" "$work/keep/blobs.dat"
[ ! -e "$work/keep/blobs.dat.unread1" ] || fail "keep aside: a complete file was kept aside"
expect_file "$work/keep/blobs.dat.unread" "$original"

# 4. A mistyped or unreadable blob file is refused before any work with status 2, so a
#    folder's blobs.dat is never replaced by the default sphere.
# 5. Output folders that cannot be written are found before the first step: a run that
#    would take long ends at once with status 1.
#    Either says so in one line naming the file, and prints no summary.
mkdir "$work/typo"
cp "$examples/figure.dat" "$work/typo/blobs.dat"
figure=$(cat "$work/typo/blobs.dat")
mkdir "$work/typo/folder.dat"
long="--density 0.2 --max-steps 100000000"
# status, what the message names, the arguments (run in the folder typo)
while read -r want named args; do
    # shellcheck disable=SC2086
    (cd "$work/typo" && exec timeout 60 "$batch" --seed 1 --quiet $args \
        </dev/null >"$work/refused.out" 2>"$work/refused.err")
    status=$?
    expect_status "$args" "$want"
    [ "$(wc -l <"$work/refused.err")" -eq 1 ] || fail "$args: not one line: $(cat "$work/refused.err")"
    grep -q -- "$named" "$work/refused.err" || fail "$args: the message names no $named"
    [ ! -s "$work/refused.out" ] || fail "$args: a summary was printed"
done <<EOF
2 figure-typo.dat figure-typo.dat
2 folder.dat folder.dat
1 missing/ $long --out-dir $work/missing $examples/figure.dat
1 missing/ $long --no-files --mesh $work/missing/mesh.obj $examples/figure.dat
EOF
expect_file "$work/typo/blobs.dat" "$figure"
expect_entries "typo: files written" "$work/typo" 2

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
expect_entries together "$work/together" 2

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
    previous_files "$work/memory"
    limited "-v 200000" memory --max-steps 5 --out-dir "$work/memory" "$work/huge.dat"
    expect_status "out of memory" 5
    [ "$(cat "$work/memory.err")" = "dazirudo-batch: out of memory" ] ||
        fail "out of memory: said $(cat "$work/memory.err")"
    kept_previous "out of memory" "$work/memory"
else
    echo "out of memory: skipped (the program does not start under a memory limit)"
fi

finish "batch file safety"
