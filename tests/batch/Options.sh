#!/usr/bin/env bash
# The batch program's command line as its users write it: --help lists every option with
# its default and every exit status, --version gives the project's version, and
# --option=value means --option value.
#
#   tests/batch/Options.sh BATCH_PROGRAM EXAMPLES_DIR VERSION
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh" batch-options
batch=$1
examples=$2
version=$3

help=$("$batch" --help)
[ $? -eq 0 ] || fail "--help: status not 0"
# Each option's entry (its line and the one after) gives a default, but for the two that
# only print.
for option in --density --seed --max-steps --out-dir --no-files --mesh --quiet --help --version; do
    entry=$(grep -A1 -- "^  $option" <<<"$help")
    [ -n "$entry" ] || { fail "--help does not list $option"; continue; }
    case $option in
        --help | --version) ;;
        *) grep -q default <<<"$entry" || fail "--help gives no default for $option" ;;
    esac
done
for code in 0 1 2 3 4 5; do
    grep -qE "^  $code  [a-z]" <<<"$help" || fail "--help does not explain exit status $code"
done

said=$("$batch" --version)
[ "$said" = "dazirudo-batch $version" ] || fail "--version says '$said', not version $version"

# Both spellings give the same run (the times aside).
run() { "$batch" --no-files --quiet "$@" "$examples/sphere.dat" | sed 's/"seconds_[a-z]*": [0-9.]*//g'; }
spaced=$(run --seed 5 --density 1.5 --max-steps 30)
joined=$(run --seed=5 --density=1.5 --max-steps=30)
[ "$spaced" = "$joined" ] || fail "--option=value differs from --option value: $joined"
grep -q '"density": 1.5,' <<<"$joined" || fail "--density=1.5 was not taken: $joined"
grep -q '"steps": 30,' <<<"$joined" || fail "--max-steps=30 was not taken: $joined"
mkdir "$work/out"
"$batch" --seed=1 --max-steps=5 --quiet --out-dir="$work/out" --mesh="$work/out/m.obj" \
    "$examples/sphere.dat" >/dev/null 2>&1
[ -e "$work/out/blobs.dat" ] || fail "--out-dir=DIR was not taken"

# A switch given a value, and an unknown option written either way, are refused.
for args in "--quiet=yes" "--no-files=1" "--dense=2" "--dense"; do
    batch_run refused "$args" "$examples/sphere.dat"
    expect_status "$args" 2
    grep -q -- "${args%%=*}" "$work/refused.err" || fail "$args: said $(cat "$work/refused.err")"
done

finish "batch options"
