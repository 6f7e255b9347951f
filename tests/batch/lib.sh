# shellcheck shell=bash
# What the scripts that drive the installed or built batch program share; sourced, not run:
#
#   . "$(dirname "$0")/lib.sh" TAG
#
# gives a fresh folder $work (removed at exit, named after TAG), `fail` to count a failed
# check, a few checks on runs and files, and `finish` for the closing line and status.
# The script sets `batch`, the program, before it calls batch_run.
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

# absolute PATH: PATH from the root, so that a run in another folder still finds it.
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

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

# one_line NAME: the run's standard error is exactly one line.
one_line() {
    [ "$(wc -l <"$work/$1.err")" -eq 1 ] || fail "$1: not one line: $(cat "$work/$1.err")"
}

# expect_file FILE TEXT: FILE holds exactly TEXT (plus the newline printf added).
expect_file() {
    [ "$(cat "$1" 2>/dev/null)" = "$2" ] || fail "$1 changed: $(head -c 200 "$1" 2>/dev/null)"
}

# expect_entries NAME DIR COUNT: DIR holds COUNT entries, nothing left beside them.
expect_entries() {
    [ "$(ls -A "$2" | wc -l)" -eq "$3" ] || fail "$1: left behind: $(ls -A "$2")"
}
