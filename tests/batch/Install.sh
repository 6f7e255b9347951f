#!/usr/bin/env bash
# cmake --install puts both programs, the example models and the notes in a prefix, and the
# installed batch program runs from there.
#
#   tests/batch/Install.sh BUILD_DIR EXAMPLES_DIR
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh" install
build=$1
examples=$2
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "cmake --install: $(cat "$work/install.log")"
for program in dazirudo dazirudo-batch; do
    [ -x "$prefix/bin/$program" ] || fail "no bin/$program"
done
for model in "$examples"/*.dat; do
    cmp -s "$model" "$prefix/share/dazirudo/examples/$(basename "$model")" ||
        fail "example $(basename "$model") not installed"
done
[ -f "$prefix/share/doc/Dazirudo/batch.md" ] || fail "docs/batch.md not installed"
"$prefix/bin/dazirudo-batch" --seed 1 --quiet --no-files --max-steps 3 \
    "$prefix/share/dazirudo/examples/sphere.dat" >/dev/null
[ $? -eq 3 ] || fail "the installed dazirudo-batch did not run"

finish install
