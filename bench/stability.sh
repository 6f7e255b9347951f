#!/usr/bin/env bash
# Steps and time from seeding to a stable sample, for every example model at densities
# 2.0 and 1.0, one seeded dazirudo-batch run each. Prints one table row per run.
#
#   bench/stability.sh [BATCH_PROGRAM] [SEED]
#
# BATCH_PROGRAM defaults to build/dazirudo-batch in the source tree, SEED to 1. "sim s"
# is the simulation's own wall-clock time as the program reports it; "CPU s" is the
# processor time of the whole run (reading, stepping, triangulating), which other
# processes on the machine disturb far less.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
batch=${1:-$root/build/dazirudo-batch}
seed=${2:-1}
if [ ! -x "$batch" ]; then
    echo "no batch program at $batch (build it, or name it as the first argument)" >&2
    exit 2
fi

# The value of a top-level number or boolean field of the one-line JSON summary.
field() {
    sed -n "s/.*\"$1\": \([^,}]*\).*/\1/p" <<<"$2"
}

summary_file=$(mktemp)
trap 'rm -f "$summary_file"' EXIT
TIMEFORMAT='%U %S'

printf '%-10s %7s %7s %9s %7s %8s %8s\n' model density steps floaters stable "sim s" "CPU s"
for model in sphere two-blobs chain ring figure; do
    for density in 2.0 1.0; do
        # The summary goes to the file; `time` reports user and system seconds on the
        # group's standard error. A run that hits the step limit still has its summary.
        times=$({ time "$batch" --seed "$seed" --density "$density" --quiet --no-files \
            "$root/examples/$model.dat" >"$summary_file"; } 2>&1) || true
        summary=$(cat "$summary_file")
        cpu=$(awk '{ printf "%.2f", $1 + $2 }' <<<"$times")
        printf '%-10s %7s %7s %9s %7s %8s %8s\n' "$model" "$density" \
            "$(field steps "$summary")" "$(field floaters "$summary")" \
            "$(field stable "$summary")" "$(field seconds_simulation "$summary")" "$cpu"
    done
done
