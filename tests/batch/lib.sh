# shellcheck shell=bash
# Sourced by the scripts that drive the batch program: `. "$(dirname "$0")/lib.sh" TAG`
# gives a fresh folder $work (removed at exit), `fail` to count a failed check, batch_run
# and expect_status for a run of `batch` (the script sets it), and `finish` to close.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/dazirudo-$1.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# finish WHAT: the closing line; the script's status says whether every check passed.
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "$1: all checks passed"
    exit 0
}

# batch_run NAME ARGS...: runs the batch program with ARGS; its standard output and error go
# to $work/NAME.out and $work/NAME.err, its exit status to `status`.
status=
batch_run() {
    local name=$1
    shift
    # shellcheck disable=SC2154  # the sourcing script sets batch
    "$batch" "$@" >"$work/$name.out" 2>"$work/$name.err"
    status=$?
}

# expect_status NAME WANTED: the last run ended with status WANTED.
expect_status() {
    [ "$status" -eq "$2" ] || fail "$1: status $status, not $2"
}
