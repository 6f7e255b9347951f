#!/usr/bin/env bash
# The batch program never fails silently: a run without a stable sample says why on
# standard error, exits with status 3 and names its outcome in the summary; a run that
# settles says nothing there and reports "stable".
#
#   tests/batch/Outcome.sh BATCH_PROGRAM EXAMPLES_DIR
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh" batch-outcome
batch=$1
examples=$2

# expect NAME STATUS OUTCOME STDERR_PATTERN ARGS...: one run and what it must give.
expect() {
    local name=$1 wanted=$2 outcome=$3 said=$4
    shift 4
    batch_run "$name" --seed 1 --quiet --no-files "$@"
    expect_status "$name" "$wanted"
    grep -q "\"outcome\": \"$outcome\"" "$work/$name.out" || fail "$name: $(cat "$work/$name.out")"
    if [ -z "$said" ]; then
        [ ! -s "$work/$name.err" ] || fail "$name: said $(cat "$work/$name.err")"
    else
        [ "$(wc -l <"$work/$name.err")" -eq 1 ] && grep -q "$said" "$work/$name.err" ||
            fail "$name: said '$(cat "$work/$name.err")', not one line with '$said'"
    fi
}

expect limit 3 step_limit "^dazirudo-batch: no stable sample after 5 steps" --max-steps 5 \
    "$examples/sphere.dat"
expect settled 0 stable "" "$examples/sphere.dat"
# The same model a thousand times smaller: sampled all the same.
printf '  0.03000  0.00000  0.00000  0.00000\n' >"$work/tiny.dat"
expect tiny 0 stable "" --mesh "$work/tiny.obj" "$work/tiny.dat"
# ... and its mesh is written in the model's units: every vertex 0.03 from the centre.
awk '/^v / { r = sqrt($2 * $2 + $3 * $3 + $4 * $4); if (r < 0.0299 || r > 0.0301) bad++; n++ }
    END { exit !(n > 100 && bad == 0) }' "$work/tiny.obj" || fail "tiny: mesh not in the model's units"

finish "batch outcome"
